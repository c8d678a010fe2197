// Peers for the command channel tests, each in a process of its own:
// raidc-agent-sim serving the socket, and a stand-in agent forked from the
// test that misbehaves as the test asks.
#pragma once

#include "testutil.h"

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace cmdtest {

// bind or connect on the command socket path; the call's result.
inline int atAgentPath(int (*call)(int, const sockaddr *, socklen_t), int fd)
{
    struct sockaddr_un a = {AF_UNIX, RAIDC_CMD_SOCKET_PATH};
    return call(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
}

// A peer in a child process: `start` starts it with the write end of a pipe
// on which it says "ready" (and whatever else it logs), and gives its process
// id; stopped when the object goes.
class PeerProcess {
public:
    PeerProcess(const PeerProcess &) = delete; // one owner stops the process
    PeerProcess &operator=(const PeerProcess &) = delete;
    explicit PeerProcess(const std::function<pid_t(int out)> &start)
    {
        testutil::makePathDirs();
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        pid_ = start(fds[1]);
        close(fds[1]);
        out_ = fds[0];
        EXPECT_EQ(line(), "ready") << "the peer did not start";
    }
    ~PeerProcess() { stop(); }

    // The next line the peer printed (what it got to when it went, or
    // after five seconds without a byte).
    std::string line()
    {
        std::string s;
        char c;
        while (testutil::readable(out_, 5000) && read(out_, &c, 1) == 1 && c != '\n')
            s += c;
        return s;
    }

    // Stops the peer; its exit status (0 = clean).
    int stop()
    {
        if (pid_ <= 0)
            return -1;
        close(out_);
        unlink(RAIDC_CMD_SOCKET_PATH);
        return testutil::stopChild(pid_);
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

// raidc-agent-sim serve with the given options, and --log unless told
// otherwise; its standard output and error go to the pipe.
inline std::function<pid_t(int)> simulator(const std::vector<std::string> &opts = {}, bool log = true)
{
    std::vector<std::string> argv = testutil::toolArgv("raidc-agent-sim", {"serve"});
    if (log)
        argv.push_back("--log");
    argv.insert(argv.end(), opts.begin(), opts.end());
    return [argv](int out) { return testutil::spawn(argv, "/dev/fd/" + std::to_string(out)); };
}

// A stand-in agent. It binds the socket path, takes on `uid` when that is
// not 0 and listens with `backlog`. Unless it never accepts, on each
// connection it reads the 81-byte request and writes `reply`: once, or over
// and over, `every` microseconds apart, while the peer takes it.
struct StandIn {
    std::string reply{};
    bool repeat = false;
    useconds_t every = 0;
    bool accepts = true;
    uid_t uid = 0;
    int backlog = 5;

    pid_t operator()(int out) const
    {
        if (const pid_t pid = fork(); pid != 0)
            return pid;
        signal(SIGPIPE, SIG_DFL);
        unlink(RAIDC_CMD_SOCKET_PATH);
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (atAgentPath(bind, fd) != 0 || (uid && setuid(uid) != 0) || listen(fd, backlog) != 0 ||
            write(out, "ready\n", 6) != 6)
            _exit(1);
        while (!accepts)
            pause();
        for (;;) {
            int c = accept(fd, nullptr, nullptr);
            char req[RAIDC_CMD_HEADER_LEN];
            if (recv(c, req, sizeof req, MSG_WAITALL) != sizeof req)
                _exit(1);
            do {
                if (write(c, reply.data(), reply.size()) < 0)
                    _exit(1);
                usleep(every);
            } while (repeat);
        }
    }
};

// printf into a string, for transcript lines.
template <typename... Args> std::string format(const char *fmt, Args... args)
{
    char buf[512];
    snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

// A header as an agent sends it: processId 0x1234, arguments 1 to 5.
inline std::string header(uint32_t command, uint32_t value, uint32_t dataLength = 0, uint32_t count = 0)
{
    return format("S%08x%08x%08x%08x%08x%08x%08x%08x%08x%08x", 0x1234u, count, command, 1u, 2u, 3u, 4u, 5u, value,
                  dataLength);
}

// One controller: two physical drives, one logical drive.
inline std::string tree(const std::string &family, const std::string &ctrlId = "4294967298")
{
    return testutil::wrapSystem({"<CtrlId>" + ctrlId + "</CtrlId><ControllerFamily>" + family +
                                 "</ControllerFamily>"
                                 "<LogicalDrive Nr=\"0\"><LogDriveNumber>3</LogDriveNumber></LogicalDrive>"
                                 "<PhysicalDrive Nr=\"0\"><DeviceNumber>8</DeviceNumber></PhysicalDrive>"
                                 "<PhysicalDrive Nr=\"1\"><DeviceNumber>4294967305</DeviceNumber></PhysicalDrive>"});
}

} // namespace cmdtest
