// Command channel cost against its floor: a locate round trip (and the bare
// exchange under it) to raidc-agent-sim in a child process, as a multiple of
// a plain non-blocking ping-pong of 81 bytes with a child process measured in
// the same run; and the framing cost of one send plus one receive step.
// The two-process figures pin this process and its children to CPU 0, as
// the floor's "one CPU" row does: unpinned they jump between placements.
#include "bench_util.h"

#include <benchmark/benchmark.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr size_t kMsg = RAIDC_CMD_HEADER_LEN;

void waitReadable(int fd)
{
    fd_set rd;
    FD_ZERO(&rd);
    FD_SET(fd, &rd);
    select(fd + 1, &rd, nullptr, nullptr, nullptr);
}

// Reads exactly n bytes from a non-blocking descriptor, select before each read.
bool readAll(int fd, char *buf, size_t n)
{
    for (size_t got = 0; got < n;) {
        waitReadable(fd);
        ssize_t r = read(fd, buf + got, n - got);
        if (r == 0 || (r < 0 && errno != EAGAIN))
            return false;
        got += r > 0 ? static_cast<size_t>(r) : 0;
    }
    return true;
}

// Pins the process (and the children it starts) to CPU 0 while in scope.
class PinnedToCpu0 {
public:
    PinnedToCpu0()
    {
        sched_getaffinity(0, sizeof old_, &old_);
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(0, &one);
        sched_setaffinity(0, sizeof one, &one);
    }
    ~PinnedToCpu0() { sched_setaffinity(0, sizeof old_, &old_); }

private:
    cpu_set_t old_;
};

void stopChild(pid_t pid)
{
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

void BM_BarePingPong81(benchmark::State &state)
{
    PinnedToCpu0 pin;
    int sv[2];
    socketpair(AF_UNIX, SOCK_STREAM, 0, sv);
    fcntl(sv[0], F_SETFL, O_NONBLOCK);
    fcntl(sv[1], F_SETFL, O_NONBLOCK);
    pid_t pid = fork();
    if (pid == 0) {
        close(sv[0]);
        char buf[kMsg];
        while (readAll(sv[1], buf, kMsg) && write(sv[1], buf, kMsg) == static_cast<ssize_t>(kMsg)) {
        }
        _exit(0);
    }
    close(sv[1]);
    char buf[kMsg];
    memset(buf, 'S', sizeof buf);
    for (auto _ : state) {
        if (write(sv[0], buf, kMsg) != static_cast<ssize_t>(kMsg) || !readAll(sv[0], buf, kMsg)) {
            state.SkipWithError("ping-pong peer failed");
            break;
        }
    }
    close(sv[0]);
    stopChild(pid);
}
BENCHMARK(BM_BarePingPong81)->Unit(benchmark::kMicrosecond);

// raidc-agent-sim serving the command socket until the benchmark ends, with
// the device tree loaded for the identifier look-ups.
pid_t startAgent()
{
    benchutil::loadTree(1, 8); // also makes the folder above the socket's
    std::string dir = RAIDC_CMD_SOCKET_PATH;
    mkdir(dir.substr(0, dir.rfind('/')).c_str(), 0755);
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        const char *tool = RAIDC_TOOLS_DIR "/raidc-agent-sim";
        execl(tool, tool, "serve", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    char line[16] = {};
    ssize_t n = read(fds[0], line, sizeof line - 1);
    close(fds[0]);
    if (n < 5 || strncmp(line, "ready", 5) != 0) {
        stopChild(pid);
        return -1;
    }
    return pid;
}

void BM_LocateRoundTrip(benchmark::State &state)
{
    PinnedToCpu0 pin;
    pid_t agent = startAgent();
    if (agent < 0) {
        state.SkipWithError("raidc-agent-sim did not start");
        return;
    }
    int32_t v = 0;
    // The process's client object may still hold the connection to the
    // agent of an earlier run: the first call finds it dead and closes it.
    if (RaidC_GetPhysicalDriveLocate(0, 0, &v) != 0)
        RaidC_GetPhysicalDriveLocate(0, 0, &v);
    for (auto _ : state) {
        if (RaidC_GetPhysicalDriveLocate(0, 0, &v) != 0) {
            state.SkipWithError("locate failed");
            break;
        }
    }
    stopChild(agent);
}
BENCHMARK(BM_LocateRoundTrip)->Unit(benchmark::kMicrosecond);

// The same exchange without the identifier look-ups.
void BM_ExchangeRoundTrip(benchmark::State &state)
{
    PinnedToCpu0 pin;
    pid_t agent = startAgent();
    RaidCCmdSocket s;
    initData_RaidCCmdSocket(&s, 0);
    s.header.command = RAIDC_CMD_GET_PD_LOCATE;
    for (auto _ : state) {
        if (agent < 0 || raidc_SendReceiveCmd(&s) != 0) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
    close_RaidCCmdSocket(&s);
    if (agent > 0)
        stopChild(agent);
}
BENCHMARK(BM_ExchangeRoundTrip)->Unit(benchmark::kMicrosecond);

// Framing: one send step and one receive step of a whole message over a
// socketpair in this process; range(0) is the payload length. The bare
// write and read of the same bytes is the floor.
struct Pair {
    int sv[2];
    RaidCCmdSocket tx, rx;
    Pair()
    {
        socketpair(AF_UNIX, SOCK_STREAM, 0, sv);
        for (int i = 0; i < 2; ++i)
            fcntl(sv[i], F_SETFL, O_NONBLOCK);
        initData_RaidCCmdSocket(&tx, 0);
        initData_RaidCCmdSocket(&rx, 0);
        tx.SocketFd = sv[0];
        rx.SocketFd = sv[1];
        tx.isConnected = rx.isConnected = 1;
    }
    ~Pair()
    {
        close_RaidCCmdSocket(&tx);
        close_RaidCCmdSocket(&rx);
    }
};

void BM_FramingSendReceive(benchmark::State &state)
{
    Pair p;
    std::string text(static_cast<size_t>(state.range(0)), 'p');
    for (auto _ : state) {
        p.tx.data = text.empty() ? nullptr : text.data();
        p.tx.header.dataLength = 0;
        if (sendData_RaidCCmdSocket(&p.tx) != 0) {
            state.SkipWithError("send step incomplete");
            break;
        }
        int32_t r;
        while ((r = receiveData_RaidCCmdSocket(&p.rx)) == RAIDC_SOCK_RECV_AGAIN) {
        }
        free(p.rx.data);
        p.rx.data = nullptr;
        if (r != 0) {
            state.SkipWithError("receive failed");
            break;
        }
    }
}
BENCHMARK(BM_FramingSendReceive)->Arg(0)->Arg(64);

void BM_BareWriteRead(benchmark::State &state)
{
    Pair p;
    size_t n = kMsg + (state.range(0) ? static_cast<size_t>(state.range(0)) + 1 : 0);
    std::string out(n, 'S'), in(n, '\0');
    for (auto _ : state) {
        if (write(p.sv[0], out.data(), n) != static_cast<ssize_t>(n) ||
            read(p.sv[1], in.data(), n) != static_cast<ssize_t>(n)) {
            state.SkipWithError("bare write/read failed");
            break;
        }
    }
}
BENCHMARK(BM_BareWriteRead)->Arg(0)->Arg(64);

} // namespace
