// The locate commands end to end: identifiers from a real device tree, the
// process's client object, and raidc-agent-sim serving the command socket in
// a child process that logs every command it receives. Against agents that
// misbehave, a call ends within the exchange's bound with its result code,
// and a peer of another user is not listened to.
#include "peers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sys/stat.h>
#include <thread>
#include <tuple>

namespace {

using namespace cmdtest;

// The exchange's bound in the library, and what a test allows on top of it.
constexpr double kBound = 4.0, kSlack = 1.0;

double seconds(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

struct Timed {
    int32_t result;
    int32_t value;
    double took;
};

Timed getPdLocate()
{
    Timed t{0, -5, 0};
    auto t0 = std::chrono::steady_clock::now();
    t.result = RaidC_GetPhysicalDriveLocate(0, 0, &t.value);
    t.took = seconds(t0);
    return t;
}

TEST(Locate, SetAndGetRoundTripWithIdentifiersSplitIntoHalvesAndTheFamilyCoded)
{
    testutil::loadTree(tree("MR"));
    PeerProcess agent(simulator());
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
    EXPECT_EQ(agent.line(), "command 2 arg1 2 arg2 1 arg3 3 arg4 0 arg5 10 value 0");
    EXPECT_EQ(v, -7);

    // The family code follows the controller's family text.
    const std::pair<const char *, const char *> families[] = {
        {"MR", "10"}, {"PCIeSSD", "11"}, {"MR/PCIeSSD", "11"}, {"SAS HBA", "0"}};
    for (auto &[family, code] : families) {
        testutil::loadTree(tree(family, "1"));
        ASSERT_EQ(RaidC_SetPhysicalDriveLocate(0, 0, 1), 0) << family;
        EXPECT_EQ(agent.line(), std::string("command 5 arg1 1 arg2 0 arg3 8 arg4 0 arg5 ") + code + " value 1");
    }
    EXPECT_EQ(agent.stop(), 0);
}

TEST(Locate, MissingIdentifiersSendNothing)
{
    // No agent at all: a call that tried to connect would fail with 10.
    testutil::makePathDirs();
    unlink(RAIDC_CMD_SOCKET_PATH);
    int32_t v = 5;
    testutil::onNeverRefreshedCache([] {
        int32_t untouched = 5;
        EXPECT_EQ(RaidC_GetLogicalDriveLocate(0, 0, &untouched), RAIDC_SOCK_WAIT_FAILED);
        EXPECT_EQ(untouched, 5);
    });
    testutil::loadTree(tree("MR"));
    EXPECT_EQ(RaidC_SetPhysicalDriveLocate(0, 2, 1), RAIDC_SOCK_WAIT_FAILED);
    EXPECT_EQ(RaidC_SetLogicalDriveLocate(1, 0, 1), RAIDC_SOCK_WAIT_FAILED);
    EXPECT_EQ(RaidC_GetPhysicalDriveLocate(0, -1, &v), RAIDC_SOCK_WAIT_FAILED);
    EXPECT_EQ(v, 5);
    testutil::loadTree(tree(std::string(65, 'M'))); // does not fit the 64-byte text
    EXPECT_EQ(RaidC_SetPhysicalDriveLocate(0, 0, 1), RAIDC_SOCK_WAIT_FAILED);
    testutil::loadTree(tree("MR", "ctrl-7"));
    EXPECT_EQ(RaidC_SetPhysicalDriveLocate(0, 0, 1), RAIDC_SOCK_WAIT_FAILED);
}

// An agent sending junk before each reply; then the agent restarts: its old
// connection is dead, and the first call after the restart finds that out
// before sending.
TEST(Locate, BrokenRepliesFailAndTheNextCallReconnects)
{
    testutil::loadTree(tree("MR"));
    int32_t v = 0;
    {
        PeerProcess junk(simulator({"--garbage"}));
        ASSERT_EQ(RaidC_SetLogicalDriveLocate(0, 0, 6), 0);
        ASSERT_EQ(RaidC_GetLogicalDriveLocate(0, 0, &v), 0);
        EXPECT_EQ(v, 6);
    }
    PeerProcess restarted(simulator());
    EXPECT_EQ(RaidC_SetPhysicalDriveLocate(0, 0, 5), 0);
    EXPECT_EQ(restarted.line(), "command 5 arg1 2 arg2 1 arg3 8 arg4 0 arg5 10 value 5");
}

TEST(Locate, ConcurrentCallersAreServedOneAfterAnother)
{
    testutil::loadTree(tree("MR"));
    PeerProcess agent(simulator({"--slow", "5"}));
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

TEST(CmdSocket, MisbehavingAgentsGetTheirResultWithinTheBound)
{
    testutil::loadTree(tree("MR"));
    struct Case {
        std::string what;
        std::function<pid_t(int)> peer;
        int32_t result, value;
        double atLeast, below;
        bool fillBacklog = false;
        bool simulated = false;
    };
    const double cut = kBound - 0.5, late = kBound + kSlack;
    std::vector<Case> cases = {
        {"silent", simulator({"--silent"}), RAIDC_SOCK_TIMEOUT, 0, 0, kBound, false, true},
        {"hangs up mid-reply", simulator({"--close-mid", "--once"}), RAIDC_SOCK_SYSCALL_FAILED, 0, 0, kBound, false,
         true},
        {"one byte every 0.3 s", StandIn{.reply = "x", .repeat = true, .every = 300000}, RAIDC_SOCK_TIMEOUT, 0, cut,
         late},
        {"bytes as fast as they go", StandIn{.reply = std::string(4096, 'x'), .repeat = true}, RAIDC_SOCK_TIMEOUT, 0,
         cut, late},
        {"never accepts, its backlog full", StandIn{.accepts = false, .backlog = 0}, RAIDC_SOCK_SYSCALL_FAILED, 0, 0,
         late, true},
    };
    // It would answer properly, but nobody should have asked it.
    if (geteuid() == 0)
        cases.push_back(
            {"another user", StandIn{.reply = header(4, 3), .uid = 65534}, RAIDC_SOCK_SYSCALL_FAILED, 0, 0, 1});
    // Reply header fields must be eight hex digits.
    const std::string good = header(4, 0xA);
    const std::tuple<size_t, const char *, int32_t> fields[] = {
        {65, "0000000A", RAIDC_SOCK_DONE},           // upper case is hex too
        {65, "0000000g", RAIDC_SOCK_SYSCALL_FAILED}, // value
        {65, " 000000a", RAIDC_SOCK_SYSCALL_FAILED}, {65, "0x00000a", RAIDC_SOCK_SYSCALL_FAILED},
        {1, "-0000001", RAIDC_SOCK_SYSCALL_FAILED},  // processId
        {73, "0000000 ", RAIDC_SOCK_SYSCALL_FAILED}, // dataLength
    };
    for (auto &[at, field, result] : fields) {
        std::string reply = good.substr(0, at) + field + good.substr(at + 8);
        cases.push_back({reply, StandIn{.reply = reply}, result, result == RAIDC_SOCK_DONE ? 10 : 0, 0, 1});
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        PeerProcess agent(c.peer);
        // Fill the backlog with connections nobody will accept.
        std::vector<int> queued;
        for (int i = 0; i < 16 && c.fillBacklog; ++i) {
            queued.push_back(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0));
            if (atAgentPath(connect, queued.back()) != 0) {
                EXPECT_EQ(errno, EAGAIN);
                break;
            }
        }
        Timed t = getPdLocate();
        EXPECT_EQ(t.result, c.result);
        EXPECT_EQ(t.value, c.value);
        EXPECT_GE(t.took, c.atLeast);
        EXPECT_LT(t.took, c.below);
        for (int fd : queued)
            close(fd);
        EXPECT_TRUE(!c.simulated || agent.stop() == 0) << "raidc-agent-sim ends cleanly, even after a broken exchange";
    }
}

// raidc-agent-sim's side: a peer of another user gets nothing, and a client
// that floods requests without reading replies starves nobody.
TEST(Locate, SimulatorRefusesOtherUsersAndServesBesideAFlooder)
{
    testutil::loadTree(tree("MR"));
    if (geteuid() == 0) {
        PeerProcess agent(simulator());
        chmod(RAIDC_CMD_SOCKET_PATH, 0777); // as in a folder open to everyone
        pid_t child = fork();
        if (child == 0) {
            // Exit 0: the agent hung up (or reset) without answering.
            if (setuid(65534) != 0)
                _exit(2);
            int fd = socket(AF_UNIX, SOCK_STREAM, 0);
            std::string req = header(4, 0);
            char c;
            struct pollfd p = {fd, POLLIN, 0};
            if (atAgentPath(connect, fd) != 0)
                _exit(3);
            if (send(fd, req.data(), req.size(), MSG_NOSIGNAL) < 0) // hung up already
                _exit(0);
            _exit(poll(&p, 1, 3000) == 1 && read(fd, &c, 1) <= 0 ? 0 : 1);
        }
        int st = -1;
        waitpid(child, &st, 0);
        EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "status " << st;
        EXPECT_EQ(agent.line(), "refused a client of uid 65534");
    }

    PeerProcess agent(simulator({}, false)); // a log line per flooded request would fill its pipe
    int flood = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ASSERT_EQ(atAgentPath(connect, flood), 0);
    // Requests until nothing more goes in for a while: the agent's replies
    // to us have filled our side, and it has stopped reading ours.
    std::string req = header(4, 0);
    auto quiet = std::chrono::steady_clock::now();
    while (seconds(quiet) < 0.3) {
        if (send(flood, req.data(), req.size(), MSG_NOSIGNAL) > 0)
            quiet = std::chrono::steady_clock::now();
        else
            usleep(10000);
    }
    Timed t = getPdLocate();
    EXPECT_EQ(t.result, RAIDC_SOCK_DONE);
    EXPECT_LT(t.took, 1.0);
    // The flooder's reply has not moved for seconds: it is let go.
    struct pollfd hup = {flood, POLLRDHUP, 0};
    EXPECT_EQ(poll(&hup, 1, 8000), 1);
    close(flood);
}

} // namespace
