// raidc and raidc-agent-sim as programs: one row per run with the tree it
// reads, the peer it needs, its words, and how it must exit and what print.
#include "../cmd/peers.h"

#include <json-c/json.h>

#include <fcntl.h>
#include <iomanip>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <sys/stat.h>

using namespace testutil;

namespace {

// Where a program's standard output goes: a pipe read to its end, /dev/full,
// nowhere (closed), or a pipe closed after the first line, SIGPIPE ignored.
enum To { Pipe, Full, Closed, FirstLine };

struct Result {
    int status; // the exit status, or 128 + the signal that ended it
    std::string out, err;
};

// Runs "raidc ..." or "raidc-agent-sim ...", words split at spaces or quoted
// in ''; killed if it has not ended within 30 seconds.
Result run(const std::string &line, To to = Pipe)
{
    std::istringstream in(line);
    std::string word;
    in >> word;
    std::vector<std::string> argv = toolArgv(word.c_str());
    while (in >> std::quoted(word, '\''))
        argv.push_back(word);
    std::vector<char *> av;
    for (std::string &a : argv)
        av.push_back(a.data());
    av.push_back(nullptr);
    FILE *err = tmpfile();
    int out[2];
    if (!err || pipe2(out, O_CLOEXEC) != 0)
        return {-1, "", "no pipe"};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(to == Full ? open("/dev/full", O_WRONLY | O_CLOEXEC) : out[1], 1);
        if (to == Closed)
            close(1);
        dup2(fileno(err), 2);
        signal(SIGPIPE, to == FirstLine ? SIG_IGN : SIG_DFL);
        alarm(30); // bounds the run, and so every read below
        execvp(av[0], av.data());
        _exit(127);
    }
    close(out[1]);
    Result r{-1, "", ""};
    char buf[65536];
    ssize_t n;
    while ((to != FirstLine || r.out.find('\n') == std::string::npos) && (n = read(out[0], buf, sizeof buf)) > 0)
        r.out.append(buf, static_cast<size_t>(n));
    close(out[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    EXPECT_NE(r.status, 128 + SIGALRM) << line << ": still running after 30 seconds";
    rewind(err);
    for (size_t got; (got = fread(buf, 1, sizeof buf, err)) > 0;)
        r.err.append(buf, got);
    fclose(err);
    return r;
}

// The one JSON schema: keys in snake_case, and numbers, units in their keys, as numbers.
void walk(json_object *v, const std::string &path)
{
    static const std::regex snake("[a-z][a-z0-9]*(_[a-z0-9]+)*"),
        number(".*(_celsius|_bytes|_mib|_rpm|_count)|index|number|port|device|format_version");
    if (json_object_is_type(v, json_type_object)) {
        json_object_object_foreach(v, key, x)
        {
            EXPECT_TRUE(std::regex_match(key, snake)) << path << "." << key;
            EXPECT_TRUE(!std::regex_match(key, number) || !x || json_object_is_type(x, json_type_int)) << path << key;
            walk(x, path + "." + key);
        }
    }
    for (size_t i = 0; json_object_is_type(v, json_type_array) && i < json_object_array_length(v); ++i)
        walk(json_object_array_get_idx(v, i), path + "[" + std::to_string(i) + "]");
}

// The value at a dotted path of keys and array positions; null when the path breaks.
json_object *at(json_object *o, const std::string &path)
{
    std::istringstream steps(path);
    for (std::string step; o && std::getline(steps, step, '.');)
        if (json_object_is_type(o, json_type_array))
            o = json_object_array_get_idx(o, std::stoul(step));
        else if (!json_object_object_get_ex(o, step.c_str(), &o))
            return nullptr;
    return o;
}

std::string text(json_object *o)
{
    return o ? json_object_get_string(o) : "<missing>";
}

// What the library itself renders for a controller's capabilities.
std::string libraryCaps(int ctrl)
{
    EXPECT_EQ(RaidC_updateCache(), 0);
    string_t s;
    string_init(s);
    EXPECT_EQ(RaidC_getCtrlInfo2("RAIDCapabilities", ctrl, s, nullptr), RAIDC_SUCCESS_STRING);
    std::string caps = string_get_cstr(s);
    string_clear(s);
    return caps;
}

// `show --json` over the two-controller example.
void expectOverview(const std::string &out)
{
    json_object *root = json_tokener_parse(out.c_str());
    // Nothing answers on the command socket here. Each row: path=value.
    const std::string c0 = "controllers.0.", temps = c0 + "max_temperatures.", procs = c0 + "enclosures.0.processors.";
    for (const std::string &row : std::vector<std::string>{
             "agent_status=OK", "agent_liveness=down", c0 + "name=RAID Controller 0", c0 + "family=MR",
             temps + "ctrl.temperature_celsius=73", temps + "nvme.temperature_celsius=49", temps + "ssd.status=7",
             temps + "ssd.temperature_celsius=<missing>", c0 + "counts.physical_drives=12",
             c0 + "counts.encrypted_drives=3", c0 + "counts.degraded_logical_drives=3",
             c0 + "logical_drives.2.status=Partially Degraded", c0 + "physical_drives.11.type=NVMe",
             c0 + "physical_drives.11.device=21", procs + "1.sensors.1.temperature_celsius=44",
             procs + "0.fans.4=<missing>", c0 + "battery.temperature_celsius=32", "controllers.2=<missing>",
             "controllers.1.max_temperatures.proc.temperature_celsius=42"})
        EXPECT_EQ(text(at(root, row.substr(0, row.find('=')))), row.substr(row.find('=') + 1)) << row;
    EXPECT_NE(at(root, "controllers.1"), nullptr);
    EXPECT_NE(at(root, procs + "0.fans.3"), nullptr);
    struct stat st;
    ASSERT_EQ(stat(RAIDC_DEVICE_TREE_PATH, &st), 0);
    EXPECT_EQ(text(at(root, "device_tree.modified_timestamp")), std::to_string(st.st_mtime));
    EXPECT_EQ(text(at(root, "device_tree.modified")).size(), 20u); // 2001-09-09T01:46:40Z
    const int64_t age = json_object_get_int64(at(root, "device_tree.age_seconds"));
    EXPECT_LE(age, time(nullptr) - st.st_mtime);
    EXPECT_GE(age, time(nullptr) - st.st_mtime - 30) << "the age is taken while show runs";
    json_object_put(root);
}

// Each temperature class that `show` reports is spelled alike in `check`'s
// perfdata, `metrics`' class label and the MIB's maximum temperature object.
void expectClassesNamedAlike(const std::string &show)
{
    const std::string check = run("raidc check").out, metrics = run("raidc metrics").out;
    const std::string mib = readFile(examplePath("../mib/RAIDC-MIB.txt"));
    json_object *doc = json_tokener_parse(show.c_str()), *temps = at(doc, "controllers.0.max_temperatures");
    ASSERT_TRUE(temps) << show;
    EXPECT_EQ(json_object_object_length(temps), 7);
    json_object_object_foreach(temps, key, value)
    {
        static_cast<void>(value);
        std::string k = key, mibName = "raidc" + k + "MaxTemp OBJECT-TYPE";
        mibName[5] = static_cast<char>(toupper(mibName[5]));
        EXPECT_NE(check.find("'c0_" + k + "_temp'="), std::string::npos) << k << ": " << check;
        EXPECT_NE(metrics.find("raid_max_temperature_celsius{ctrl=\"0\",class=\"" + k + "\"}"), std::string::npos) << k;
        EXPECT_NE(mib.find(mibName), std::string::npos) << mibName;
    }
    json_object_put(doc);
}

// Drives that name logical drives in their layouts and logical drives that
// name drives, or not; drives without number and with one out of range.
const std::string kMap = wrapSystem(
    {"<CtrlId>5</CtrlId><PhysicalDrive Nr=\"10\"><Layout><LogicalDrive Nr=\"0\"/><LogDrive Nr=\"0\"/></Layout>"
     "</PhysicalDrive><LogicalDrive Nr=\"0\"><Layout><Container><PhysDrive Nr=\"11\"/></Container></Layout>"
     "</LogicalDrive><LogicalDrive Nr=\"1\"/><LogicalDrive Nr=\"2\"><Layout><Container><PhysicalDrive Nr=\"11\"/>"
     "</Container></Layout></LogicalDrive><PhysicalDrive/><PhysicalDrive/><PhysicalDrive/>"
     "<PhysicalDrive Nr=\"99999999999\"/><PhysicalDrive Nr=\"11\"/>"});

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
    int status;
    const char *out = nullptr; // the whole of standard output
    const char *err = nullptr; // how standard error starts; a whole line, or "", is all of it
    std::string has = {};      // a part of standard output ("2>...": of standard error)
    std::function<void(const std::string &out)> check = {};
    Peer peer = None;
    To to = Pipe;
};

void expectInstalled(const std::string &)
{
    EXPECT_EQ(readFile(RAIDC_DEVICE_TREE_PATH), readFile(examplePath("one-controller.xml")));
    struct stat a, b;
    ASSERT_EQ(stat(RAIDC_DEVICE_TREE_PATH, &a), 0);
    EXPECT_EQ(run("raidc-agent-sim touch").status, 0);
    ASSERT_EQ(stat(RAIDC_DEVICE_TREE_PATH, &b), 0);
    EXPECT_GT(b.st_mtime, a.st_mtime);
}

// The pretty capabilities list holds the seven levels the library renders.
void expectPrettyCaps(const std::string &out)
{
    json_object *doc = json_tokener_parse(out.c_str());
    EXPECT_EQ(json_object_to_json_string_ext(doc, JSON_C_TO_STRING_PLAIN), libraryCaps(1));
    EXPECT_TRUE(at(doc, "6") && !at(doc, "7"));
    json_object_put(doc);
}

void expectProcessorsCounted(const std::string &out)
{
    json_object *doc = json_tokener_parse(out.c_str()), *procs = at(doc, "processors");
    ASSERT_TRUE(procs) << out;
    EXPECT_EQ(text(at(doc, "processor_count")), std::to_string(json_object_array_length(procs)));
    json_object_put(doc);
}

const std::string two = readFile(examplePath("two-controllers.xml"));

std::vector<Row> outputRows()
{
    const std::string mr = cmdtest::tree("MR");
    const std::string one = readFile(examplePath("one-controller.xml")), ok = readFile(examplePath("health/ok.xml"));
    const std::string drive = wrapSystem({"<PhysicalDrive Nr=\"0\"><Temperature>38</Temperature><RPM>7200</RPM>"
                                          "</PhysicalDrive><LogicalDrive Nr=\"0\"><Name>data</Name></LogicalDrive>"});
    const char *const deep = "raidc: the device tree is nested deeper than 64 levels; not dumping it\n";
    const std::string dots = std::string(63, '.') + "+ nodeValue                 - x \n";
    std::vector<Row> t = {
        {"", "raidc-agent-sim install " + examplePath("one-controller.xml"), 0, nullptr, nullptr, "", expectInstalled},
        {"", "raidc-agent-sim install /nonexistent/file", 1},
        {two, "raidc refresh", 0, "0 cache is current\n", ""},
        {two, "raidc ctrl CtrlId 1 --int", 0, "1\n"},
        {two, "raidc ctrl Product", 0, "ZR-9500-16i\n"},
        {two, "raidc ctrl NoSuchThing 0", 3, "", "raidc: NoSuchThing: Parameter cannot be found (status 4)\n"},
        {two, "raidc ctrl CtrlId 0 --json", 0,
         "{\"format_version\":1,\"parameter\":\"CtrlId\",\"status\":2,"
         "\"status_text\":\"Success with string value\",\"value\":\"0\"}\n"},
        {two, "raidc status-text 10", 0, "No more memory \n"},
        {two, "raidc status-text 42", 0, "status unknown\n"},
        // Negative numbers are words, not options; "--" ends the options.
        {two, "raidc status-text -- -1", 0, "status unknown\n"},
        // The root element, System and Adapter are three levels, the text one.
        {nested(60), "raidc dump", 0, nullptr, nullptr, "+ localName                 - RAIDStorageDeviceTree \n"},
        {nested(60), "raidc dump", 0, nullptr, nullptr, "...+ nodeValue                 - 5 \n"},
        {nested(60), "raidc dump", 0, nullptr, nullptr, dots},
        {nested(61), "raidc dump", 1, "", deep},
        {nested(200000), "raidc dump", 1, "", deep},
        // A reader that stops early ends a long dump at once, without a word,
        // even when the caller ignores SIGPIPE.
        {one, "raidc dump", 141, nullptr, "", "", nullptr, None, FirstLine},
        {wrapSystem({"<Name>no battery</Name>"}), "raidc record bbu 0", 3},
        {"", "raidc ctrl Name", 1, nullptr, nullptr, "2>could not be opened"},
        {"<broken", "raidc refresh", 1},
        // Sizes are bytes, temperatures degrees, both numbers.
        {two, "raidc show --json", 0, nullptr, nullptr, "", expectOverview},
        {two, "raidc show 0 --json", 0, nullptr, nullptr, "\"size_bytes\":"},
        {two, "raidc show 0 --json", 0, nullptr, nullptr, "\"temperature_celsius\":"},
        {two, "raidc show", 0, nullptr, nullptr, "\nAgent: down\nDevice tree: written "},
        {ok, "raidc show 0 --json", 0, nullptr, nullptr, "", expectClassesNamedAlike},
        {"", "raidc mib ld-status 'partially degraded'", 0, "9\n"},
        {"", "raidc mib ld-stripe-size '256KiB' --json", 0,
         "{\"format_version\":1,\"object\":\"ld-stripe-size\",\"text\":\"256KiB\",\"value\":262144}\n"},
        {"", "raidc mib svr-status Unknown", 3},
        {"", "raidc mib no-such-object OK", 2, nullptr, nullptr, "2>pd-status-ex"},
        // Controller 0 names levels in attributes, controller 1 in "Type" children.
        {two, "raidc caps 1", 0, nullptr, nullptr, "",
         [](const std::string &out) { EXPECT_EQ(out, libraryCaps(0) + "\n"); }},
        {two, "raidc caps --pretty", 0, nullptr, nullptr, "\n  {\n", expectPrettyCaps},
        {one, "raidc record pd 0 0", 0, nullptr, nullptr,
         "\nRPM: ", [](const std::string &out) { EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 23); }},
        {one, "raidc record enc 0 0 --json", 0, nullptr, nullptr, "", expectProcessorsCounted},
        {drive, "raidc pd Temperature 0 0 --int", 0, "38\n"},
        {drive, "raidc pd RPM 0 0", 0, "7.2\n"},
        {drive, "raidc ld Name 0 1", 3},
        {kMap, "raidc relations 0", 0,
         "controller 0 (CtrlId 5): 3 logical drives, 6 physical drives\n"
         "logical drive 0 (id 0): 0 (id 10), 0 (id 10)\nlogical drive 1 (id 1): none\nlogical drive 2 (id 2): none\n"
         "physical drive 0 (id 10): none\nphysical drive 1 (id -1): none\nphysical drive 2 (id -1): none\n"
         "physical drive 3 (id -1): none\nphysical drive 4 (id 2147483647): none\n"
         "physical drive 5 (id 11): 0 (id 0), 2 (id 2)\n"},
        {kMap, "raidc relations 0 --json", 0, nullptr, nullptr,
         "{\"index\":4,\"id\":2147483647,\"logical_drives\":[]}"},
        // Locating through the agent stand-in: a drive or controller that is
        // not there is 3, any other failure (no agent) 1.
        {mr, "raidc locate set ld 0 0 7", 0, "7\n", "", "", nullptr, Agent},
        {mr, "raidc locate get ld 0 0 --json", 0,
         "{\"format_version\":1,\"operation\":\"get\",\"device_type\":\"logical_drive\",\"controller\":0,"
         "\"device_index\":0,\"result\":0,\"result_text\":\"done\",\"value\":7}\n",
         "", "", nullptr, Agent},
        {mr, "raidc locate get pd 0 99", 3, "", "raidc: ", "", nullptr, Agent},
        {mr, "raidc locate set ld 5 0 1", 3, "", "raidc: ", "", nullptr, Agent},
        {mr, "raidc locate get pd 0 -1 --json", 3, nullptr, nullptr, "\"result\":4,", nullptr, Agent},
        {mr, "raidc locate get ld 0 0", 1},
        // Trap events wait in the FIFO between the senders and the listener.
        {"", "raidc trap send 0x10 2 -s ab -s 'c \"d\"'", 0, nullptr, "", "", nullptr, TrapReader},
        {"", "raidc-agent-sim trap --count 2 3 4 -s x", 0, nullptr, "", "", nullptr, TrapReader},
        {"", "raidc trap listen --json --count 3 --timeout 5", 0, nullptr, "",
         "\"word3\":16,\"word4\":2,\"strings\":[\"ab\",\"c \\\"d\\\"\"]}\n", nullptr, TrapReader},
        {"", "raidc trap listen --count 1 --timeout 0", 3, "", nullptr, "", nullptr, TrapReader},
        {"", "raidc-agent-sim trap --count 2 3 4 -s x", 0, nullptr, "", "", nullptr, TrapReader},
        {"", "raidc trap listen --json --count 2 --timeout 5", 0, nullptr, "",
         "\"message_count\":1,\"word3\":3,\"word4\":4,\"strings\":[\"x\"]}\n", nullptr, TrapReader},
        {"", "raidc-agent-sim trap 1", 2},
        {"", "raidc-agent-sim bogus", 2},
    };
    // Every row with --json that succeeds is checked against the one schema.
    for (const char *args : {"show", "show 1", "temps", "refresh", "ctrl Name 0", "pd Temperature 0 0 --int",
                             "status-text 1", "mib pd-status Failed", "relations 0", "record ctrl 0", "record pd 0 0",
                             "record ld 0 0", "record bbu 0", "record enc 0 0"})
        t.push_back({two, std::string("raidc ") + args + " --json", 0});
    return t;
}

std::vector<Row> usageRows()
{
    std::vector<Row> t;
    // Bad command lines: 2.
    for (const char *args : {"", "frobnicate", "ctrl", "status-text", "show first", "caps x", "record", "record pd 0",
                             "record disk 0", "record ld 0 x", "relations x", "trap send 1", "trap send 1 -1", "trap"})
        t.push_back({two, std::string("raidc ") + args, 2});
    for (const char *args : {"ctrl Name --int=1", "trap send 1 2 -s", "record ctrl 0 1", "pd Temperature 0",
                             "locate set pd 0", "ctrl Name notanumber"})
        t.push_back({two, std::string("raidc ") + args, 2});
    // Every command with the words that fill it to its most takes --help and
    // refuses unknown options and extra words (the monitoring plugin with
    // UNKNOWN); the list holds every command the tool lists.
    std::multiset<std::string> names;
    for (const std::string words : {"refresh", "dump", "ctrl Name 0", "status-text 1", "pd Status 0 0", "ld Name 0 0",
                                    "map", "relations 0", "show 0", "temps 0", "record pd 0 0", "caps 0", "check",
                                    "mib pd-status OK", "locate set pd 0 0 1", "trap send 1 2", "metrics", "watch"}) {
        const std::string name = words.substr(0, words.find(' ')), rest = words.substr(name.size());
        names.insert(name);
        t.push_back({two, "raidc " + name + " --help", 0, nullptr, nullptr, "",
                     [name](const std::string &out) { EXPECT_EQ(out.rfind("usage: raidc " + name + " ", 0), 0u); }});
        for (const std::string &args : {rest + " --no-such-option", rest + " extra", rest + " --json=1", " -Q" + rest})
            t.push_back(
                {two, "raidc " + name + args, name == "check" ? 3 : 2, nullptr, nullptr, "2>usage: raidc " + name});
    }
    t.push_back({two, "raidc --help", 0, nullptr, nullptr, "", [names](const std::string &out) {
                     std::multiset<std::string> listed;
                     std::istringstream lines(out);
                     std::smatch m;
                     for (std::string l; std::getline(lines, l);)
                         if (std::regex_search(l, m, std::regex("^  ([a-z-]*) ")))
                             listed.insert(m[1]);
                     EXPECT_EQ(listed, names);
                 }});
    return t;
}

std::vector<Row> failureRows()
{
    std::vector<Row> t;
    // Devices that are not there: 3, or 1 with no tree to read.
    for (const char *args :
         {"ctrl Name 2", "ctrl Name -1", "pd Status 2 0", "pd Status 0 99", "ld Name 9 0", "ld Name 0 99", "caps 2",
          "relations 99", "record ctrl 2", "record pd 0 99", "record ld 2 0", "record enc 0 9", "record bbu 99",
          "show 2", "temps 99", "ctrl NoSuchParam"}) {
        t.push_back({two, std::string("raidc ") + args, 3, "", "raidc: "});
        t.push_back({"", std::string("raidc ") + args, 1});
    }
    // Every command that prints fails when its output cannot be written (the
    // monitoring plugin stays UNKNOWN).
    for (const char *args :
         {"refresh", "dump", "ctrl Name 0", "status-text 1", "pd Status 0 0", "ld Name 0 0", "map", "relations 0",
          "show", "temps --json", "record ctrl 0", "caps 0 --pretty", "mib list", "metrics", "--help", "check"})
        for (To to : {Full, Closed})
            t.push_back({two, std::string("raidc ") + args, args == std::string("check") ? 3 : 1, nullptr,
                         "raidc: cannot write to standard output", "", nullptr, None, to});
    return t;
}

// Each row's run, its exit status and what it printed.
void runRows(const std::vector<Row> &rows)
{
    std::optional<cmdtest::PeerProcess> agent;
    int fifo = -1; // the trap FIFO held open for reading, so that events wait there between runs
    for (const Row &row : rows) {
        SCOPED_TRACE(row.args + (row.to == Full ? " >/dev/full" : row.to == Closed ? " >&-" : ""));
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
        const Result r = run(row.args, row.to);
        EXPECT_EQ(r.status, row.status) << r.out << r.err;
        EXPECT_EQ(r.out, row.out ? row.out : r.out);
        const std::string err = row.err ? row.err : "";
        EXPECT_EQ(err.empty() || err.back() == '\n' ? r.err : r.err.substr(0, err.size()), row.err ? err : r.err);
        const bool onErr = row.has.rfind("2>", 0) == 0;
        EXPECT_NE((onErr ? r.err : r.out).find(row.has.substr(onErr ? 2 : 0)), std::string::npos) << r.out << r.err;
        // Every JSON document has the format version first.
        const bool json = row.args.find("--json") != std::string::npos;
        std::istringstream docs(json && row.status == 0 ? r.out : "");
        for (std::string doc; std::getline(docs, doc);) {
            json_object *o = json_tokener_parse(doc.c_str());
            EXPECT_TRUE(o && doc.rfind("{\"format_version\":1,", 0) == 0) << doc;
            walk(o, "");
            json_object_put(o);
        }
        if (row.check)
            row.check(r.out);
    }
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
