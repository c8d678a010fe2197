// serve: stands in for the RAID agent on the command socket. It serves as
// Master with the library's own socket operations, keeps a locate value per
// (logical or physical, controller id, drive number), answers a get with it
// and stores a set. Options make it misbehave for tests.
#include "sim.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

struct Options {
    bool once = false;     // exit when the first connection ends
    bool silent = false;   // read commands, never answer
    bool garbage = false;  // junk without "S0" before every answer
    bool closeMid = false; // half an answer, then hang up
    bool log = false;      // one line per command on stdout
    long slowMs = 0;       // delay before every answer
    long count = -1;       // exit after this many commands
};

// SIGTERM and SIGINT stay blocked and are looked for as pending signals, so
// no handler has to run at all (under ThreadSanitizer, whose deferred signal
// delivery could leave a handler's flag unset while select loops on).
bool g_done = false; // the --count limit was reached

bool stopRequested()
{
    sigset_t pending;
    sigpending(&pending);
    return g_done || sigismember(&pending, SIGTERM) || sigismember(&pending, SIGINT);
}

using Key = std::tuple<bool, uint64_t, uint64_t>; // physical, ctrl id, drive number

// Clients are served in turn, one step each per round, and a client with a
// reply still to go out is not read from: a client that floods requests and
// never reads its replies holds one reply of ours at most, and loses its
// connection once that reply has not moved for kStallMs.
constexpr long long kStallMs = 5000;
constexpr size_t kMaxClients = 64;

long long nowMs()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

struct Client {
    RaidCCmdSocket sock;
    std::string raw;           // bytes to go out before the reply (junk, half a reply)
    bool replyPending = false; // the reply in sock.header is still to be sent
    bool hangUp = false;       // close once raw is out
    long long dueMs = 0;       // a --slow reply starts no earlier
    long long movedMs = 0;     // when output last moved
    bool hasOutput() const { return replyPending || !raw.empty(); }
};

struct Server {
    Options opt;
    RaidCCmdSocket listener;
    std::vector<std::unique_ptr<Client>> conns;
    std::map<Key, uint32_t> state;
    long handled = 0;
};

bool parseOptions(int argc, char **argv, Options *o)
{
    for (int i = 0; i < argc; ++i) {
        std::string w = argv[i];
        char *end = nullptr;
        if (w == "--once")
            o->once = true;
        else if (w == "--silent")
            o->silent = true;
        else if (w == "--garbage")
            o->garbage = true;
        else if (w == "--close-mid")
            o->closeMid = true;
        else if (w == "--log")
            o->log = true;
        else if ((w == "--slow" || w == "--count") && i + 1 < argc) {
            long v = strtol(argv[++i], &end, 10);
            if (*end || v < 0)
                return false;
            (w == "--slow" ? o->slowMs : o->count) = v;
        } else
            return false;
    }
    return true;
}

// Takes the command now in c's header and queues its answer.
void answer(Server &srv, Client *c)
{
    RaidCCmdHeader &h = c->sock.header;
    if (srv.opt.log) {
        printf("command %u arg1 %u arg2 %u arg3 %u arg4 %u arg5 %u value %u\n", h.command, h.arg1, h.arg2, h.arg3,
               h.arg4, h.arg5, h.value);
        fflush(stdout);
    }
    if (srv.opt.count >= 0 && ++srv.handled >= srv.opt.count)
        g_done = true;
    if (srv.opt.silent)
        return;
    bool physical = h.command == RAIDC_CMD_GET_PD_LOCATE || h.command == RAIDC_CMD_SET_PD_LOCATE;
    Key key{physical, uint64_t(h.arg2) << 32 | h.arg1, uint64_t(h.arg4) << 32 | h.arg3};
    if (h.command == RAIDC_CMD_GET_LD_LOCATE || h.command == RAIDC_CMD_GET_PD_LOCATE)
        h.value = srv.state.count(key) ? srv.state[key] : 0;
    else if (h.command == RAIDC_CMD_SET_LD_LOCATE || h.command == RAIDC_CMD_SET_PD_LOCATE)
        srv.state[key] = h.value;
    else
        h.value = 0;
    h.processId = static_cast<uint32_t>(c->sock.ProcessId);
    h.dataLength = 0;
    c->sock.data = nullptr;
    if (srv.opt.garbage) {
        // More than a header's worth, so that the client drops one whole
        // buffer and then finds the answer's "S0" inside the next.
        c->raw = "garbage-garbage-garbage-garbage-garbage-garbage-garbage-garbage-garbage-garbage-junk";
    }
    if (srv.opt.closeMid) {
        char msg[RAIDC_CMD_HEADER_LEN + 1];
        snprintf(msg, sizeof msg, "S%08x%08x%08x%08x%08x%08x%08x%08x%08x%08x", h.processId, c->sock.sendCounter,
                 h.command, h.arg1, h.arg2, h.arg3, h.arg4, h.arg5, h.value, 0u);
        c->raw.append(msg, RAIDC_CMD_HEADER_LEN / 2);
        c->hangUp = true;
    } else {
        c->replyPending = true;
    }
    c->dueMs = nowMs() + srv.opt.slowMs;
    c->movedMs = nowMs();
}

// Moves c's output as far as the socket takes it now; false when c is done.
bool flush(Client *c)
{
    if (nowMs() < c->dueMs)
        return true;
    while (!c->raw.empty()) {
        ssize_t w = send(c->sock.SocketFd, c->raw.data(), c->raw.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (w < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        c->raw.erase(0, static_cast<size_t>(w));
        c->movedMs = nowMs();
    }
    if (c->hangUp)
        return false;
    if (!c->replyPending)
        return true;
    uint32_t before = c->sock.writeCount;
    int32_t r = sendData_RaidCCmdSocket(&c->sock);
    if (r == RAIDC_SOCK_DONE || c->sock.writeCount != before)
        c->movedMs = nowMs();
    if (r == RAIDC_SOCK_DONE)
        c->replyPending = false;
    return r == RAIDC_SOCK_DONE || r == RAIDC_SOCK_SEND_AGAIN;
}

// One receive step on a readable connection; false when it is done.
bool serveStep(Server &srv, Client *c)
{
    int32_t r = receiveData_RaidCCmdSocket(&c->sock);
    if (r == RAIDC_SOCK_RECV_AGAIN || r == RAIDC_SOCK_HEADER_IN_PAYLOAD)
        return true;
    if (r != RAIDC_SOCK_DONE)
        return false;   // peer gone or talking nonsense (10), idle past the Master's limit (8), refused payload (18)
    free(c->sock.data); // commands carry no payload we use
    c->sock.data = nullptr;
    answer(srv, c);
    return flush(c);
}

// Only root or our own user may talk to the agent: the socket's folder is
// often writable by everyone.
bool trusted(int fd, unsigned *uid)
{
    struct ucred cred = {};
    socklen_t len = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred) {
        *uid = ~0u;
        return false;
    }
    *uid = cred.uid;
    return cred.uid == 0 || cred.uid == geteuid();
}

void acceptOne(Server &srv)
{
    if (accept_RaidCCmdSocket(&srv.listener) != RAIDC_SOCK_DONE) {
        listen_RaidCCmdSocket(&srv.listener); // a failed accept closed the listener
        return;
    }
    int fd = srv.listener.AcceptedSocket;
    unsigned uid;
    if (!trusted(fd, &uid)) {
        fprintf(srv.opt.log ? stdout : stderr, "refused a client of uid %d\n", static_cast<int>(uid));
        fflush(srv.opt.log ? stdout : stderr);
        close(fd);
        return;
    }
    if (srv.conns.size() >= kMaxClients) {
        close(fd);
        return;
    }
    // Reads and writes go through SocketFd, so the accepted connection gets
    // an object of its own.
    auto c = std::make_unique<Client>();
    initData_RaidCCmdSocket(&c->sock, 1);
    c->sock.SocketFd = fd;
    c->sock.isConnected = 1;
    c->sock.isAccepted = 1;
    snprintf(c->sock.name, sizeof c->sock.name, "Socket(%u)-%d", c->sock.header.processId, fd);
    fcntl(fd, F_SETFL, O_NONBLOCK);
    srv.conns.push_back(std::move(c));
}

void drop(Client *c)
{
    close_RaidCCmdSocket(&c->sock);
    free(c->sock.data);
    free(c->sock.readBuffer);
    free(c->sock.writeBuffer);
}

// Serves every client with an event once; false for a client to drop.
bool serveClient(Server &srv, Client *c, short revents, long long now)
{
    if (c->hasOutput()) {
        if (revents & (POLLOUT | POLLERR | POLLHUP) || now >= c->dueMs) {
            if (!flush(c))
                return false;
        }
        long long since = c->movedMs > c->dueMs ? c->movedMs : c->dueMs;
        return !c->hasOutput() || now - since < kStallMs;
    }
    if (revents & (POLLIN | POLLERR | POLLHUP))
        return serveStep(srv, c);
    return true;
}

} // namespace

int simServe(int argc, char **argv)
{
    auto srv = std::make_unique<Server>();
    if (!parseOptions(argc, argv, &srv->opt)) {
        fprintf(stderr, "usage: raidc-agent-sim serve [--once] [--silent] [--slow MS] [--garbage] [--close-mid] "
                        "[--count N] [--log]\n");
        return 2;
    }
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);

    initData_RaidCCmdSocket(&srv->listener, 1);
    if (listen_RaidCCmdSocket(&srv->listener) != RAIDC_SOCK_DONE) {
        fprintf(stderr, "raidc-agent-sim: cannot listen on %s: %s\n", RAIDC_CMD_SOCKET_PATH,
                strerror(srv->listener.lastErrno));
        return 1;
    }
    printf("ready\n");
    fflush(stdout);

    bool servedOne = false;
    std::vector<struct pollfd> fds;
    while (!stopRequested() && !(srv->opt.once && servedOne && srv->conns.empty())) {
        long long now = nowMs();
        int timeout = 200;
        fds.assign(1, {srv->listener.SocketFd, POLLIN, 0});
        if (srv->opt.once && servedOne)
            fds[0].fd = -1;
        for (auto &c : srv->conns) {
            short ev = POLLIN;
            if (c->hasOutput()) {
                ev = now >= c->dueMs ? POLLOUT : 0;
                long long wait = c->dueMs > now ? c->dueMs - now : 0;
                timeout = wait < timeout ? static_cast<int>(wait) : timeout;
            }
            fds.push_back({c->sock.SocketFd, ev, 0});
        }
        int n = poll(fds.data(), fds.size(), timeout);
        if (n < 0 && errno != EINTR)
            break;
        now = nowMs();
        std::vector<std::unique_ptr<Client>> kept;
        for (size_t i = 0; i < srv->conns.size(); ++i) {
            Client *c = srv->conns[i].get();
            if (serveClient(*srv, c, n > 0 ? fds[i + 1].revents : 0, now)) {
                kept.push_back(std::move(srv->conns[i]));
            } else {
                drop(c);
                servedOne = true;
            }
        }
        srv->conns = std::move(kept);
        if (n > 0 && (fds[0].revents & POLLIN))
            acceptOne(*srv);
    }
    for (auto &c : srv->conns)
        drop(c.get());
    close_RaidCCmdSocket(&srv->listener);
    unlink(RAIDC_CMD_SOCKET_PATH);
    return 0;
}
