// Controller parameters: the rules every query family shares.
#include "testutil.h"

#include <gtest/gtest.h>

using namespace testutil;

namespace {

// One question: no buffer when bufLen is -1, no integer output unless withInt.
struct Ask {
    const char *param;
    int ctrl, bufLen;
    bool withInt;
    int status;
    const char *text; // what the buffer holds, cut at bufLen
    int64_t value;    // 5: untouched
};

// The names the controller query answers in its own way; the shared lookup
// rules are checked for every family in tests/query/component_test.cpp.
TEST(Lookup, SpecialNamesUnderTheHeldLock)
{
    loadTree(wrapSystem({"<Word>abcdefghij</Word><ChipTemperature>N/A</ChipTemperature>"
                         "<ChipTemperature>61</ChipTemperature>"
                         "<PhysicalDrive Nr='0'><PortNumber>3</PortNumber></PhysicalDrive>"
                         "<Port><PhysicalDrive Nr='1'><PortNumber>11</PortNumber><PortNumber/></PhysicalDrive>"
                         "<PhysicalDrive Nr='2'><PortNumber>5</PortNumber></PhysicalDrive></Port>"
                         "<RAIDCapabilities><C Type='RAID-0'/></RAIDCapabilities>",
                         "<ChipTemperature>0</ChipTemperature>"}));
    const Ask asks[] = {
        {"HostName", 0, 4, true, RAIDC_SUCCESS_STRING, "test", -1}, // cut, yet reported as fitting
        {"HostName", 0, -1, true, RAIDC_INPUT_NOT_INITIALIZED, "", -1},
        // The highest port number over the drives.
        {"Spec_MaxChannelInUse", 0, -1, true, RAIDC_SUCCESS_INT, "", 11},
        {"Spec_MaxChannelInUse", 1, -1, true, RAIDC_PARAM_NOT_FOUND, "", -1},
        {"Spec_MaxChannelInUse", 0, 8, false, RAIDC_INPUT_NOT_INITIALIZED, "-", 5},
        // The chip temperature skips texts and refuses zero.
        {"ChipTemperature", 0, 64, true, RAIDC_SUCCESS_INT, "-", 61},
        {"ChipTemperature", 1, -1, true, RAIDC_PARAM_NOT_FOUND, "", 0},
        {"ChipTemperature", 0, 8, false, RAIDC_INPUT_NOT_INITIALIZED, "-", 5},
        {"RAIDCapabilities", 0, 64, true, RAIDC_PARAM_NOT_FOUND, "-", -1}, // not a plain parameter
    };
    // Under the held lock: it is recursive, so nested calls go through.
    pthread_mutex_lock(&RaidC_ThreadMutex);
    for (const Ask &a : asks) {
        char buf[256];
        memset(buf, 'Z', sizeof buf);
        int64_t v = 5;
        int st = RaidC_getCtrlInfo(a.param, a.ctrl, a.bufLen < 0 ? nullptr : buf,
                                   a.bufLen < 0 ? 0 : static_cast<unsigned>(a.bufLen), a.withInt ? &v : nullptr);
        buf[a.bufLen < 0 ? 0 : a.bufLen] = '\0';
        EXPECT_EQ(st, a.status) << a.param << " ctrl " << a.ctrl << " bufLen " << a.bufLen;
        EXPECT_STREQ(buf, a.text) << a.param << " ctrl " << a.ctrl << " bufLen " << a.bufLen;
        EXPECT_EQ(v, a.value) << a.param << " ctrl " << a.ctrl << " bufLen " << a.bufLen;
    }
    pthread_mutex_unlock(&RaidC_ThreadMutex);
    // Even an empty buffer gets the preset.
    char buf[4] = "xyz";
    EXPECT_EQ(RaidC_getCtrlInfo("Word", 0, buf, 0, nullptr), RAIDC_BUFFER_TOO_SMALL);
    EXPECT_STREQ(buf, "-");
}

TEST(LetterTest, FirstCharacterIsNotExamined)
{
    const std::pair<const char *, int> cases[] = {{"-12", 0}, {"a12", 0},  {"x", 0},    {"", 0},
                                                  {"3.5", 1}, {"12-1", 1}, {"0x1F", 1}, {"42", 0}};
    for (auto [text, want] : cases)
        EXPECT_EQ(raidInternal_checkIfContainsLetters(text), want) << text;
}

TEST(StatusText, EveryCodeAndTheUnknownOnes)
{
    EXPECT_STREQ(RaidC_AccessStatusToString(1), "Success with integer value");
    EXPECT_STREQ(RaidC_AccessStatusToString(3), "Buffer is filled, but not big enough");
    EXPECT_STREQ(RaidC_AccessStatusToString(8), "Device is available but extern connected");
    EXPECT_STREQ(RaidC_AccessStatusToString(10), "No more memory ");
    for (int n : {0, 11, -1, 17})
        EXPECT_STREQ(RaidC_AccessStatusToString(n), "status unknown");
}

TEST(PrintHooks, OnlyTheTrapHookWrites)
{
    std::string out = captureStdout([] {
        RaidCPrint("a%d", 1);
        RaidCPrintError("b%d", 2);
        RaidPrint("c%d", 3);
        EXPECT_EQ(RaidPrintError("d%d-%s", 4, "x"), 4);
    });
    EXPECT_EQ(out, "d4-x");
}

} // namespace
