// Runs `raidc` as a monitoring system would and splits what it printed.
#pragma once

#include "testutil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace monitor {

struct Output {
    int status;
    std::string out;
    std::string first; // the first line, without its line break
};

inline Output raidc(const std::string &args)
{
    Output r;
    r.status = testutil::runCommand(testutil::toolPath("raidc") + " " + args + " 2>/dev/null", &r.out);
    r.first = r.out.substr(0, r.out.find('\n'));
    return r;
}

// Something that accepts connections on the command socket, as far as the
// liveness probe can tell: a listener whose queue is long enough for every
// probe of a test.
class AgentStandIn {
public:
    AgentStandIn()
    {
        testutil::makePathDirs();
        unlink(RAIDC_CMD_SOCKET_PATH);
        sockaddr_un a = {};
        a.sun_family = AF_UNIX;
        strcpy(a.sun_path, RAIDC_CMD_SOCKET_PATH);
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(fd_, SOMAXCONN) != 0)
            ADD_FAILURE() << "no stand-in for the agent: " << strerror(errno);
    }
    ~AgentStandIn()
    {
        close(fd_);
        unlink(RAIDC_CMD_SOCKET_PATH);
    }
    AgentStandIn(const AgentStandIn &) = delete;
    AgentStandIn &operator=(const AgentStandIn &) = delete;

private:
    int fd_ = -1;
};

inline Output onTree(const char *example, const std::string &args)
{
    testutil::installFile(testutil::examplePath(example));
    return raidc(args);
}

} // namespace monitor
