// raidc and raidc-agent-sim as programs: one row per run with the tree it
// reads, the peer it needs and its words. What each run prints and how it
// exits make up a transcript, compared as a whole with golden/<test>.txt.
#include "../cmd/peers.h"

#include <fcntl.h>
#include <optional>
#include <regex>
#include <sstream>
#include <sys/stat.h>

using namespace testutil;

namespace {

// Where a program's standard output goes: a pipe read to its end, /dev/full,
// nowhere (closed), or a reader that stops after the first line, SIGPIPE ignored.
enum To { Pipe, Full, Closed, FirstLine };

// Runs "raidc ..." or "raidc-agent-sim ..." through the shell, words quoted
// as there; ended after 30 seconds (status 124). Its transcript: the line,
// what it printed, its standard error marked "2> " and its exit status.
std::string run(const std::string &line, To to, std::string *out)
{
    const std::string word = line.substr(0, line.find(' ')), file = RAIDC_PATH_PREFIX "/tools-test.";
    const char *const redirect[] = {"", " >/dev/full", " >&-", ""};
    const std::string cmd = "timeout 30 " + toolPath(word.c_str()) + line.substr(word.size()) + redirect[to] + " 2>" +
                            file + "err; echo $? >" + file + "status";
    makePathDirs();
    runCommand(to == FirstLine ? "trap '' PIPE; { " + cmd + "; } | head -n 1" : cmd, out);
    std::string t = "$ " + line + redirect[to] + "\n" + *out;
    t += out->empty() || out->back() == '\n' ? "" : "\n(no newline)\n";
    std::istringstream errLines(readFile(file + "err"));
    for (std::string l; std::getline(errLines, l);)
        t += "2> " + l + "\n";
    return t + "exit " + std::to_string(atoi(readFile(file + "status").c_str())) + "\n\n";
}

// The tree's time and age in `show --json`, which the transcript masks.
void expectTreeTime(const std::string &out)
{
    struct stat st;
    ASSERT_EQ(stat(RAIDC_DEVICE_TREE_PATH, &st), 0);
    EXPECT_NE(out.find("\"modified_timestamp\":" + std::to_string(st.st_mtime) + ","), std::string::npos) << out;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex("\"age_seconds\":([0-9]+)"))) << out;
    EXPECT_LE(std::stoll(m[1]), time(nullptr) - st.st_mtime);
    EXPECT_GE(std::stoll(m[1]), time(nullptr) - st.st_mtime - 30) << "the age is taken while show runs";
}

// A tree nested `levels` elements deep below its controller's CtrlId.
std::string nested(size_t levels)
{
    std::string open, close;
    for (size_t i = 0; i < levels; ++i) {
        open += "<d>";
        close += "</d>";
    }
    return wrapSystem({"<CtrlId>5</CtrlId>" + open + "x" + close});
}

enum Peer { None, Agent, TrapReader };

struct Row {
    std::string tree; // the device tree document, or "" for none
    std::string args;
    Peer peer = None;
    To to = Pipe;
    std::function<void(const std::string &out)> check = {};
};

void expectInstalled(const std::string &)
{
    EXPECT_EQ(readFile(RAIDC_DEVICE_TREE_PATH), readFile(examplePath("one-controller.xml")));
    struct stat a, b;
    ASSERT_EQ(stat(RAIDC_DEVICE_TREE_PATH, &a), 0);
    EXPECT_EQ(runCommand(toolPath("raidc-agent-sim") + " touch"), 0);
    ASSERT_EQ(stat(RAIDC_DEVICE_TREE_PATH, &b), 0);
    EXPECT_GT(b.st_mtime, a.st_mtime);
}

const std::string two = readFile(examplePath("two-controllers.xml"));

// Rows for command lines run one after another on one tree and peer.
void add(std::vector<Row> &t, const std::string &tree, std::initializer_list<std::string> lines, Peer peer = None)
{
    for (const std::string &line : lines)
        t.push_back({tree, line, peer});
}

std::vector<Row> outputRows()
{
    const std::string one = readFile(examplePath("one-controller.xml")), ok = readFile(examplePath("health/ok.xml"));
    std::vector<Row> t = {
        {"", "raidc-agent-sim install " + examplePath("one-controller.xml"), None, Pipe, expectInstalled},
        {two, "raidc show --json", None, Pipe, expectTreeTime},
        {ok, "raidc show 0 --json"},
        // A reader that stops early ends a long dump at once, without a word,
        // even when the caller ignores SIGPIPE.
        {one, "raidc dump", None, FirstLine},
        {wrapSystem({"<Name>no battery</Name>"}), "raidc record bbu 0"},
        {"<broken", "raidc refresh"},
    };
    // Negative numbers are words, not options; "--" ends the options.
    // Controller 0 names levels in attributes, controller 1 in "Type" children.
    add(t, two,
        {"raidc refresh", "raidc ctrl CtrlId 1 --int", "raidc ctrl Product", "raidc ctrl NoSuchThing 0",
         "raidc ctrl CtrlId 0 --json", "raidc status-text 10", "raidc status-text 42", "raidc status-text -- -1",
         "raidc show", "raidc relations 0", "raidc caps 0", "raidc caps 1", "raidc caps --pretty"});
    add(t, one, {"raidc record pd 0 0", "raidc record enc 0 0 --json"});
    // The root element, System and Adapter are three levels, the text one.
    for (size_t levels : {60u, 61u, 200000u})
        add(t, nested(levels), {"raidc dump"});
    add(t, "",
        {"raidc-agent-sim install /nonexistent/file", "raidc ctrl Name", "raidc mib ld-status 'partially degraded'",
         "raidc mib ld-stripe-size '256KiB' --json", "raidc mib svr-status Unknown", "raidc mib no-such-object OK",
         "raidc-agent-sim trap 1", "raidc-agent-sim bogus"});
    add(t,
        wrapSystem({"<PhysicalDrive Nr=\"0\"><Temperature>38</Temperature><RPM>7200</RPM></PhysicalDrive>"
                    "<LogicalDrive Nr=\"0\"><Name>data</Name></LogicalDrive>"}),
        {"raidc pd Temperature 0 0 --int", "raidc pd RPM 0 0", "raidc ld Name 0 1"});
    // Locating through the agent stand-in: a drive or controller that is not
    // there is 3, any other failure (no agent) 1.
    add(t, cmdtest::tree("MR"),
        {"raidc locate set ld 0 0 7", "raidc locate get ld 0 0 --json", "raidc locate get pd 0 99",
         "raidc locate set ld 5 0 1", "raidc locate get pd 0 -1 --json"},
        Agent);
    add(t, cmdtest::tree("MR"), {"raidc locate get ld 0 0"});
    // Trap events wait in the FIFO between the senders and the listener.
    add(t, "",
        {"raidc trap send 0x10 2 -s ab -s 'c \"d\"'", "raidc-agent-sim trap --count 2 3 4 -s x",
         "raidc trap listen --json --count 3 --timeout 5", "raidc trap listen --count 1 --timeout 0",
         "raidc-agent-sim trap --count 2 3 4 -s x", "raidc trap listen --json --count 2 --timeout 5"},
        TrapReader);
    // Every command's JSON document, in the one schema: keys in snake_case,
    // numbers (units in their keys) as numbers, the format version first.
    for (const char *args : {"show 1", "temps", "refresh", "ctrl Name 0", "pd Temperature 0 0 --int", "status-text 1",
                             "mib pd-status Failed", "relations 0", "record ctrl 0", "record pd 0 0", "record ld 0 0",
                             "record bbu 0", "record enc 0 0"})
        t.push_back({two, std::string("raidc ") + args + " --json"});
    return t;
}

std::vector<Row> usageRows()
{
    std::vector<Row> t;
    // Bad command lines: 2.
    for (const char *args : {"", "frobnicate", "ctrl", "status-text", "show first", "caps x", "record", "record pd 0",
                             "record disk 0", "record ld 0 x", "relations x", "trap send 1", "trap send 1 -1", "trap"})
        t.push_back({two, std::string("raidc ") + args});
    for (const char *args : {"ctrl Name --int=1", "trap send 1 2 -s", "record ctrl 0 1", "pd Temperature 0",
                             "locate set pd 0", "ctrl Name notanumber", "--help"})
        t.push_back({two, std::string("raidc ") + args});
    // Every command, its words filled to their most, refuses one more: each
    // declares its own count. The parser and the usage printer are shared;
    // the monitoring plugin has its own (UNKNOWN, its own help).
    for (const std::string words : {"refresh", "dump", "ctrl Name 0", "status-text 1", "pd Status 0 0", "ld Name 0 0",
                                    "map", "relations 0", "show 0", "temps 0", "record pd 0 0", "caps 0", "check",
                                    "mib pd-status OK", "locate set pd 0 0 1", "trap send 1 2", "metrics", "watch"}) {
        t.push_back({two, "raidc " + words + " extra"});
        if (words == "dump" || words == "ctrl Name 0")
            for (const char *bad : {" --no-such-option", " --json=1", " -Q", " --help"})
                t.push_back({two, "raidc " + words + bad});
    }
    return t;
}

std::vector<Row> failureRows()
{
    std::vector<Row> t;
    // Devices that are not there: 3 (each command looks its own up), or 1
    // with no tree to read (all load it alike).
    for (const char *args :
         {"ctrl Name 2", "ctrl Name -1", "pd Status 2 0", "pd Status 0 99", "ld Name 9 0", "ld Name 0 99", "caps 2",
          "relations 99", "record ctrl 2", "record pd 0 99", "record ld 2 0", "record enc 0 9", "record bbu 99",
          "show 2", "temps 99", "ctrl NoSuchParam"})
        t.push_back({two, std::string("raidc ") + args});
    for (const char *args : {"ctrl Name 2", "pd Status 2 0", "caps 2", "show 2", "record ctrl 2", "relations 99"})
        t.push_back({"", std::string("raidc ") + args});
    // A command whose output cannot be written fails (the monitoring plugin
    // stays UNKNOWN): one check at the end serves all but metrics, whether
    // the loss shows while printing (long outputs) or at the end.
    for (const char *args : {"dump", "ctrl Name 0", "map", "show", "mib list", "--help", "metrics", "check"})
        for (To to : {Full, Closed})
            t.push_back({two, std::string("raidc ") + args, None, to});
    return t;
}

// Runs the rows and compares their transcript with the test's golden file.
void runRows(const std::vector<Row> &rows)
{
    std::optional<cmdtest::PeerProcess> agent;
    int fifo = -1; // the trap FIFO held open for reading, so that events wait there between runs
    std::string transcript;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.args);
        if (row.peer != Agent)
            agent.reset();
        else if (!agent)
            agent.emplace(cmdtest::simulator({}, false));
        if (row.peer == TrapReader && fifo < 0) {
            makePathDirs();
            unlink(RAIDC_TRAP_PIPE_PATH);
            ASSERT_EQ(mkfifo(RAIDC_TRAP_PIPE_PATH, 0600), 0);
            fifo = open(RAIDC_TRAP_PIPE_PATH, O_RDWR | O_NONBLOCK | O_CLOEXEC);
        } else if (row.peer != TrapReader && fifo >= 0) {
            close(fifo);
            fifo = -1;
        }
        if (row.tree.empty())
            removeTree();
        else
            installTree(row.tree);
        std::string out;
        transcript += run(row.args, row.to, &out);
        if (row.check)
            row.check(out);
    }
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    expectGolden("tools/golden/" + test + ".txt", masked(transcript));
}

TEST(Tools, CommandsPrintTheirAnswersToPeersAndTrees)
{
    runRows(outputRows());
}

TEST(Tools, EveryCommandTakesHelpAndRefusesBadCommandLines)
{
    runRows(usageRows());
}

TEST(Tools, MissingDevicesTreesAndUnwritableOutputHaveTheirExitStatus)
{
    runRows(failureRows());
}

} // namespace
