// Controller parameters: the rules every query family shares.
#include "testutil.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

using namespace testutil;

namespace {

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
    // Parameter, controller, buffer length (-1: no buffer), integer output.
    const std::tuple<const char *, int, int, bool> asks[] = {
        {"HostName", 0, 4, true}, // cut, yet reported as fitting
        {"HostName", 0, -1, true},
        {"Spec_MaxChannelInUse", 0, -1, true}, // the highest port number over the drives
        {"Spec_MaxChannelInUse", 1, -1, true},
        {"Spec_MaxChannelInUse", 0, 8, false},
        {"ChipTemperature", 0, 64, true}, // skips texts and refuses zero
        {"ChipTemperature", 1, -1, true},
        {"ChipTemperature", 0, 8, false},
        {"RAIDCapabilities", 0, 64, true}, // not a plain parameter
        {"Word", 0, 0, false},             // even an empty buffer gets the preset
    };
    std::ostringstream o;
    // Under the held lock: it is recursive, so nested calls go through.
    pthread_mutex_lock(&RaidC_ThreadMutex);
    for (auto [param, ctrl, bufLen, withInt] : asks) {
        char buf[256];
        memset(buf, 'Z', sizeof buf);
        int64_t v = 5;
        int st = RaidC_getCtrlInfo(param, ctrl, bufLen < 0 ? nullptr : buf,
                                   bufLen < 0 ? 0 : static_cast<unsigned>(bufLen), withInt ? &v : nullptr);
        buf[bufLen > 0 ? static_cast<size_t>(bufLen) : sizeof buf - 1] =
            '\0'; // an empty buffer shows all that was written
        o << "RaidC_getCtrlInfo(\"" << param << "\", " << ctrl << ", " << bufLen << ", " << (withInt ? "&v" : "nullptr")
          << ") = " << st << " " << (bufLen < 0 ? "no buffer" : "'" + std::string(buf) + "'") << " " << v << "\n";
    }
    pthread_mutex_unlock(&RaidC_ThreadMutex);
    expectGolden("cache/golden/lookup.txt", o.str());
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
    std::string texts;
    for (int n : {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 17})
        texts += std::to_string(n) + " \"" + RaidC_AccessStatusToString(n) + "\"\n";
    expectGolden("cache/golden/status-texts.txt", texts);
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
