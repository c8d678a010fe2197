// The library as a whole: what the shared object exports, every pointer
// argument null in turn, the controller query's own names, the letter test,
// status texts and the print functions.
#include "testutil.h"

#include <cstdlib>
#include <cstring>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>

using namespace testutil;

namespace {

// The names the controller query answers in its own way; the shared lookup
// rules are checked for every family in tests/query/query_test.cpp.
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
        char text[256];
        memset(text, 'Z', sizeof text);
        int64_t v = 5;
        int st = RaidC_getCtrlInfo(param, ctrl, bufLen < 0 ? nullptr : text,
                                   bufLen < 0 ? 0 : static_cast<unsigned>(bufLen), withInt ? &v : nullptr);
        text[bufLen > 0 ? static_cast<size_t>(bufLen) : sizeof text - 1] =
            '\0'; // an empty buffer shows all that was written
        o << "RaidC_getCtrlInfo(\"" << param << "\", " << ctrl << ", " << bufLen << ", " << (withInt ? "&v" : "nullptr")
          << ") = " << st << " " << (bufLen < 0 ? "no buffer" : "'" + std::string(text) + "'") << " " << v << "\n";
    }
    pthread_mutex_unlock(&RaidC_ThreadMutex);
    expectGolden("cache/golden/lookup.txt", o.str());
}

TEST(LetterTest, FirstCharacterIsNotExamined)
{
    const std::pair<const char *, int> cases[] = {{"a12", 0}, {"x", 0}, {"", 0}, {"12-1", 1}};
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

TEST(Exports, ExactlyTheInterface)
{
    std::string out;
    ASSERT_EQ(runCommand(std::string("nm -D --defined-only ") + RAIDC_LIBRARY_FILE, &out), 0);
    std::set<std::string> got, declared;
    std::istringstream lines(out);
    std::string addr, type, name;
    // Sanitizer and coverage runtimes and the fault-injection controls of test builds come along.
    while (lines >> addr >> type >> name)
        if (name.rfind("__", 0) != 0 && name.rfind("raidc_fault_", 0) != 0 && name != "mangle_path" && type != "w" &&
            type != "V")
            got.insert(name);
    // Every function and object the public header declares for export.
    std::istringstream header(readFile(RAIDC_SOURCE_DIR "/include/raidcommon.h"));
    const std::regex exported(R"(^(extern\s+)?RAIDC_API\s+[^;(]*?\b(\w+)\s*[(;])");
    std::smatch m;
    for (std::string line; std::getline(header, line);)
        if (std::regex_search(line, m, exported))
            declared.insert(m[2]);
    ASSERT_GT(declared.size(), 150u) << "the header's declarations were not found";
    EXPECT_EQ(got, declared);
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

// Every pointer argument of the interface, null in turn: a result code (or no
// effect at all for the release and print functions), never a crash, and the
// other output as the family leaves it. Checked on a cache that was never
// refreshed and again on a loaded tree, since each family orders its pointer
// checks against its cache checks in its own way.
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
    // The enclosure, its components, arrays and ports share one worker.
    ROW(RaidC_getEncInfo(nullptr, 0, 0, buf, sizeof buf, &num));
    ROW(RaidC_getEncInfo("Name", 0, 0, nullptr, 0, nullptr));
    ROW(RaidC_getBBUInfo(nullptr, 0, buf, sizeof buf, &num));
    ROW(RaidC_getBBUInfo("Name", 0, nullptr, 0, nullptr));
    ROW(RaidC_getStatusInfo(nullptr, buf, sizeof buf));
    ROW(RaidC_getStatusInfo("Status", nullptr, 8));
    ROW(RaidC_getCtrlInfo2(nullptr, 0, str, &num));
    transcript << "text: " << str->ptr << "\n";
    ROW(RaidC_getCtrlInfo2("CtrlId", 0, nullptr, nullptr));
    ROW(RaidC_getCtrlInfo2("RAIDCapabilities", 0, nullptr, &num));
    // A record loader given no record has nothing to fill and reports no field;
    // all share one frame, which the enclosure loader follows with its own walk.
    ROW(RaidC_LoadCtrlInfo(0, nullptr));
    ROW(RaidC_LoadEncInfo(0, 0, nullptr));
    ROW(RaidC_getFailedPdsNumberForCtrl(0, nullptr, &num));
    ROW(RaidC_getFailedPdsNumberForCtrl(0, &num, nullptr));
    ROW(raidinternal_getProcNumberForEncl(0, 0, nullptr)); // the sensor count shares its check
    ROW(RaidC_get_ldLayout(0, 0, nullptr));
    ROW(raidInternal_getDeviceStructure(nullptr));
    ROW(raidInternal_dynAllocDeviceMapStructure(nullptr));
    ROW(raidInternal_checkIfContainsLetters(nullptr));
    ROW(initData_RaidCCmdSocket(nullptr, 0));
    ROW(initTrapEventPipe(nullptr, 0));
    ROW(initTrapData(nullptr));
    // One function for each check that several share: list counts, list totals, chip and battery
    // maxima, drive class maxima, relation lists, each way of the conversions, MIB text mappers.
    each({F(RaidC_getCtrlsNumber), F(RaidC_getLdsTotalNumber), F(RaidC_getPdsTotalNumber),
          F(RaidC_getNvmePdsTotalNumber)},
         nullptr);
    each({F(RaidC_getPdsNumberForCtrl), F(RaidC_getCtrlNvmePdsTotalNumber), F(RaidC_getEncryptedPdsNumberForCtrl),
          F(RaidC_getDegradedLdsNumberForCtrl), F(RaidC_getCtrlMaxTemperature), F(RaidC_getPdMaxTemperature),
          F(RaidC_getProcMaxTemperature), F(RaidC_getHighestPdNumForCtrl)},
         0, nullptr);
    // The relation map's lists and conversions answer 1, as for any bad input.
    each({F(RaidC_get_LdIdxList_from_PdIdx)}, 0, 0, nullptr);
    each({F(RaidC_convert_PdId_2_PdIdx), F(RaidC_convert_PdIdx_2_PdId)}, 0, 0, nullptr);
    // The MIB mappers: 1 for no text or no place for the value, which stays.
    int32_t v = 42;
    char stripe[] = "64 KB";
    transcript << "mibMapper_getCtrlStatus(nullptr, &v) = " << mibMapper_getCtrlStatus(nullptr, &v) << " " << v
               << "; (\"OK\", nullptr) = " << mibMapper_getCtrlStatus("OK", nullptr) << "\n";
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
    // The list builders give an empty list of their own for no controller
    // list; they share that check.
    EXPECT_EQ(raidInternal_getCtrlList(nullptr), nullptr);
    NodeList *l = raidInternal_getPdList(nullptr, 0);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->count, 0);
    free(l);
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
