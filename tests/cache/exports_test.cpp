// The shared object exports exactly the library's interface.
#include "testutil.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

using namespace testutil;

namespace {

const char *const kExpected[] = {
    // frame
    "libraidcommon_init", "libraidcommon_fini", "RaidC_AccessStatusToString", "RaidCPrint", "RaidCPrintError",
    "RaidPrint", "RaidPrintError", "RaidC_forTest", "RaidC_GetVersion",
    // document dump
    "Print_NSDecl", "Print_xmlNode", "Print_xmlDoc", "Print_xmlNodeList",
    // cache
    "RaidC_updateCache", "raidc_Internal_UpdateCache", "raidInternal_getCtrlList", "raidInternal_getPdList",
    "raidInternal_getLdList", "raidInternal_getEncList", "raidInternal_getArrayList", "raidInternal_getPortList",
    "raidInternal_getProcessorList", "raidInternal_getBatteryList",
    // controller parameters
    "RaidC_getCtrlInfo", "raidInternal_getCtrlInfo", "raidInternal_checkIfContainsLetters",
    // relation map and queries
    "raidInternal_dynAllocDeviceMapStructure", "raidInternal_getDeviceStructure", "raidInternal_freeDeviceMapStructure",
    "RaidC_get_LdIdxList_from_PdIdx", "RaidC_get_PdIdxList_from_LdIdx", "RaidC_get_PdIdxList_from_ArrayIdx",
    "RaidC_get_LdIdxList_from_ArrayIdx", "raidInternal_get_LdIdxList_from_PdIdx", "raidInternal_get_PdIdxList_from_LdIdx",
    "raidInternal_get_PdIdxList_from_ArrayIdx", "raidInternal_get_LdIdxList_from_ArrayIdx", "RaidC_freeDeviceList",
    "RaidC_get_ldLayout", "RaidC_convert_PdId_2_PdIdx", "RaidC_convert_LdId_2_LdIdx", "RaidC_convert_ArrayId_2_ArrayIdx",
    "RaidC_convert_PdIdx_2_PdId", "RaidC_convert_LdIdx_2_LdId", "RaidC_convert_ArrayIdx_2_ArrayId",
    "raidInternal_printDeviceStructure",
    // drives
    "RaidC_getLDInfo", "raidInternal_getLDInfo", "RaidC_getPDInfo", "raidInternal_getPDInfo", "RaidC_getPDInfo_snmpExt",
    "RaidC_getHighestPdNumForCtrl",
    // enclosures
    "RaidC_getEncInfo", "raidInternal_getEncInfo", "RaidC_getEncProcInfo", "raidInternal_getEncProcInfo",
    "RaidC_getEncFanInfo", "raidInternal_getEncFanInfo", "RaidC_getEncPwrInfo", "raidInternal_getEncPwrInfo",
    "RaidC_getEncTempInfo", "raidInternal_getEncTempInfo",
    // battery, array, port, status
    "RaidC_getBBUInfo", "raidInternal_getBBUInfo", "RaidC_getArrayInfo", "raidInternal_getArrayInfo",
    "RaidC_getPortInfo", "raidInternal_getPortInfo", "RaidC_getStatusInfo",
    // counts
    "RaidC_getCtrlsNumber", "RaidC_getLdsTotalNumber", "RaidC_getLdsNumberForCtrl", "RaidC_getEncTotalNumber",
    "RaidC_getEncNumberForCtrl", "raidinternal_getEnclNumberForCtrl", "RaidC_getPdsTotalNumber",
    "RaidC_getPdsNumberForCtrl", "raidInternal_getPdsNumberForCtrl", "RaidC_getArraysNumberForCtrl",
    "raidInternal_getArraysNumberForCtrl", "RaidC_getPortsNumberForCtrl", "raidInternal_getPortsNumberForCtrl",
    "raidinternal_getProcNumberForEncl", "raidinternal_getTempNumberForProc", "RaidC_getNvmePdsTotalNumber",
    "RaidC_getCtrlNvmePdsTotalNumber", "RaidC_getEncryptedPdsNumberForCtrl", "raidInternal_getEncryptedPdsNumberForCtrl",
    "RaidC_getFailedPdsNumberForCtrl", "raidInternal_getFailedPdsNumberForCtrl", "RaidC_getDegradedLdsNumberForCtrl",
    "raidInternal_getDegradedLdsNumberForCtrl", "RaidC_CtrlHasBBU", "RaidC_CtrlCanBeConfigured", "RaidC_getCacheStatus",
    // maximum temperatures
    "RaidC_getCtrlMaxTemperature", "RaidC_getPdMaxTemperature", "RaidC_getHDDMaxTemperature",
    "RaidC_getSSDMaxTemperature", "RaidC_getNVMeMaxTemperature", "RaidC_getBBUMaxTemperature",
    "RaidC_getProcMaxTemperature",
    // enclosure structure and records
    "RaidC_getEncInfoStructure", "RaidC_freeEncInfoStructure", "RaidC_LoadCtrlInfo", "RaidC_LoadPdlInfo",
    "RaidC_LoadLdInfo", "RaidC_LoadEncInfo", "RaidC_LoadBbuInfo",
    // capabilities
    "RaidC_getCtrlInfo2", "raidInternal_getCtrlInfo2",
    // MIB mappers
    "mibMapper_getCtrlStatus", "mibMapper_getCtrlInterface", "mibMapper_getLdWriteMode", "mibMapper_getLdReadMode",
    "mibMapper_getLdCacheMode", "mibMapper_getLdDiskCacheMode", "mibMapper_getLdInitStatus", "mibMapper_getLdStatus",
    "mibMapper_getLdStatusEx", "mibMapper_getLdRaidLevelNum", "mibMapper_getLdStripeSize",
    "mibMapper_getPdPowerStatus", "mibMapper_getPdStatus", "mibMapper_getPdStatusEx", "mibMapper_getPdInterface",
    "mibMapper_getPdDeviceType", "mibMapper_getPdForeignConfig", "mibMapper_getSvrStatus",
    // command socket and locate
    "initData_RaidCCmdSocket", "create_RaidCCmdSocket", "bind_RaidCCmdSocket", "listen_RaidCCmdSocket",
    "accept_RaidCCmdSocket", "connect_RaidCCmdSocket", "receiveData_RaidCCmdSocket", "sendData_RaidCCmdSocket",
    "close_RaidCCmdSocket", "raidc_SendReceiveCmd", "RaidC_GetLogicalDriveLocate", "RaidC_SetLogicalDriveLocate",
    "RaidC_GetPhysicalDriveLocate", "RaidC_SetPhysicalDriveLocate",
    // trap events
    "initTrapData", "RaidC_FreeTrapEventData", "initTrapEventPipe", "createTrapEventPipe", "openTrapEventPipe",
    "closeTrapEventPipe", "receiveTrapEvent", "transmitTrapEvent", "RaidC_GetTrapEventData",
    // data objects
    "RaidC_ThreadMutex", "RaidC_ConsumerCmd_Mutex", "Raid_ConsumerTrap_Mutex", "rootNode", "nodeList", "systemNode",
    "ctrlList", "pdCtrlList", "ldCtrlList", "encCtrlList", "arrayCtrlList", "portCtrlList", "ctrlDevStructure",
};

TEST(Exports, ExactlyTheInterface)
{
    std::string out;
    ASSERT_EQ(runCommand(std::string("nm -D --defined-only ") + RAIDC_LIBRARY_FILE, &out), 0);
    std::set<std::string> got;
    std::istringstream lines(out);
    std::string addr, type, name;
    while (lines >> addr >> type >> name) {
        // Sanitizer runtimes and the fault-injection controls of test builds come along.
        if (name.rfind("__", 0) == 0 || name.rfind("raidc_fault_", 0) == 0 || type == "w" || type == "V")
            continue;
        got.insert(name);
    }
    std::set<std::string> want(std::begin(kExpected), std::end(kExpected));
    for (const auto &n : want)
        EXPECT_TRUE(got.count(n)) << "not exported: " << n;
    for (const auto &n : got)
        EXPECT_TRUE(want.count(n)) << "exported but not part of the interface: " << n;
}

TEST(Exports, SonameIsVersionOne)
{
    std::string out;
    ASSERT_EQ(runCommand(std::string("objdump -p ") + RAIDC_LIBRARY_FILE, &out), 0);
    EXPECT_NE(out.find("SONAME               libzep_RaidCommon.so.1\n"), std::string::npos);
}

TEST(Exports, VersionOfHeaderAndLibraryAgree)
{
    char want[32];
    snprintf(want, sizeof want, "%d.%d.%d", RAIDC_VERSION_MAJOR, RAIDC_VERSION_MINOR, RAIDC_VERSION_PATCH);
    EXPECT_STREQ(RAIDC_VERSION_STRING, want);
    EXPECT_STREQ(RaidC_GetVersion(), RAIDC_VERSION_STRING);
    EXPECT_EQ(RAIDC_VERSION_MAJOR, 1); // the soname's major
}

} // namespace
