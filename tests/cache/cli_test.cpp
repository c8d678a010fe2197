// The raidc tool and the agent stand-in, run as programs.
#include "testutil.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(raidc("ctrl CtrlId 0 --json", &st),
              "{\"parameter\":\"CtrlId\",\"status\":2,\"statusText\":\"Success with string value\",\"value\":\"0\"}\n");
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
