// Peers for the command channel tests, each in a process of its own:
// raidc-agent-sim serving the socket, and a stand-in agent forked from the
// test that does what a test asks of it on the listening descriptor.
#pragma once

#include "testutil.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace cmdtest {

// raidc-agent-sim serve with the given options, and --log unless told
// otherwise; "ready" is awaited.
class Agent {
public:
    explicit Agent(std::vector<std::string> opts = {}, bool log = true)
    {
        testutil::makePathDirs();
        // Everything the child needs is made before fork: it only execs.
        std::vector<std::string> words = {"serve"};
        if (log)
            words.push_back("--log");
        words.insert(words.end(), opts.begin(), opts.end());
        // The runner's words and the tool as separate arguments.
        std::vector<std::string> cmd = testutil::toolArgv("raidc-agent-sim");
        cmd.insert(cmd.end(), words.begin(), words.end());
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
        out_ = fds[0];
        EXPECT_EQ(line(), "ready");
    }
    ~Agent() { stop(); }

    // The next line the agent printed ("" once it has gone, or after five
    // seconds without one).
    std::string line()
    {
        size_t nl;
        while ((nl = pending_.find('\n')) == std::string::npos) {
            struct pollfd p = {out_, POLLIN, 0};
            char buf[256];
            ssize_t n = out_ >= 0 && poll(&p, 1, 5000) == 1 ? read(out_, buf, sizeof buf) : 0;
            if (n <= 0)
                return "";
            pending_.append(buf, static_cast<size_t>(n));
        }
        std::string s = pending_.substr(0, nl);
        pending_.erase(0, nl + 1);
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
        if (out_ >= 0)
            close(out_);
        out_ = -1;
        return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
};

// A stand-in agent: the child binds the socket path, takes on `uid` when it
// is not 0, listens with `backlog` and hands the listening descriptor to
// `serve`. It is killed when the object goes.
class FakeAgent {
public:
    explicit FakeAgent(const std::function<void(int)> &serve, uid_t uid = 0, int backlog = 5)
    {
        testutil::makePathDirs();
        unlink(RAIDC_CMD_SOCKET_PATH);
        int ready[2];
        if (pipe(ready) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            signal(SIGPIPE, SIG_DFL);
            close(ready[0]);
            int fd = socket(AF_UNIX, SOCK_STREAM, 0);
            struct sockaddr_un a = {};
            a.sun_family = AF_UNIX;
            strcpy(a.sun_path, RAIDC_CMD_SOCKET_PATH);
            if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || (uid && setuid(uid) != 0) ||
                listen(fd, backlog) != 0)
                _exit(1);
            if (write(ready[1], "r", 1) != 1)
                _exit(1);
            serve(fd);
            _exit(0);
        }
        close(ready[1]);
        char c;
        EXPECT_EQ(read(ready[0], &c, 1), 1) << "the stand-in agent did not start";
        close(ready[0]);
    }
    ~FakeAgent()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        unlink(RAIDC_CMD_SOCKET_PATH);
    }

private:
    pid_t pid_ = -1;
};

// In a stand-in agent: accepts a connection and reads the 81-byte request.
inline int acceptRequest(int listenFd)
{
    int c = accept(listenFd, nullptr, nullptr);
    char req[RAIDC_CMD_HEADER_LEN];
    size_t got = 0;
    while (c >= 0 && got < sizeof req) {
        ssize_t n = read(c, req + got, sizeof req - got);
        if (n <= 0)
            _exit(1);
        got += static_cast<size_t>(n);
    }
    return c;
}

inline std::string header(uint32_t command, uint32_t value, uint32_t dataLength = 0)
{
    char buf[RAIDC_CMD_HEADER_LEN + 1];
    snprintf(buf, sizeof buf, "S%08x%08x%08x%08x%08x%08x%08x%08x%08x%08x", 0x1234u, 0u, command, 1u, 2u, 3u, 4u, 5u,
             value, dataLength);
    return buf;
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
