// The library as a whole: what the shared object exports, the controller
// query's own names, the letter test, status texts and the print functions.
#include "testutil.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
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

TEST(Dump, NodesNamespacesListsAndDocument)
{
    loadTree("<R><System><Adapter Nr=\"0\"><CtrlId>3</CtrlId></Adapter></System></R>");
    XMLNode *ctrl = ctrlList->nodes[0];
    NSDecl second = {const_cast<char *>("q"), const_cast<char *>("urn:q"), nullptr, nullptr};
    NSDecl first = {nullptr, const_cast<char *>("urn:default"), nullptr, &second};
    std::string out = captureStdout([&] {
        Print_xmlNode(ctrl, "#", 0);
        Print_xmlNode(ctrl, "#", 1); // recursion indents attributes and descendants, a dot a level
        Print_NSDecl(&first, "*", 1);
        Print_NSDecl(&first, "*", 0);
    });
    loadTree(wrapSystem({"<A/>", "<B/>"}));
    XMLDoc doc = {rootNode, nullptr}; // without declarations: only the tree
    out += captureStdout([&] {
        Print_xmlNodeList(ctrlList, "-", 0);
        Print_xmlDoc(&doc);
    });
    expectGolden("cache/golden/dump.txt", out);
}

// Every function and object the public header declares for export.
std::set<std::string> declaredInHeader()
{
    std::istringstream header(readFile(RAIDC_SOURCE_DIR "/include/raidcommon.h"));
    const std::regex declared(R"(^(extern\s+)?RAIDC_API\s+[^;(]*?\b(\w+)\s*[(;])");
    std::set<std::string> names;
    std::smatch m;
    for (std::string line; std::getline(header, line);)
        if (std::regex_search(line, m, declared))
            names.insert(m[2]);
    return names;
}

TEST(Exports, ExactlyTheInterface)
{
    std::string out;
    ASSERT_EQ(runCommand(std::string("nm -D --defined-only ") + RAIDC_LIBRARY_FILE, &out), 0);
    std::set<std::string> got;
    std::istringstream lines(out);
    std::string addr, type, name;
    while (lines >> addr >> type >> name) {
        // Sanitizer and coverage runtimes and the fault-injection controls of test builds come along.
        if (name.rfind("__", 0) == 0 || name.rfind("raidc_fault_", 0) == 0 || name == "mangle_path" || type == "w" ||
            type == "V")
            continue;
        got.insert(name);
    }
    const std::set<std::string> want = declaredInHeader();
    ASSERT_GT(want.size(), 150u) << "the header's declarations were not found";
    for (const auto &n : want)
        EXPECT_TRUE(got.count(n)) << "not exported: " << n;
    for (const auto &n : got)
        EXPECT_TRUE(want.count(n)) << "exported but not part of the interface: " << n;
}

TEST(Exports, SonameHeaderAndLibraryVersionsAgree)
{
    std::string out;
    ASSERT_EQ(runCommand(std::string("objdump -p ") + RAIDC_LIBRARY_FILE, &out), 0);
    EXPECT_NE(out.find("SONAME               libzep_RaidCommon.so.1\n"), std::string::npos);
    char want[32];
    snprintf(want, sizeof want, "%d.%d.%d", RAIDC_VERSION_MAJOR, RAIDC_VERSION_MINOR, RAIDC_VERSION_PATCH);
    EXPECT_STREQ(RAIDC_VERSION_STRING, want);
    EXPECT_STREQ(RaidC_GetVersion(), RAIDC_VERSION_STRING);
    EXPECT_EQ(RAIDC_VERSION_MAJOR, 1); // the soname's major
}

} // namespace
