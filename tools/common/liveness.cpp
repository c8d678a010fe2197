#include "liveness.h"

#include "raidcommon.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace raidchealth {

const char *agentStateName(AgentState s)
{
    switch (s) {
    case AgentState::Up: return "up";
    case AgentState::Down: return "down";
    default: return "unknown";
    }
}

namespace {

AgentState fromErrno(int e)
{
    switch (e) {
    case 0: return AgentState::Up;
    case EACCES:
    case EPERM: return AgentState::Unknown; // cannot tell: never claim it is down
    case ENOENT:
    case ENOTDIR:
    case ECONNREFUSED:
    case EAGAIN: // its backlog is full: it no longer accepts
    case ETIMEDOUT: return AgentState::Down;
    default: return AgentState::Unknown;
    }
}

} // namespace

AgentState probeAgent(int timeoutMs)
{
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    if (strlen(RAIDC_CMD_SOCKET_PATH) >= sizeof addr.sun_path)
        return AgentState::Unknown;
    strcpy(addr.sun_path, RAIDC_CMD_SOCKET_PATH);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return AgentState::Unknown;
    int err = 0;
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        err = errno;
        if (err == EINPROGRESS) {
            pollfd p = {fd, POLLOUT, 0};
            int n;
            do
                n = poll(&p, 1, timeoutMs);
            while (n < 0 && errno == EINTR);
            socklen_t len = sizeof err;
            if (n == 0)
                err = ETIMEDOUT;
            else if (n < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                err = EIO;
        }
    }
    close(fd);
    return fromErrno(err);
}

TreeAge treeAge()
{
    TreeAge t;
    struct stat st;
    if (stat(RAIDC_DEVICE_TREE_PATH, &st) != 0)
        return t;
    t.exists = true;
    t.mtime = st.st_mtime;
    time_t now = time(nullptr);
    t.ageSeconds = now > st.st_mtime ? static_cast<long long>(now - st.st_mtime) : 0;
    return t;
}

} // namespace raidchealth
