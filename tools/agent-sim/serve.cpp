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
#include <string>
#include <sys/select.h>
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

struct Server {
    Options opt;
    RaidCCmdSocket listener;
    std::vector<std::unique_ptr<RaidCCmdSocket>> conns;
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

void sleepMs(long ms)
{
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000};
    while (nanosleep(&t, &t) != 0 && errno == EINTR && !stopRequested()) {
    }
}

// Waits until fd is writable (or a signal asks us to stop).
bool waitWritable(int fd)
{
    fd_set wr;
    FD_ZERO(&wr);
    FD_SET(fd, &wr);
    struct timeval tv = {1, 0};
    return select(fd + 1, nullptr, &wr, nullptr, &tv) >= 0 || errno == EINTR;
}

bool sendRaw(int fd, const char *p, size_t n)
{
    while (n > 0 && !stopRequested()) {
        ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (w < 0) {
            waitWritable(fd);
            continue;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return n == 0;
}

// Answers the command now in c->header; false when the connection is done.
bool answer(Server &srv, RaidCCmdSocket *c)
{
    RaidCCmdHeader &h = c->header;
    if (srv.opt.log) {
        printf("command %u arg1 %u arg2 %u arg3 %u arg4 %u arg5 %u value %u\n", h.command, h.arg1, h.arg2, h.arg3,
               h.arg4, h.arg5, h.value);
        fflush(stdout);
    }
    if (srv.opt.count >= 0 && ++srv.handled >= srv.opt.count)
        g_done = true;
    if (srv.opt.silent)
        return true;
    bool physical = h.command == RAIDC_CMD_GET_PD_LOCATE || h.command == RAIDC_CMD_SET_PD_LOCATE;
    Key key{physical, uint64_t(h.arg2) << 32 | h.arg1, uint64_t(h.arg4) << 32 | h.arg3};
    if (h.command == RAIDC_CMD_GET_LD_LOCATE || h.command == RAIDC_CMD_GET_PD_LOCATE)
        h.value = srv.state.count(key) ? srv.state[key] : 0;
    else if (h.command == RAIDC_CMD_SET_LD_LOCATE || h.command == RAIDC_CMD_SET_PD_LOCATE)
        srv.state[key] = h.value;
    else
        h.value = 0;
    h.processId = static_cast<uint32_t>(c->ProcessId);
    h.dataLength = 0;
    c->data = nullptr;
    if (srv.opt.slowMs)
        sleepMs(srv.opt.slowMs);
    if (srv.opt.garbage) {
        // More than a header's worth, so that the client drops one whole
        // buffer and then finds the answer's "S0" inside the next.
        static const char junk[] = "garbage-garbage-garbage-garbage-garbage-garbage-garbage-garbage-garbage-garbage-junk";
        if (!sendRaw(c->SocketFd, junk, sizeof junk - 1))
            return false;
    }
    if (srv.opt.closeMid) {
        char msg[RAIDC_CMD_HEADER_LEN + 1];
        snprintf(msg, sizeof msg, "S%08x%08x%08x%08x%08x%08x%08x%08x%08x%08x", h.processId, c->sendCounter, h.command,
                 h.arg1, h.arg2, h.arg3, h.arg4, h.arg5, h.value, 0u);
        sendRaw(c->SocketFd, msg, RAIDC_CMD_HEADER_LEN / 2);
        return false;
    }
    for (;;) {
        int32_t r = sendData_RaidCCmdSocket(c);
        if (r == RAIDC_SOCK_DONE)
            return true;
        if (r != RAIDC_SOCK_SEND_AGAIN || stopRequested())
            return false;
        waitWritable(c->SocketFd);
    }
}

// One receive step on a readable connection; false when it is done.
bool serveStep(Server &srv, RaidCCmdSocket *c)
{
    int32_t r = receiveData_RaidCCmdSocket(c);
    if (r == RAIDC_SOCK_RECV_AGAIN || r == RAIDC_SOCK_HEADER_IN_PAYLOAD)
        return true;
    if (r != RAIDC_SOCK_DONE)
        return false; // peer gone (10), idle past the Master's limit (8), refused payload (18)
    free(c->data);    // commands carry no payload we use
    c->data = nullptr;
    return answer(srv, c);
}

void acceptOne(Server &srv)
{
    if (accept_RaidCCmdSocket(&srv.listener) != RAIDC_SOCK_DONE) {
        listen_RaidCCmdSocket(&srv.listener); // a failed accept closed the listener
        return;
    }
    int fd = srv.listener.AcceptedSocket;
    if (fd >= FD_SETSIZE) {
        close(fd);
        return;
    }
    // Reads and writes go through SocketFd, so the accepted connection gets
    // an object of its own.
    auto c = std::make_unique<RaidCCmdSocket>();
    initData_RaidCCmdSocket(c.get(), 1);
    c->SocketFd = fd;
    c->isConnected = 1;
    c->isAccepted = 1;
    snprintf(c->name, sizeof c->name, "Socket(%u)-%d", c->header.processId, fd);
    fcntl(fd, F_SETFL, O_NONBLOCK);
    srv.conns.push_back(std::move(c));
}

void drop(RaidCCmdSocket *c)
{
    close_RaidCCmdSocket(c);
    free(c->data);
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
    while (!stopRequested() && !(srv->opt.once && servedOne && srv->conns.empty())) {
        fd_set rd;
        FD_ZERO(&rd);
        int top = srv->listener.SocketFd;
        FD_SET(top, &rd);
        for (auto &c : srv->conns) {
            FD_SET(c->SocketFd, &rd);
            top = c->SocketFd > top ? c->SocketFd : top;
        }
        struct timeval tv = {0, 200000};
        int n = select(top + 1, &rd, nullptr, nullptr, &tv);
        if (n < 0 && errno != EINTR)
            break;
        if (n <= 0)
            continue;
        for (size_t i = 0; i < srv->conns.size();) {
            RaidCCmdSocket *c = srv->conns[i].get();
            if (FD_ISSET(c->SocketFd, &rd) && !serveStep(*srv, c)) {
                drop(c);
                srv->conns.erase(srv->conns.begin() + static_cast<long>(i));
                servedOne = true;
                continue;
            }
            ++i;
        }
        if (FD_ISSET(srv->listener.SocketFd, &rd) && !(srv->opt.once && servedOne))
            acceptOne(*srv);
    }
    for (auto &c : srv->conns)
        drop(c.get());
    close_RaidCCmdSocket(&srv->listener);
    unlink(RAIDC_CMD_SOCKET_PATH);
    return 0;
}
