// Every pointer argument of the interface, null in turn: a result code (or no
// effect at all for the release and print functions), never a crash, and the
// other output as the family leaves it. Checked on a cache that was never
// refreshed and again on a loaded tree, since each family orders its pointer
// checks against its cache checks in its own way.
#include "testutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

using namespace testutil;

namespace {

char buf[16];
int64_t num;
string_t str;
std::ostringstream transcript;

// One call, its outputs preset so that a change shows: its result code and
// the outputs after it.
template <typename Fn> void row(const char *call, Fn fn)
{
    strcpy(buf, "keep");
    num = 42;
    const int r = static_cast<int>(fn());
    transcript << call << " = " << r << " " << buf << "/" << num << "\n";
}
#define ROW(call) row(#call, [] { return call; })

// Families whose only pointer is their output.
#define F(fn) std::pair<const char *, decltype(&fn)>(#fn, fn)

template <typename Fn, typename... Args> void each(std::initializer_list<std::pair<const char *, Fn>> fns, Args... args)
{
    for (const auto &[name, fn] : fns)
        row(name, [&] { return fn(args...); });
}

// 4 not found, 5 cache empty, 6 no output, 7 device not found. The
// raidInternal_ functions are the same checks behind their RaidC_ lock.
std::string everyFamily()
{
    transcript.str("");
    ROW(RaidC_getCtrlInfo(nullptr, 0, buf, sizeof buf, &num));
    ROW(RaidC_getCtrlInfo("Name", 0, nullptr, 0, nullptr));
    ROW(RaidC_getPDInfo(nullptr, 0, 0, buf, sizeof buf, &num));
    ROW(RaidC_getPDInfo("Name", 0, 0, nullptr, 0, nullptr));
    ROW(RaidC_getPDInfo("RPM", 0, 0, nullptr, 0, &num));
    ROW(RaidC_getPDInfo_snmpExt(nullptr, 0, 0, 0, 0, buf, sizeof buf, &num));
    ROW(RaidC_getPDInfo_snmpExt("Type", 0, 0, 0, 1, nullptr, 0, nullptr));
    ROW(RaidC_getLDInfo(nullptr, 0, 0, buf, sizeof buf, &num));
    ROW(RaidC_getLDInfo("Name", 0, 0, nullptr, 0, nullptr));
    ROW(RaidC_getEncInfo(nullptr, 0, 0, buf, sizeof buf, &num));
    ROW(RaidC_getEncInfo("Name", 0, 0, nullptr, 0, nullptr));
    ROW(RaidC_getEncProcInfo(nullptr, 0, 0, 0, buf, sizeof buf, &num));
    ROW(RaidC_getEncFanInfo("Name", 0, 0, 0, 0, nullptr, 0, nullptr));
    ROW(RaidC_getEncPwrInfo(nullptr, 0, 0, 0, 0, buf, sizeof buf, &num));
    ROW(RaidC_getEncTempInfo("Name", 0, 0, 0, 0, nullptr, 0, nullptr));
    ROW(RaidC_getBBUInfo(nullptr, 0, buf, sizeof buf, &num));
    ROW(RaidC_getBBUInfo("Name", 0, nullptr, 0, nullptr));
    ROW(RaidC_getArrayInfo(nullptr, 0, 0, buf, sizeof buf, &num));
    ROW(RaidC_getPortInfo("Name", 0, 0, nullptr, 0, nullptr));
    ROW(RaidC_getStatusInfo(nullptr, buf, sizeof buf));
    ROW(RaidC_getStatusInfo("Status", nullptr, 8));
    ROW(RaidC_getCtrlInfo2(nullptr, 0, str, &num));
    transcript << "text: " << str->ptr << "\n";
    ROW(RaidC_getCtrlInfo2("CtrlId", 0, nullptr, nullptr));
    ROW(RaidC_getCtrlInfo2("RAIDCapabilities", 0, nullptr, &num));
    // A record loader given no record has nothing to fill and reports no field.
    ROW(RaidC_LoadCtrlInfo(0, nullptr));
    ROW(RaidC_LoadPdlInfo(0, 0, nullptr));
    ROW(RaidC_LoadLdInfo(0, 0, nullptr));
    ROW(RaidC_LoadEncInfo(0, 0, nullptr));
    ROW(RaidC_LoadBbuInfo(0, nullptr));
    ROW(RaidC_getFailedPdsNumberForCtrl(0, nullptr, &num));
    ROW(RaidC_getFailedPdsNumberForCtrl(0, &num, nullptr));
    ROW(raidinternal_getProcNumberForEncl(0, 0, nullptr));
    ROW(raidinternal_getTempNumberForProc(0, 0, 0, nullptr));
    ROW(RaidC_get_ldLayout(0, 0, nullptr));
    ROW(raidInternal_getDeviceStructure(nullptr));
    ROW(raidInternal_dynAllocDeviceMapStructure(nullptr));
    ROW(raidInternal_checkIfContainsLetters(nullptr));
    ROW(initData_RaidCCmdSocket(nullptr, 0));
    ROW(initTrapEventPipe(nullptr, 0));
    ROW(initTrapData(nullptr));
    each({F(RaidC_getCtrlsNumber), F(RaidC_getLdsTotalNumber), F(RaidC_getEncTotalNumber), F(RaidC_getPdsTotalNumber),
          F(RaidC_getNvmePdsTotalNumber)},
         nullptr);
    each({F(RaidC_getLdsNumberForCtrl), F(RaidC_getEncNumberForCtrl), F(RaidC_getPdsNumberForCtrl),
          F(RaidC_getArraysNumberForCtrl), F(RaidC_getPortsNumberForCtrl), F(RaidC_getCtrlNvmePdsTotalNumber),
          F(RaidC_getEncryptedPdsNumberForCtrl), F(RaidC_getDegradedLdsNumberForCtrl), F(RaidC_getCtrlMaxTemperature),
          F(RaidC_getPdMaxTemperature), F(RaidC_getHDDMaxTemperature), F(RaidC_getSSDMaxTemperature),
          F(RaidC_getNVMeMaxTemperature), F(RaidC_getBBUMaxTemperature), F(RaidC_getProcMaxTemperature),
          F(RaidC_getHighestPdNumForCtrl)},
         0, nullptr);
    // The relation map's lists and conversions answer 1, as for any bad input.
    each({F(RaidC_get_LdIdxList_from_PdIdx), F(RaidC_get_PdIdxList_from_LdIdx), F(RaidC_get_PdIdxList_from_ArrayIdx),
          F(RaidC_get_LdIdxList_from_ArrayIdx)},
         0, 0, nullptr);
    each({F(RaidC_convert_PdId_2_PdIdx), F(RaidC_convert_LdId_2_LdIdx), F(RaidC_convert_ArrayId_2_ArrayIdx),
          F(RaidC_convert_PdIdx_2_PdId), F(RaidC_convert_LdIdx_2_LdId), F(RaidC_convert_ArrayIdx_2_ArrayId)},
         0, 0, nullptr);
    // The MIB mappers: 1 for no text or no place for the value, which stays.
    for (const auto &[name, fn] :
         {F(mibMapper_getCtrlStatus), F(mibMapper_getCtrlInterface), F(mibMapper_getLdWriteMode),
          F(mibMapper_getLdReadMode), F(mibMapper_getLdCacheMode), F(mibMapper_getLdDiskCacheMode),
          F(mibMapper_getLdInitStatus), F(mibMapper_getLdStatus), F(mibMapper_getLdStatusEx),
          F(mibMapper_getLdRaidLevelNum), F(mibMapper_getPdPowerStatus), F(mibMapper_getPdStatus),
          F(mibMapper_getPdStatusEx), F(mibMapper_getPdInterface), F(mibMapper_getPdDeviceType),
          F(mibMapper_getPdForeignConfig), F(mibMapper_getSvrStatus)}) {
        int32_t v = 42;
        transcript << name << "(nullptr, &v) = " << fn(nullptr, &v) << " " << v
                   << "; (\"OK\", nullptr) = " << fn("OK", nullptr) << "\n";
    }
    int32_t v = 42;
    char stripe[] = "64 KB";
    transcript << "mibMapper_getLdStripeSize(nullptr, &v) = " << mibMapper_getLdStripeSize(nullptr, &v) << " " << v
               << "; (\"64 KB\", nullptr) = " << mibMapper_getLdStripeSize(stripe, nullptr) << "\n";
    each({F(create_RaidCCmdSocket), F(bind_RaidCCmdSocket), F(listen_RaidCCmdSocket), F(accept_RaidCCmdSocket),
          F(connect_RaidCCmdSocket), F(receiveData_RaidCCmdSocket), F(sendData_RaidCCmdSocket), F(close_RaidCCmdSocket),
          F(raidc_SendReceiveCmd)},
         nullptr);
    each({F(RaidC_GetLogicalDriveLocate), F(RaidC_GetPhysicalDriveLocate)}, 0, 0, nullptr);
    each({F(RaidC_FreeTrapEventData), F(createTrapEventPipe), F(openTrapEventPipe), F(closeTrapEventPipe),
          F(receiveTrapEvent), F(transmitTrapEvent), F(RaidC_GetTrapEventData)},
         nullptr);
    return transcript.str();
}

} // namespace

TEST(NullArguments, EveryFamilyBeforeAndAfterARefresh)
{
    onNeverRefreshedCache([] { expectGolden("cache/golden/null-never-refreshed.txt", everyFamily()); });
    loadTree(readFile(examplePath("one-controller.xml")));
    expectGolden("cache/golden/null-loaded.txt", everyFamily());
}

TEST(NullArguments, ReleasesListsAndPrintsAcceptNullAndDoNothing)
{
    loadTree(readFile(examplePath("one-controller.xml")));
    // The list builders give an empty list of their own for no controller list.
    EXPECT_EQ(raidInternal_getCtrlList(nullptr), nullptr);
    for (NodeList *l :
         {raidInternal_getPdList(nullptr, 0), raidInternal_getLdList(nullptr, 0), raidInternal_getEncList(nullptr, 0),
          raidInternal_getArrayList(nullptr, 0), raidInternal_getPortList(nullptr, 0),
          raidInternal_getProcessorList(nullptr, 0), raidInternal_getBatteryList(nullptr, 0)}) {
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(l->count, 0);
        free(l);
    }
    RaidCIdxList *none = nullptr;
    const std::string out = captureStdout([&] {
        RaidC_freeDeviceList(&none);
        RaidC_freeEncInfoStructure(nullptr);
        raidInternal_freeDeviceMapStructure(nullptr);
        raidInternal_printDeviceStructure(nullptr);
        Print_xmlNode(nullptr, "x", 1);
        Print_NSDecl(nullptr, "x", 1);
        Print_xmlDoc(nullptr);
        Print_xmlNodeList(nullptr, "x", 1);
    });
    EXPECT_EQ(out, "");
    EXPECT_EQ(none, nullptr);
    int64_t n = 0;
    EXPECT_EQ(RaidC_getCtrlsNumber(&n), RAIDC_SUCCESS_INT); // the cache is still whole
    EXPECT_EQ(n, 1);
}
