// The system call wrappers under signals: interrupted calls carry on.
#include "testutil.h"
#include "unix/libunix.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A timer signal every 20 ms, delivered without SA_RESTART.
struct Interrupter {
    Interrupter()
    {
        struct sigaction sa = {};
        sa.sa_handler = [](int) {};
        sigaction(SIGALRM, &sa, &old);
        struct itimerval it = {{0, 20000}, {0, 20000}};
        setitimer(ITIMER_REAL, &it, nullptr);
    }
    ~Interrupter()
    {
        struct itimerval off = {};
        setitimer(ITIMER_REAL, &off, nullptr);
        sigaction(SIGALRM, &old, nullptr);
    }
    struct sigaction old;
};

TEST(Unix, SleepPollAndSelectWaitTheirFullTimeThroughSignals)
{
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    Interrupter irq;
    struct pollfd fd = {p[0], POLLIN, 0};
    const std::function<int()> waits[] = {[] { return select_sleep(0, 200000); },
                                          [&] { return sigwrap_poll(&fd, 1, 200); }};
    for (const auto &wait : waits) {
        double t0 = testutil::seconds();
        EXPECT_EQ(wait(), 0);
        EXPECT_GE(testutil::seconds() - t0, 0.19);
    }
    SKIP_UNDER_EMULATOR("does not report the time left from an interrupted select");
    fd_set rd;
    FD_ZERO(&rd);
    FD_SET(p[0], &rd);
    struct timeval tv = {0, 200000};
    double t0 = testutil::seconds();
    EXPECT_EQ(sigwrap_select(p[0] + 1, &rd, nullptr, nullptr, &tv), 0);
    EXPECT_GE(testutil::seconds() - t0, 0.19);
    ASSERT_EQ(write(p[1], "x", 1), 1); // readiness, after an interruption, with the sets intact
    FD_ZERO(&rd);
    FD_SET(p[0], &rd);
    tv = {1, 0};
    EXPECT_EQ(sigwrap_select(p[0] + 1, &rd, nullptr, nullptr, &tv), 1);
    EXPECT_TRUE(FD_ISSET(p[0], &rd));
    EXPECT_EQ(sigwrap_close(p[0]), 0);
    EXPECT_EQ(sigwrap_close(p[1]), 0);
    EXPECT_EQ(sigwrap_close(p[1]), -1);
}

} // namespace

// A connect within a bound leaves the socket non-blocking; one still in
// progress (TCP on the loopback) is waited for, not refused.
TEST(Unix, AcceptFailsAtOnceAndConnectsWaitInProgressButNotOnAFullBacklog)
{
    EXPECT_EQ(sigwrap_accept(-1, nullptr, nullptr), -1);
    EXPECT_EQ(errno, EBADF);
    struct sockaddr_un u = {};
    u.sun_family = AF_UNIX;
    snprintf(u.sun_path, sizeof u.sun_path, "/tmp/raidc-unix-test-%d.sock", static_cast<int>(getpid()));
    unlink(u.sun_path);
    auto uaddr = reinterpret_cast<const sockaddr *>(&u);
    const int ul = socket(AF_UNIX, SOCK_STREAM, 0), first = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(bind(ul, uaddr, sizeof u), 0);
    ASSERT_EQ(listen(ul, 0), 0);
    EXPECT_EQ(sigwrap_connect_within(first, uaddr, sizeof u, 100), 0);
    EXPECT_TRUE(fcntl(first, F_GETFL) & O_NONBLOCK);
    const int refused = socket(AF_UNIX, SOCK_STREAM, 0); // the backlog is full now
    double t0 = testutil::seconds();
    EXPECT_EQ(sigwrap_connect_within(refused, uaddr, sizeof u, 200), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_GE(testutil::seconds() - t0, 0.19);
    EXPECT_LT(testutil::seconds() - t0, 1.0);
    unlink(u.sun_path);
    const int l = socket(AF_INET, SOCK_STREAM, 0), c = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(l, reinterpret_cast<sockaddr *>(&a), len), 0);
    ASSERT_EQ(listen(l, 0), 0);
    ASSERT_EQ(getsockname(l, reinterpret_cast<sockaddr *>(&a), &len), 0);
    EXPECT_EQ(sigwrap_connect_within(c, reinterpret_cast<sockaddr *>(&a), len, 1000), 0);
    // A blocking connect interrupted while the full backlog drops its SYN
    // goes on in the background: it is waited for, once room is made.
    const int second = socket(AF_INET, SOCK_STREAM, 0);
    pid_t child = fork();
    if (child == 0) {
        Interrupter irq;
        _exit(sigwrap_connect(second, reinterpret_cast<sockaddr *>(&a), len) == 0 ? 0 : 1);
    }
    usleep(200000);
    close(accept(l, nullptr, nullptr));
    const int st = testutil::waitChild(child, 5000);
    if (st < 0)
        testutil::stopChild(child); // still waiting after 5 s
    EXPECT_EQ(st, 0);
    for (int fd : {ul, first, refused, c, l, second})
        close(fd);
}
