// The locate calls against agents that misbehave, each a process of its own:
// however the peer trickles, floods, stalls or answers, a call ends within
// the exchange's bound with its result code, and a peer of another user is
// not listened to.
#include "peers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>

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

TEST(CmdSocket, TricklingOrFloodingAgentIsCutOffAtTheBound)
{
    testutil::loadTree(tree("MR"));
    const std::pair<const char *, std::function<void(int)>> peers[] = {
        {"one byte every 0.3 s",
         [](int l) {
             int c = acceptRequest(l);
             for (;;) {
                 if (write(c, "x", 1) != 1)
                     return;
                 usleep(300000);
             }
         }},
        {"bytes as fast as they go",
         [](int l) {
             int c = acceptRequest(l);
             std::string junk(4096, 'x');
             while (write(c, junk.data(), junk.size()) > 0) {
             }
         }},
    };
    for (auto &p : peers) {
        FakeAgent agent(p.second);
        Timed t = getPdLocate();
        EXPECT_EQ(t.result, RAIDC_SOCK_TIMEOUT) << p.first;
        EXPECT_EQ(t.value, 0) << p.first;
        EXPECT_GE(t.took, kBound - 0.5) << p.first;
        EXPECT_LT(t.took, kBound + kSlack) << p.first;
    }
}

TEST(CmdSocket, AgentThatNeverAcceptsWithAFullBacklog)
{
    testutil::loadTree(tree("MR"));
    FakeAgent agent([](int) { pause(); }, 0, 0);
    // Fill the backlog with connections nobody will accept.
    std::vector<int> queued;
    struct sockaddr_un a = {};
    a.sun_family = AF_UNIX;
    strcpy(a.sun_path, RAIDC_CMD_SOCKET_PATH);
    for (int i = 0; i < 16; ++i) {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        queued.push_back(fd);
        if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            ASSERT_EQ(errno, EAGAIN);
            break;
        }
    }
    Timed t = getPdLocate();
    EXPECT_EQ(t.result, RAIDC_SOCK_SYSCALL_FAILED);
    EXPECT_LT(t.took, kBound + kSlack);
    for (int fd : queued)
        close(fd);
}

TEST(CmdSocket, AgentOfAnotherUserIsRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to start a peer under another uid";
    testutil::loadTree(tree("MR"));
    // It would answer properly, but nobody should have asked it.
    FakeAgent agent(
        [](int l) {
            for (;;) {
                std::string reply = header(4, 3);
                if (write(acceptRequest(l), reply.data(), reply.size()) < 0)
                    return;
            }
        },
        65534);
    Timed t = getPdLocate();
    EXPECT_EQ(t.result, RAIDC_SOCK_SYSCALL_FAILED);
    EXPECT_EQ(t.value, 0);
    EXPECT_LT(t.took, 1.0);
}

TEST(CmdSocket, ReplyHeaderFieldsMustBeEightHexDigits)
{
    testutil::loadTree(tree("MR"));
    std::string good = header(4, 0xA);
    auto with = [&](size_t at, const char *field) { return good.substr(0, at) + field + good.substr(at + 8); };
    const std::pair<std::string, int32_t> replies[] = {
        {with(65, "0000000A"), RAIDC_SOCK_DONE},           // upper case is hex too
        {with(65, "zzzzzzzz"), RAIDC_SOCK_SYSCALL_FAILED}, // value
        {with(65, "0000000g"), RAIDC_SOCK_SYSCALL_FAILED},
        {with(65, " 000000a"), RAIDC_SOCK_SYSCALL_FAILED},
        {with(65, "+000000a"), RAIDC_SOCK_SYSCALL_FAILED},
        {with(65, "0x00000a"), RAIDC_SOCK_SYSCALL_FAILED},
        {with(1, "-0000001"), RAIDC_SOCK_SYSCALL_FAILED},  // processId
        {with(73, "0000000 "), RAIDC_SOCK_SYSCALL_FAILED}, // dataLength
    };
    for (auto &r : replies) {
        std::string reply = r.first;
        FakeAgent agent([reply](int l) {
            for (;;) {
                if (write(acceptRequest(l), reply.data(), reply.size()) < 0)
                    return;
            }
        });
        Timed t = getPdLocate();
        EXPECT_EQ(t.result, r.second) << reply;
        EXPECT_EQ(t.value, r.second == RAIDC_SOCK_DONE ? 10 : 0) << reply;
        EXPECT_LT(t.took, 1.0) << reply;
    }
}

// raidc-agent-sim's side: a peer of another user gets nothing, and a client
// that floods requests without reading replies starves nobody.
TEST(Locate, SimulatorRefusesOtherUsersAndServesBesideAFlooder)
{
    testutil::loadTree(tree("MR"));
    if (geteuid() == 0) {
        Agent agent;
        chmod(RAIDC_CMD_SOCKET_PATH, 0777); // as in a folder open to everyone
        pid_t child = fork();
        if (child == 0) {
            // Exit 0: the agent hung up (or reset) without answering.
            if (setuid(65534) != 0)
                _exit(2);
            int fd = socket(AF_UNIX, SOCK_STREAM, 0);
            struct sockaddr_un a = {};
            a.sun_family = AF_UNIX;
            strcpy(a.sun_path, RAIDC_CMD_SOCKET_PATH);
            std::string req = header(4, 0);
            char c;
            struct pollfd p = {fd, POLLIN, 0};
            if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
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

    Agent agent({}, false); // a log line per flooded request would fill its pipe
    int flood = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    struct sockaddr_un a = {};
    a.sun_family = AF_UNIX;
    strcpy(a.sun_path, RAIDC_CMD_SOCKET_PATH);
    ASSERT_EQ(connect(flood, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    // Requests until nothing more goes in for a while: the agent's replies
    // to us have filled our side, and it has stopped reading ours.
    std::string req = header(4, 0);
    auto quiet = std::chrono::steady_clock::now();
    for (long sent = 0; seconds(quiet) < 0.3;) {
        if (send(flood, req.data(), req.size(), MSG_NOSIGNAL) > 0) {
            quiet = std::chrono::steady_clock::now();
            ++sent;
        } else {
            usleep(10000);
        }
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
