// The locate commands end to end: identifiers from a real device tree, the
// process's client object, and raidc-agent-sim serving the command socket in
// a child process that logs every command it receives.
#include "testutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

class Agent {
public:
    explicit Agent(std::vector<std::string> opts = {})
    {
        testutil::makePathDirs();
        // Everything the child needs is made before fork: it only execs.
        std::vector<std::string> cmd = testutil::toolArgv("raidc-agent-sim", {"serve", "--log"});
        cmd.insert(cmd.end(), opts.begin(), opts.end());
        std::vector<char *> argv;
        for (std::string &a : cmd)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int fds[2];
        if (pipe(fds) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        out_ = fdopen(fds[0], "r");
        EXPECT_EQ(line(), "ready");
    }
    ~Agent() { stop(); }

    // The next line the agent printed ("" once it has gone).
    std::string line()
    {
        char buf[256];
        if (!out_ || !fgets(buf, sizeof buf, out_))
            return "";
        std::string s = buf;
        if (!s.empty() && s.back() == '\n')
            s.pop_back();
        return s;
    }

    // Stops the agent; its exit status (0 = clean).
    int stop()
    {
        if (pid_ <= 0)
            return -1;
        kill(pid_, SIGTERM);
        int st = 0;
        waitpid(pid_, &st, 0);
        pid_ = -1;
        if (out_)
            fclose(out_);
        out_ = nullptr;
        return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }

private:
    pid_t pid_ = -1;
    FILE *out_ = nullptr;
};

// One controller: two physical drives, one logical drive.
std::string tree(const std::string &family, const std::string &ctrlId = "4294967298")
{
    return testutil::wrapSystem({"<CtrlId>" + ctrlId + "</CtrlId><ControllerFamily>" + family +
                                 "</ControllerFamily>"
                                 "<LogicalDrive Nr=\"0\"><LogDriveNumber>3</LogDriveNumber></LogicalDrive>"
                                 "<PhysicalDrive Nr=\"0\"><DeviceNumber>8</DeviceNumber></PhysicalDrive>"
                                 "<PhysicalDrive Nr=\"1\"><DeviceNumber>4294967305</DeviceNumber></PhysicalDrive>"});
}

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
    testutil::makePathDirs();
    unlink(RAIDC_CMD_SOCKET_PATH);
    int32_t v = 5;
    EXPECT_EQ(RaidC_GetLogicalDriveLocate(0, 0, &v), RAIDC_SOCK_WAIT_FAILED); // cache empty
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

TEST(Locate, AgentHangingUpMidReplyThenANewAgent)
{
    testutil::loadTree(tree("MR"));
    int32_t v = -5;
    {
        Agent bad({"--close-mid", "--once"});
        EXPECT_EQ(RaidC_GetPhysicalDriveLocate(0, 0, &v), RAIDC_SOCK_SYSCALL_FAILED);
        EXPECT_EQ(v, 0);
        EXPECT_EQ(bad.stop(), 0);
    }
    Agent good;
    // The first exchange finds the dead connection and drops it; the next
    // one reconnects.
    EXPECT_NE(RaidC_SetPhysicalDriveLocate(0, 0, 4), 0);
    EXPECT_EQ(RaidC_SetPhysicalDriveLocate(0, 0, 4), 0);
    EXPECT_EQ(RaidC_GetPhysicalDriveLocate(0, 0, &v), 0);
    EXPECT_EQ(v, 4);
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
    EXPECT_EQ(testutil::runCommand(raidc + " locate get pd 0 9 2>/dev/null", &out), 1);
    EXPECT_EQ(testutil::runCommand(raidc + " locate set pd 0 2>/dev/null", &out), 2);
}

} // namespace
