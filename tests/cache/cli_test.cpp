// The raidc tool and the agent stand-in, run as programs.
#include "testutil.h"

#include <gtest/gtest.h>
#include <json-c/json.h>

#include <cctype>

#include <set>
#include <string>
#include <sys/stat.h>

using namespace testutil;

namespace {

std::string raidc(const std::string &args, int *status = nullptr)
{
    std::string out;
    int st = runCommand(toolPath("raidc") + " " + args + " 2>&1", &out);
    if (status)
        *status = st;
    return out;
}

TEST(Cli, SimInstallsTheTreeAndTouchGivesItANewTime)
{
    removeTree();
    std::string out;
    ASSERT_EQ(runCommand(toolPath("raidc-agent-sim") + " install " + examplePath("one-controller.xml"), &out), 0);
    EXPECT_EQ(readFile(RAIDC_DEVICE_TREE_PATH), readFile(examplePath("one-controller.xml")));
    struct stat a, b;
    ASSERT_EQ(stat(RAIDC_DEVICE_TREE_PATH, &a), 0);
    ASSERT_EQ(runCommand(toolPath("raidc-agent-sim") + " touch"), 0);
    ASSERT_EQ(stat(RAIDC_DEVICE_TREE_PATH, &b), 0);
    EXPECT_GT(b.st_mtime, a.st_mtime);
    EXPECT_EQ(runCommand(toolPath("raidc-agent-sim") + " install /nonexistent/file 2>/dev/null"), 1);
    EXPECT_EQ(runCommand(toolPath("raidc-agent-sim") + " bogus 2>/dev/null"), 2);
}

TEST(Cli, RefreshCtrlAndStatusText)
{
    installFile(examplePath("two-controllers.xml"));
    int st;
    EXPECT_EQ(raidc("refresh", &st), "0 cache is current\n");
    EXPECT_EQ(st, 0);
    EXPECT_EQ(raidc("ctrl CtrlId 1 --int", &st), "1\n");
    EXPECT_EQ(raidc("ctrl Product", &st).empty(), false);
    EXPECT_EQ(st, 0);
    EXPECT_EQ(raidc("ctrl NoSuchThing 0", &st), "raidc: NoSuchThing: Parameter cannot be found (status 4)\n");
    EXPECT_EQ(st, 3);
    EXPECT_EQ(raidc("ctrl CtrlId 0 --json", &st), "{\"format_version\":1,\"parameter\":\"CtrlId\",\"status\":2,"
                                                 "\"status_text\":\"Success with string value\",\"value\":\"0\"}\n");
    EXPECT_EQ(raidc("status-text 10", &st), "No more memory \n");
    EXPECT_EQ(raidc("status-text 42", &st), "status unknown\n");
}

TEST(Cli, DumpShowsTheTree)
{
    installTree(wrapSystem({"<CtrlId>5</CtrlId>"}));
    int st;
    std::string out = raidc("dump", &st);
    EXPECT_EQ(st, 0);
    EXPECT_NE(out.find("+ localName                 - RAIDStorageDeviceTree \n"), std::string::npos);
    EXPECT_NE(out.find("...+ nodeValue                 - 5 \n"), std::string::npos);
}

// A device tree nested `levels` elements deep below its one controller.
std::string nested(int levels)
{
    std::string open, close;
    for (int i = 0; i < levels; ++i) {
        open += "<d>";
        close += "</d>";
    }
    return wrapSystem({open + "x" + close});
}

TEST(Cli, DumpRefusesATreeNestedTooDeep)
{
    // The root element, System and Adapter are three levels, the text one.
    const int limit = 64;
    installTree(nested(limit - 4));
    std::string out;
    EXPECT_EQ(runCommand(toolPath("raidc") + " dump 2>/dev/null", &out), 0);
    EXPECT_NE(out.find(std::string(limit - 1, '.') + "+ nodeValue                 - x \n"), std::string::npos);
    for (int levels : {limit - 3, 200000}) {
        installTree(nested(levels));
        EXPECT_EQ(runCommand(toolPath("raidc") + " dump 2>/dev/null", &out), 1) << levels;
        EXPECT_EQ(out, "") << levels;
        int st;
        EXPECT_EQ(raidc("dump", &st), "raidc: the device tree is nested deeper than 64 levels; not dumping it\n");
    }
}

TEST(Cli, MissingDevicesAreExitThreeAndAnUnreadableTreeOne)
{
    installFile(examplePath("two-controllers.xml"));
    const char *const missing[] = {"ctrl Name 2",      "ctrl Name -1",      "pd Status 2 0",   "pd Status 0 99",
                                   "ld Name 9 0",      "ld Name 0 99",      "caps 2",          "relations 99",
                                   "record ctrl 2",    "record pd 0 99",    "record ld 2 0",   "record enc 0 9",
                                   "record bbu 99",    "show 2",            "temps 99",        "ctrl NoSuchParam"};
    for (const char *args : missing) {
        int st;
        std::string out = raidc(args, &st);
        EXPECT_EQ(st, 3) << args << ": " << out;
        EXPECT_EQ(out.rfind("raidc: ", 0), 0u) << args << ": " << out;
    }
    // A controller without a battery has no battery record.
    installTree(wrapSystem({"<Name>no battery</Name>"}));
    int st;
    raidc("record bbu 0", &st);
    EXPECT_EQ(st, 3);
    removeTree();
    for (const char *args : missing) {
        raidc(args, &st);
        EXPECT_EQ(st, 1) << args;
    }
}

// Every command that prints: its exit code when standard output is full or
// closed (the monitoring plugin stays UNKNOWN).
TEST(Cli, OutputThatCannotBeWrittenFailsTheCommand)
{
    installFile(examplePath("two-controllers.xml"));
    const std::pair<const char *, int> commands[] = {
        {"refresh", 1},      {"dump", 1},         {"ctrl Name 0", 1}, {"status-text 1", 1}, {"pd Status 0 0", 1},
        {"ld Name 0 0", 1},  {"map", 1},          {"relations 0", 1}, {"show", 1},          {"temps --json", 1},
        {"record ctrl 0", 1}, {"caps 0 --pretty", 1}, {"mib list", 1}, {"metrics", 1},       {"--help", 1},
        {"check", 3}};
    for (auto [args, code] : commands) {
        for (const char *redirect : {" >/dev/full", " >&-"}) {
            std::string err;
            int st = runCommand("exec 3>&1; " + toolPath("raidc") + " " + args + " 2>&3" + redirect, &err);
            EXPECT_EQ(st, code) << args << redirect;
            EXPECT_EQ(err.rfind("raidc: cannot write to standard output", 0), 0u) << args << redirect << ": " << err;
        }
    }
}

// A reader that stops early ends a long dump at once, without a word, even
// when the caller ignores SIGPIPE.
TEST(Cli, AReaderThatGoesAwayEndsTheDumpQuietly)
{
    std::string drives;
    for (int i = 0; i < 1000; ++i)
        drives += "<PhysicalDrive Nr=\"" + std::to_string(i) + "\"><Status>OK</Status></PhysicalDrive>";
    installTree(wrapSystem({drives}));
    std::string out;
    runCommand("{ { trap '' PIPE; " + toolPath("raidc") + " dump 2>&3; echo \"exit $?\" >&3; } | head -n 1 "
               ">/dev/null; } 3>&1",
               &out);
    EXPECT_EQ(out, "exit 141\n");
}

// Every command with the words that fill it to its most, and its exit code
// for a bad command line (the monitoring plugin says UNKNOWN).
struct CommandLine {
    const char *name;
    const char *fullWords;
    int badUsage;
};
const CommandLine kCommands[] = {
    {"refresh", "", 2},        {"dump", "", 2},          {"ctrl", "Name 0", 2},          {"status-text", "1", 2},
    {"pd", "Status 0 0", 2},   {"ld", "Name 0 0", 2},    {"map", "", 2},                 {"relations", "0", 2},
    {"show", "0", 2},          {"temps", "0", 2},        {"record", "pd 0 0", 2},        {"caps", "0", 2},
    {"mib", "pd-status OK", 2}, {"locate", "set pd 0 0 1", 2}, {"trap", "send 1 2", 2}, {"check", "", 3},
    {"metrics", "", 2},        {"watch", "", 2},
};

TEST(Cli, EveryCommandTakesHelpAndRefusesUnknownOptionsAndExtraWords)
{
    installFile(examplePath("two-controllers.xml"));
    // The table names every command the tool lists, so a new one cannot
    // escape these checks.
    std::string list;
    ASSERT_EQ(runCommand(toolPath("raidc") + " --help | sed -n 's/^  \\([a-z-]*\\) .*/\\1/p' | sort", &list), 0);
    std::set<std::string> names;
    for (const CommandLine &c : kCommands)
        names.insert(c.name);
    std::string expected;
    for (const std::string &n : names)
        expected += n + "\n";
    EXPECT_EQ(list, expected);

    for (const CommandLine &c : kCommands) {
        std::string run = "timeout 10 " + toolPath("raidc") + " " + c.name + " ";
        std::string out;
        EXPECT_EQ(runCommand(run + "--help 2>/dev/null", &out), 0) << c.name;
        EXPECT_EQ(out.rfind(std::string("usage: raidc ") + c.name + " ", 0), 0u) << c.name << ": " << out;
        for (std::string args : {std::string(c.fullWords) + " --no-such-option", std::string(c.fullWords) + " extra",
                                 std::string(c.fullWords) + " --json=1", "-Q " + std::string(c.fullWords)}) {
            EXPECT_EQ(runCommand(run + args + " 2>&1", &out), c.badUsage) << c.name << " " << args;
            EXPECT_NE(out.find(std::string("usage: raidc ") + c.name), std::string::npos) << c.name << ": " << out;
        }
    }
    // Negative numbers are words, not options; "--" ends the options.
    int st;
    raidc("ctrl Name -1", &st);
    EXPECT_EQ(st, 3);
    EXPECT_EQ(raidc("status-text -- -1", &st), "status unknown\n");
    EXPECT_EQ(st, 0);
    raidc("ctrl Name --int=1", &st);
    EXPECT_EQ(st, 2);
    raidc("trap send 1 2 -s", &st);
    EXPECT_EQ(st, 2);
}

// Every command's JSON: one document with the format version first, keys
// in snake_case, and numbers, units in their keys, as numbers.
TEST(Cli, JsonOutputFollowsOneSchema)
{
    installFile(examplePath("two-controllers.xml"));
    // One line per document, each checked by one python run.
    const char *const check = R"(
import json, re, sys
def walk(v, path):
    if isinstance(v, dict):
        for k, x in v.items():
            assert re.fullmatch("[a-z][a-z0-9]*(_[a-z0-9]+)*", k), path + "." + k
            if re.search("(_celsius|_bytes|_mib|_rpm|_count|^index|^number|^port|^device|^format_version)$", k):
                assert x is None or type(x) is int, (path + "." + k, x)
            walk(x, path + "." + k)
    elif isinstance(v, list):
        for i, x in enumerate(v):
            walk(x, path + "[%d]" % i)
for line in sys.stdin:
    doc = json.loads(line)
    assert list(doc)[0] == "format_version" and doc["format_version"] == 1, line[:80]
    walk(doc, line[:40])
)";
    std::string commands;
    for (const char *args : {"show", "show 1", "temps", "refresh", "ctrl Name 0", "pd Temperature 0 0 --int",
                             "status-text 1", "mib pd-status Failed", "relations 0", "record ctrl 0", "record pd 0 0",
                             "record ld 0 0", "record bbu 0", "record enc 0 0"})
        commands += toolPath("raidc") + " " + args + " --json; ";
    std::string out;
    EXPECT_EQ(runCommand("{ " + commands + "} | python3 -c '" + check + "' 2>&1", &out), 0) << out;
    // Sizes are bytes, temperatures degrees, both numbers.
    out = raidc("show 0 --json");
    EXPECT_NE(out.find("\"temperature_celsius\":"), std::string::npos);
    EXPECT_EQ(out.find("\"temperature_celsius\":\""), std::string::npos);
    EXPECT_NE(out.find("\"size_bytes\":"), std::string::npos);
}

// Each temperature class that `show` reports is spelled alike in `check`'s
// perfdata, `metrics`' class label and the MIB's maximum temperature object.
TEST(Cli, TemperatureClassesAreNamedAlikeEverywhere)
{
    installFile(examplePath("health/ok.xml"));
    std::string show = raidc("show 0 --json"), check = raidc("check"), metrics = raidc("metrics");
    std::string mib = readFile(examplePath("../mib/RAIDC-MIB.txt"));
    json_object *doc = json_tokener_parse(show.c_str()), *temps = nullptr, *c0 = nullptr, *list = nullptr;
    ASSERT_TRUE(doc && json_object_object_get_ex(doc, "controllers", &list)) << show;
    c0 = json_object_array_get_idx(list, 0);
    ASSERT_TRUE(c0 && json_object_object_get_ex(c0, "max_temperatures", &temps)) << show;
    int classes = 0;
    json_object_object_foreach(temps, key, value)
    {
        (void)value;
        ++classes;
        std::string k = key, mibName = "raidc" + k + "MaxTemp OBJECT-TYPE";
        mibName[5] = static_cast<char>(toupper(mibName[5]));
        EXPECT_NE(check.find("'c0_" + k + "_temp'="), std::string::npos) << k << ": " << check;
        EXPECT_NE(metrics.find("raid_max_temperature_celsius{ctrl=\"0\",class=\"" + k + "\"}"), std::string::npos) << k;
        EXPECT_NE(mib.find(mibName), std::string::npos) << mibName;
    }
    EXPECT_EQ(classes, 7);
    json_object_put(doc);
}

TEST(Cli, UsageErrorsAndUnreadableTrees)
{
    int st;
    raidc("frobnicate", &st);
    EXPECT_EQ(st, 2);
    raidc("", &st);
    EXPECT_EQ(st, 2);
    raidc("ctrl", &st);
    EXPECT_EQ(st, 2);
    raidc("ctrl Name notanumber", &st);
    EXPECT_EQ(st, 2);
    raidc("status-text", &st);
    EXPECT_EQ(st, 2);
    removeTree();
    std::string out = raidc("ctrl Name", &st);
    EXPECT_EQ(st, 1);
    EXPECT_NE(out.find("could not be opened"), std::string::npos);
    installTree("<broken");
    raidc("refresh", &st);
    EXPECT_EQ(st, 1);
}

} // namespace
