// The raidc tool and the agent stand-in, run as programs.
#include "testutil.h"

#include <gtest/gtest.h>

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
