// The locate commands end to end: identifiers from a real device tree, the
// process's client object, and raidc-agent-sim serving the command socket in
// a child process that logs every command it receives. Against agents that
// misbehave, a call ends within the exchange's bound with its result code,
// and a peer of another user is not listened to.
#include "peers.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/stat.h>
#include <thread>

namespace {

using namespace cmdtest;
using testutil::seconds;

// A locate call as a transcript line: the call, its result and, for a get,
// the value it left (the -5 it starts with where it wrote none).
std::string call(const char *name, int32_t (*fn)(int, int, int32_t), int ctrl, int dev, int32_t value)
{
    return format("%s(%d, %d, %d) = %d\n", name, ctrl, dev, value, fn(ctrl, dev, value));
}
std::string call(const char *name, int32_t (*fn)(int, int, int32_t *), int ctrl, int dev)
{
    int32_t v = -5;
    const int32_t r = fn(ctrl, dev, &v);
    return format("%s(%d, %d) = %d %d\n", name, ctrl, dev, r, v);
}

// Each call with the command the agent logged for it. CtrlId 2^32+2 and
// DeviceNumber 2^32+9 go low half first; the family code follows the
// controller's family text.
TEST(Locate, SetAndGetRoundTripWithIdentifiersSplitIntoHalvesAndTheFamilyCoded)
{
    testutil::loadTree(tree("MR"));
    PeerProcess agent(simulator());
    auto logged = [&agent](const std::string &line) { return line + agent.line() + "\n"; };
    std::string log = logged(call("SetPD", RaidC_SetPhysicalDriveLocate, 0, 1, 2));
    log += logged(call("GetPD", RaidC_GetPhysicalDriveLocate, 0, 1));
    log += logged(call("SetLD", RaidC_SetLogicalDriveLocate, 0, 0, -7));
    log += logged(call("GetLD", RaidC_GetLogicalDriveLocate, 0, 0));
    for (const char *family : {"PCIeSSD", "MR/PCIeSSD", "SAS HBA"}) {
        testutil::loadTree(tree(family, "1"));
        log += logged(family + (": " + call("SetPD", RaidC_SetPhysicalDriveLocate, 0, 0, 1)));
    }
    EXPECT_EQ(agent.stop(), 0);
    testutil::expectGolden("cmd/golden/locate-round-trip.txt", log);
}

TEST(Locate, MissingIdentifiersSendNothing)
{
    // No agent at all: a call that tried to connect would fail with 10.
    testutil::makePathDirs();
    unlink(RAIDC_CMD_SOCKET_PATH);
    testutil::onNeverRefreshedCache(
        [] { EXPECT_EQ(call("GetLD", RaidC_GetLogicalDriveLocate, 0, 0), "GetLD(0, 0) = 4 -5\n"); });
    testutil::loadTree(tree(std::string(65, 'M'))); // does not fit the 64-byte text
    EXPECT_EQ(RaidC_SetPhysicalDriveLocate(0, 0, 1), 4);
    testutil::loadTree(tree("MR", "ctrl-7"));
    EXPECT_EQ(RaidC_SetPhysicalDriveLocate(0, 0, 1), 4);
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
        double atLeast, below;
        bool fillBacklog = false, simulated = false;
    };
    // The exchange's bound in the library is 4 s; a test allows 1 s on top.
    const double bound = 4.0, cut = bound - 0.5, late = bound + 1.0;
    std::vector<Case> cases = {
        {"silent", simulator({"--silent"}), 0, bound, false, true},
        {"hangs up mid-reply", simulator({"--close-mid", "--once"}), 0, bound, false, true},
        {"one byte every 0.3 s", StandIn{.reply = "x", .repeat = true, .every = 300000}, cut, late},
        {"bytes as fast as they go", StandIn{.reply = std::string(4096, 'x'), .repeat = true}, cut, late},
        {"never accepts, its backlog full", StandIn{.accepts = false, .backlog = 0}, 0, late, true},
    };
    // Reply header fields, the first to the last, must be eight hex digits; upper case is hex too.
    const std::string good = header(4, 0xA);
    for (auto &[at, field] :
         {std::pair<size_t, const char *>{65, "0000000A"}, {65, "0000000g"}, {1, "-0000001"}, {73, "0000000 "}}) {
        std::string reply = good.substr(0, at) + field + good.substr(at + 8);
        cases.push_back({reply, StandIn{.reply = reply}, 0, 1});
    }
    // It would answer properly, but nobody should have asked it.
    if (geteuid() == 0)
        cases.push_back({"another user", StandIn{.reply = header(4, 3), .uid = 65534}, 0, 1});
    std::string log;
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
        const double t0 = seconds();
        const std::string line = c.what + ": " + call("GetPD", RaidC_GetPhysicalDriveLocate, 0, 0);
        EXPECT_GE(seconds() - t0, c.atLeast);
        EXPECT_LT(seconds() - t0, c.below);
        for (int fd : queued)
            close(fd);
        EXPECT_TRUE(!c.simulated || agent.stop() == 0) << "raidc-agent-sim ends cleanly, even after a broken exchange";
        if (c.what == "another user") // only where the test may take on another user
            EXPECT_EQ(line, "another user: GetPD(0, 0) = 10 0\n");
        else
            log += line;
    }
    testutil::expectGolden("cmd/golden/misbehaving-agents.txt", log);
}

// raidc-agent-sim's side: a peer of another user gets nothing, and a client
// that floods requests without reading replies starves nobody.
TEST(Locate, SimulatorRefusesOtherUsersAndServesBesideAFlooder)
{
    testutil::loadTree(tree("MR"));
    const std::string req = header(4, 0);
    if (geteuid() == 0) {
        PeerProcess agent(simulator());
        chmod(RAIDC_CMD_SOCKET_PATH, 0777); // as in a folder open to everyone
        pid_t child = fork();
        if (child == 0) {
            // Exit 0: the agent hung up (or reset) without answering.
            const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
            char c;
            if (setuid(65534) != 0 || atAgentPath(connect, fd) != 0) // the agent sees the uid of the connect
                _exit(2);
            if (send(fd, req.data(), req.size(), MSG_NOSIGNAL) < 0) // hung up already
                _exit(0);
            _exit(testutil::readable(fd, 3000) && read(fd, &c, 1) <= 0 ? 0 : 1);
        }
        EXPECT_EQ(testutil::waitChild(child), 0);
        EXPECT_EQ(agent.line(), "refused a client of uid 65534");
    }

    PeerProcess agent(simulator({}, false)); // a log line per flooded request would fill its pipe
    int flood = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ASSERT_EQ(atAgentPath(connect, flood), 0);
    // Requests until nothing more goes in for a while: the agent's replies
    // to us have filled our side, and it has stopped reading ours.
    for (double quiet = seconds(); seconds() - quiet < 0.3;) {
        if (send(flood, req.data(), req.size(), MSG_NOSIGNAL) > 0)
            quiet = seconds();
        else
            usleep(10000);
    }
    const double t0 = seconds();
    int32_t v = -1;
    EXPECT_EQ(RaidC_GetPhysicalDriveLocate(0, 0, &v), RAIDC_SOCK_DONE);
    EXPECT_LT(seconds() - t0, 1.0);
    // The flooder's reply has not moved for seconds: it is let go.
    struct pollfd hup = {flood, POLLRDHUP, 0};
    EXPECT_EQ(poll(&hup, 1, 8000), 1);
    close(flood);
}

} // namespace
