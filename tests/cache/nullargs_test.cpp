// Every pointer argument of the interface, null in turn: a result code (or no
// effect at all for the release and print functions), never a crash, and the
// other output as the family leaves it. Checked on a cache that was never
// refreshed and again on a loaded tree, since each family orders its pointer
// checks against its cache checks in its own way.
#include "testutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

using namespace testutil;

namespace {

char buf[16];
int64_t num;
string_t str;

// The outputs a call may touch, preset so that a change shows.
void preset()
{
    strcpy(buf, "keep");
    num = 42;
}

std::string outputs()
{
    return std::string(buf) + "/" + std::to_string(num);
}

// never/loaded: the result code before any refresh and on the example
// tree; after: the outputs after the call, alike in both.
struct Row {
    const char *call;
    int (*fn)();
    int never, loaded;
    const char *after;
};

#define R(call, never, loaded, after) \
    { \
#call, [] { return static_cast<int>(call); }, never, loaded, after \
    }

// 4 not found, 5 cache empty, 6 no output, 7 device not found. The
// raidInternal_ functions are the same checks behind their RaidC_ lock.
const Row kQueries[] = {
    R(RaidC_getCtrlInfo(nullptr, 0, buf, sizeof buf, &num), 5, 4, "-/-1"),
    R(RaidC_getCtrlInfo("Name", 0, nullptr, 0, nullptr), 6, 6, "keep/42"),
    R(RaidC_getCtrlInfo("Spec_MaxChannelInUse", 0, buf, sizeof buf, nullptr), 5, 6, "-/42"),
    R(RaidC_getCtrlInfo("ChipTemperature", 0, buf, sizeof buf, nullptr), 5, 6, "-/42"),
    R(RaidC_getPDInfo(nullptr, 0, 0, buf, sizeof buf, &num), 5, 4, "-/-1"),
    R(RaidC_getPDInfo("Name", 0, 0, nullptr, 0, nullptr), 6, 6, "keep/42"),
    R(RaidC_getPDInfo("RPM", 0, 0, nullptr, 0, &num), 5, 6, "keep/-1"),
    R(RaidC_getPDInfo_snmpExt(nullptr, 0, 0, 0, 0, buf, sizeof buf, &num), 5, 7, "-/-1"),
    R(RaidC_getPDInfo_snmpExt("Type", 0, 0, 0, 1, nullptr, 0, nullptr), 5, 7, "keep/42"),
    R(RaidC_getLDInfo(nullptr, 0, 0, buf, sizeof buf, &num), 5, 4, "-/-1"),
    R(RaidC_getLDInfo("Name", 0, 0, nullptr, 0, nullptr), 5, 4, "keep/42"),
    R(RaidC_getEncInfo(nullptr, 0, 0, buf, sizeof buf, &num), 5, 4, "-/-1"),
    R(RaidC_getEncInfo("Name", 0, 0, nullptr, 0, nullptr), 5, 4, "keep/42"),
    R(RaidC_getEncProcInfo(nullptr, 0, 0, 0, buf, sizeof buf, &num), 5, 4, "-/-1"),
    R(RaidC_getEncFanInfo("Name", 0, 0, 0, 0, nullptr, 0, nullptr), 5, 4, "keep/42"),
    R(RaidC_getEncPwrInfo(nullptr, 0, 0, 0, 0, buf, sizeof buf, &num), 5, 4, "-/-1"),
    R(RaidC_getEncTempInfo("Name", 0, 0, 0, 0, nullptr, 0, nullptr), 5, 4, "keep/42"),
    R(RaidC_getBBUInfo(nullptr, 0, buf, sizeof buf, &num), 5, 4, "-/-1"),
    R(RaidC_getBBUInfo("Name", 0, nullptr, 0, nullptr), 5, 4, "keep/42"),
    R(RaidC_getArrayInfo(nullptr, 0, 0, buf, sizeof buf, &num), 5, 4, "-/-1"),
    R(RaidC_getPortInfo("Name", 0, 0, nullptr, 0, nullptr), 5, 4, "keep/42"),
    R(RaidC_getStatusInfo(nullptr, buf, sizeof buf), 5, 4, "keep/42"),
    R(RaidC_getStatusInfo("Status", nullptr, 8), 5, 6, "keep/42"),
    R(RaidC_getCtrlInfo2(nullptr, 0, str, &num), 5, 4, "keep/-1"), // the text is "-", below
    R(RaidC_getCtrlInfo2("CtrlId", 0, nullptr, nullptr), 6, 6, "keep/42"),
    R(RaidC_getCtrlInfo2("RAIDCapabilities", 0, nullptr, &num), 5, 6, "keep/-1"),
    // A record loader given no record has nothing to fill and reports no field.
    R(RaidC_LoadCtrlInfo(0, nullptr), 0, 0, "keep/42"),
    R(RaidC_LoadPdlInfo(0, 0, nullptr), 0, 0, "keep/42"),
    R(RaidC_LoadLdInfo(0, 0, nullptr), 0, 0, "keep/42"),
    R(RaidC_LoadEncInfo(0, 0, nullptr), 0, 0, "keep/42"),
    R(RaidC_LoadBbuInfo(0, nullptr), 0, 0, "keep/42"),
    R(RaidC_getFailedPdsNumberForCtrl(0, nullptr, &num), 6, 6, "keep/42"),
    R(RaidC_getFailedPdsNumberForCtrl(0, &num, nullptr), 6, 6, "keep/42"),
    R(raidinternal_getProcNumberForEncl(0, 0, nullptr), 6, 6, "keep/42"),
    R(raidinternal_getTempNumberForProc(0, 0, 0, nullptr), 6, 6, "keep/42"),
    R(RaidC_get_ldLayout(0, 0, nullptr), 1, 1, "keep/42"),
    R(raidInternal_getDeviceStructure(nullptr), 1, 1, "keep/42"),
    R(raidInternal_dynAllocDeviceMapStructure(nullptr), 0, 0, "keep/42"),
    R(raidInternal_checkIfContainsLetters(nullptr), 1, 1, "keep/42"),
    R(initData_RaidCCmdSocket(nullptr, 0), RAIDC_SOCK_NULL, RAIDC_SOCK_NULL, "keep/42"),
    R(initTrapEventPipe(nullptr, 0), RAIDC_TRAP_NULL, RAIDC_TRAP_NULL, "keep/42"),
    R(initTrapData(nullptr), RAIDC_TRAP_NULL, RAIDC_TRAP_NULL, "keep/42"),
};

// Families whose only pointer is their output: the same code whatever the
// cache holds, and nothing written.
#define F(fn) std::pair<const char *, decltype(&fn)>(#fn, fn)

template <typename Fn, typename... Args>
void expectAll(std::initializer_list<std::pair<const char *, Fn>> fns, int want, Args... args)
{
    for (const auto &[name, fn] : fns) {
        preset();
        EXPECT_EQ(static_cast<int>(fn(args...)), want) << name;
        EXPECT_EQ(outputs(), "keep/42") << name;
    }
}

void checkEveryFamily(bool loaded)
{
    for (const Row &r : kQueries) {
        preset();
        EXPECT_EQ(r.fn(), loaded ? r.loaded : r.never) << r.call;
        EXPECT_EQ(outputs(), r.after) << r.call;
    }
    EXPECT_STREQ(str->ptr, "-");
    expectAll({F(RaidC_getCtrlsNumber), F(RaidC_getLdsTotalNumber), F(RaidC_getEncTotalNumber),
               F(RaidC_getPdsTotalNumber), F(RaidC_getNvmePdsTotalNumber)},
              RAIDC_INPUT_NOT_INITIALIZED, nullptr);
    expectAll({F(RaidC_getLdsNumberForCtrl), F(RaidC_getEncNumberForCtrl), F(RaidC_getPdsNumberForCtrl),
               F(RaidC_getArraysNumberForCtrl), F(RaidC_getPortsNumberForCtrl), F(RaidC_getCtrlNvmePdsTotalNumber),
               F(RaidC_getEncryptedPdsNumberForCtrl), F(RaidC_getDegradedLdsNumberForCtrl),
               F(RaidC_getCtrlMaxTemperature), F(RaidC_getPdMaxTemperature), F(RaidC_getHDDMaxTemperature),
               F(RaidC_getSSDMaxTemperature), F(RaidC_getNVMeMaxTemperature), F(RaidC_getBBUMaxTemperature),
               F(RaidC_getProcMaxTemperature), F(RaidC_getHighestPdNumForCtrl)},
              RAIDC_INPUT_NOT_INITIALIZED, 0, nullptr);
    // The relation map's lists and conversions answer 1, as for any bad input.
    expectAll({F(RaidC_get_LdIdxList_from_PdIdx), F(RaidC_get_PdIdxList_from_LdIdx),
               F(RaidC_get_PdIdxList_from_ArrayIdx), F(RaidC_get_LdIdxList_from_ArrayIdx)},
              1, 0, 0, nullptr);
    expectAll({F(RaidC_convert_PdId_2_PdIdx), F(RaidC_convert_LdId_2_LdIdx), F(RaidC_convert_ArrayId_2_ArrayIdx),
               F(RaidC_convert_PdIdx_2_PdId), F(RaidC_convert_LdIdx_2_LdId), F(RaidC_convert_ArrayIdx_2_ArrayId)},
              1, 0, 0, nullptr);
    // The MIB mappers: 1 for no text or no place for the value, which stays.
    for (const auto &[name, fn] :
         {F(mibMapper_getCtrlStatus), F(mibMapper_getCtrlInterface), F(mibMapper_getLdWriteMode),
          F(mibMapper_getLdReadMode), F(mibMapper_getLdCacheMode), F(mibMapper_getLdDiskCacheMode),
          F(mibMapper_getLdInitStatus), F(mibMapper_getLdStatus), F(mibMapper_getLdStatusEx),
          F(mibMapper_getLdRaidLevelNum), F(mibMapper_getPdPowerStatus), F(mibMapper_getPdStatus),
          F(mibMapper_getPdStatusEx), F(mibMapper_getPdInterface), F(mibMapper_getPdDeviceType),
          F(mibMapper_getPdForeignConfig), F(mibMapper_getSvrStatus)}) {
        int32_t v = 42;
        EXPECT_EQ(fn(nullptr, &v), 1) << name;
        EXPECT_EQ(fn("OK", nullptr), 1) << name;
        EXPECT_EQ(v, 42) << name;
    }
    int32_t v = 42;
    char stripe[] = "64 KB";
    EXPECT_EQ(mibMapper_getLdStripeSize(nullptr, &v), 1);
    EXPECT_EQ(mibMapper_getLdStripeSize(stripe, nullptr), 1);
    EXPECT_EQ(v, 42);
    expectAll({F(create_RaidCCmdSocket), F(bind_RaidCCmdSocket), F(listen_RaidCCmdSocket), F(accept_RaidCCmdSocket),
               F(connect_RaidCCmdSocket), F(receiveData_RaidCCmdSocket), F(sendData_RaidCCmdSocket),
               F(close_RaidCCmdSocket), F(raidc_SendReceiveCmd)},
              RAIDC_SOCK_NULL, nullptr);
    expectAll({F(RaidC_GetLogicalDriveLocate), F(RaidC_GetPhysicalDriveLocate)}, RAIDC_SOCK_NULL, 0, 0, nullptr);
    expectAll({F(RaidC_FreeTrapEventData), F(createTrapEventPipe), F(openTrapEventPipe), F(closeTrapEventPipe),
               F(receiveTrapEvent), F(transmitTrapEvent), F(RaidC_GetTrapEventData)},
              RAIDC_TRAP_NULL, nullptr);
}

} // namespace

TEST(NullArguments, EveryFamilyBeforeAndAfterARefresh)
{
    onNeverRefreshedCache([] { checkEveryFamily(false); });
    loadTree(readFile(examplePath("one-controller.xml")));
    checkEveryFamily(true);
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
