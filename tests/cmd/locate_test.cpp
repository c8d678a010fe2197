// The locate commands end to end: identifiers from a real device tree, the
// process's client object, and raidc-agent-sim serving the command socket in
// a child process that logs every command it receives.
#include "peers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <unistd.h>

namespace {

using namespace cmdtest;

TEST(Locate, SetAndGetRoundTripWithIdentifiersSplitIntoHalves)
{
    testutil::loadTree(tree("MR"));
    Agent agent;
    int32_t v = -1;
    ASSERT_EQ(RaidC_SetPhysicalDriveLocate(0, 1, 2), 0);
    // CtrlId 2^32+2 and DeviceNumber 2^32+9: low half first.
    EXPECT_EQ(agent.line(), "command 5 arg1 2 arg2 1 arg3 9 arg4 1 arg5 10 value 2");
    ASSERT_EQ(RaidC_GetPhysicalDriveLocate(0, 1, &v), 0);
    EXPECT_EQ(agent.line(), "command 4 arg1 2 arg2 1 arg3 9 arg4 1 arg5 10 value 0");
    EXPECT_EQ(v, 2);
    ASSERT_EQ(RaidC_GetPhysicalDriveLocate(0, 0, &v), 0);
    EXPECT_EQ(agent.line(), "command 4 arg1 2 arg2 1 arg3 8 arg4 0 arg5 10 value 0");
    EXPECT_EQ(v, 0);

    ASSERT_EQ(RaidC_SetLogicalDriveLocate(0, 0, -7), 0);
    EXPECT_EQ(agent.line(), "command 3 arg1 2 arg2 1 arg3 3 arg4 0 arg5 10 value 4294967289");
    ASSERT_EQ(RaidC_GetLogicalDriveLocate(0, 0, &v), 0);
    EXPECT_EQ(v, -7);
    EXPECT_EQ(agent.stop(), 0);
}

TEST(Locate, FamilyCodeFollowsTheControllerFamilyText)
{
    Agent agent;
    const std::pair<const char *, const char *> cases[] = {
        {"MR", "10"}, {"PCIeSSD", "11"}, {"MR/PCIeSSD", "11"}, {"SAS HBA", "0"}};
    for (auto &c : cases) {
        testutil::loadTree(tree(c.first, "1"));
        ASSERT_EQ(RaidC_SetPhysicalDriveLocate(0, 0, 1), 0) << c.first;
        EXPECT_EQ(agent.line(), std::string("command 5 arg1 1 arg2 0 arg3 8 arg4 0 arg5 ") + c.second + " value 1");
    }
}

TEST(Locate, MissingIdentifiersSendNothing)
{
    // No agent at all: a call that tried to connect would fail with 10.
    testutil::onNeverRefreshedCache([] {
        testutil::makePathDirs();
        unlink(RAIDC_CMD_SOCKET_PATH);
        int32_t v = 5;
        EXPECT_EQ(RaidC_GetLogicalDriveLocate(0, 0, &v), RAIDC_SOCK_WAIT_FAILED);
        EXPECT_EQ(v, 5);
    });
    testutil::makePathDirs();
    unlink(RAIDC_CMD_SOCKET_PATH);
    int32_t v = 5;
    testutil::loadTree(tree("MR"));
    EXPECT_EQ(RaidC_SetPhysicalDriveLocate(0, 2, 1), RAIDC_SOCK_WAIT_FAILED);
    EXPECT_EQ(RaidC_SetLogicalDriveLocate(1, 0, 1), RAIDC_SOCK_WAIT_FAILED);
    EXPECT_EQ(RaidC_GetPhysicalDriveLocate(0, -1, &v), RAIDC_SOCK_WAIT_FAILED);
    EXPECT_EQ(v, 5);
    EXPECT_EQ(RaidC_GetPhysicalDriveLocate(0, 0, nullptr), RAIDC_SOCK_NULL);
    testutil::loadTree(tree(std::string(65, 'M'))); // does not fit the 64-byte text
    EXPECT_EQ(RaidC_SetPhysicalDriveLocate(0, 0, 1), RAIDC_SOCK_WAIT_FAILED);
    testutil::loadTree(tree("MR", "ctrl-7"));
    EXPECT_EQ(RaidC_SetPhysicalDriveLocate(0, 0, 1), RAIDC_SOCK_WAIT_FAILED);
}

TEST(Locate, SilentAgentTimesOutWithZeroValue)
{
    testutil::loadTree(tree("MR"));
    Agent agent({"--silent"});
    int32_t v = -5;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(RaidC_GetPhysicalDriveLocate(0, 0, &v), RAIDC_SOCK_TIMEOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(4));
    EXPECT_EQ(v, 0);
}

TEST(Locate, AgentHangingUpOrRestartingIsReconnectedInTheSameCall)
{
    testutil::loadTree(tree("MR"));
    int32_t v = -5;
    {
        Agent bad({"--close-mid", "--once"});
        EXPECT_EQ(RaidC_GetPhysicalDriveLocate(0, 0, &v), RAIDC_SOCK_SYSCALL_FAILED);
        EXPECT_EQ(v, 0);
        EXPECT_EQ(bad.stop(), 0);
    }
    {
        Agent good;
        EXPECT_EQ(RaidC_SetPhysicalDriveLocate(0, 0, 4), 0);
        EXPECT_EQ(RaidC_GetPhysicalDriveLocate(0, 0, &v), 0);
        EXPECT_EQ(v, 4);
    }
    // The agent restarts: its old connection is dead, and the first call
    // after the restart finds that out before sending.
    Agent restarted;
    EXPECT_EQ(RaidC_SetPhysicalDriveLocate(0, 0, 5), 0);
    EXPECT_EQ(restarted.line(), "command 5 arg1 2 arg2 1 arg3 8 arg4 0 arg5 10 value 5");
}

TEST(Locate, JunkBeforeEachReplyIsSkipped)
{
    testutil::loadTree(tree("MR"));
    Agent agent({"--garbage"});
    int32_t v = 0;
    ASSERT_EQ(RaidC_SetLogicalDriveLocate(0, 0, 6), 0);
    ASSERT_EQ(RaidC_GetLogicalDriveLocate(0, 0, &v), 0);
    EXPECT_EQ(v, 6);
}

TEST(Locate, ConcurrentCallersAreServedOneAfterAnother)
{
    testutil::loadTree(tree("MR"));
    Agent agent({"--slow", "5"});
    auto worker = [](int dev, int *failures) {
        for (int i = 1; i <= 8; ++i) {
            int32_t v = -1;
            if (RaidC_SetPhysicalDriveLocate(0, dev, dev * 100 + i) != 0 ||
                RaidC_GetPhysicalDriveLocate(0, dev, &v) != 0 || v != dev * 100 + i)
                ++*failures;
        }
    };
    int f0 = 0, f1 = 0;
    std::thread a(worker, 0, &f0), b(worker, 1, &f1);
    a.join();
    b.join();
    EXPECT_EQ(f0 + f1, 0);
}

TEST(Locate, CommandLineTool)
{
    testutil::loadTree(tree("MR"));
    Agent agent;
    std::string raidc = testutil::toolPath("raidc"), out;
    EXPECT_EQ(testutil::runCommand(raidc + " locate set ld 0 0 7", &out), 0);
    EXPECT_EQ(testutil::runCommand(raidc + " locate get ld 0 0 --json", &out), 0);
    EXPECT_NE(out.find("\"result\":0"), std::string::npos) << out;
    EXPECT_NE(out.find("\"value\":7"), std::string::npos) << out;
    // A drive or controller that is not there: 3; a usage error: 2.
    EXPECT_EQ(testutil::runCommand(raidc + " locate get pd 0 99 2>/dev/null", &out), 3);
    EXPECT_EQ(testutil::runCommand(raidc + " locate set ld 5 0 1 2>/dev/null", &out), 3);
    EXPECT_EQ(testutil::runCommand(raidc + " locate get pd 0 -1 --json", &out), 3);
    EXPECT_NE(out.find("\"result\":4"), std::string::npos) << out;
    EXPECT_EQ(testutil::runCommand(raidc + " locate set pd 0 2>/dev/null", &out), 2);
    // Any other failure: 1.
    agent.stop();
    EXPECT_EQ(testutil::runCommand(raidc + " locate get ld 0 0 2>/dev/null", &out), 1);
}

} // namespace
