#include "libunix.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

int sigwrap_accept(int fd, struct sockaddr *addr, socklen_t *len) noexcept
{
    int r;
    do {
        r = accept(fd, addr, len);
    } while (r < 0 && errno == EINTR);
    return r;
}

// How a connect that went on in the background ended: 0, or -1 with errno.
static int connectOutcome(int fd)
{
    int err = 0;
    socklen_t el = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &el) < 0)
        return -1;
    if (err != 0) {
        errno = err;
        return -1;
    }
    return 0;
}

int sigwrap_connect(int fd, const struct sockaddr *addr, socklen_t len) noexcept
{
    if (connect(fd, addr, len) == 0)
        return 0;
    if (errno != EINTR)
        return -1;
    // An interrupted connect goes on in the background: wait for its outcome
    // instead of starting a second one.
    struct pollfd p = {fd, POLLOUT, 0};
    int r;
    do {
        r = poll(&p, 1, -1);
    } while (r < 0 && errno == EINTR);
    if (r < 0)
        return -1;
    return connectOutcome(fd);
}

int sigwrap_select(int nfds, fd_set *rd, fd_set *wr, fd_set *ex, struct timeval *timeout) noexcept
{
    // Linux leaves the remaining time in *timeout, so a retry waits only for
    // what is left; the sets are restored because select clears them on EINTR.
    fd_set r0, w0, e0;
    if (rd)
        r0 = *rd;
    if (wr)
        w0 = *wr;
    if (ex)
        e0 = *ex;
    for (;;) {
        int r = select(nfds, rd, wr, ex, timeout);
        if (r >= 0 || errno != EINTR)
            return r;
        if (rd)
            *rd = r0;
        if (wr)
            *wr = w0;
        if (ex)
            *ex = e0;
    }
}

int sigwrap_close(int fd) noexcept
{
    // Linux releases the descriptor even when close is interrupted: retrying
    // could close a descriptor another thread has just been given.
    int r = close(fd);
    if (r < 0 && errno == EINTR)
        return 0;
    return r;
}

namespace {

long long monotonicMs()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

int msLeft(long long end)
{
    long long left = end - monotonicMs();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

int sigwrap_poll(struct pollfd *fds, nfds_t n, int timeoutMs) noexcept
{
    long long end = monotonicMs() + (timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        int r = poll(fds, n, msLeft(end));
        if (r >= 0 || errno != EINTR)
            return r;
    }
}

int sigwrap_connect_within(int fd, const struct sockaddr *addr, socklen_t len, int timeoutMs) noexcept
{
    // Retry interval while a full backlog refuses us: short against the
    // bound, long enough not to busy the peer.
    constexpr int kRetryMs = 20;
    long long end = monotonicMs() + (timeoutMs > 0 ? timeoutMs : 0);
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return -1;
    for (;;) {
        if (connect(fd, addr, len) == 0)
            return 0;
        if (errno == EAGAIN) {
            int left = msLeft(end);
            if (left == 0) {
                errno = ETIMEDOUT;
                return -1;
            }
            sigwrap_poll(nullptr, 0, left < kRetryMs ? left : kRetryMs);
            continue;
        }
        if (errno != EINPROGRESS && errno != EINTR)
            return -1;
        struct pollfd p = {fd, POLLOUT, 0};
        int r = sigwrap_poll(&p, 1, msLeft(end));
        if (r < 0)
            return -1;
        if (r == 0) {
            errno = ETIMEDOUT;
            return -1;
        }
        return connectOutcome(fd);
    }
}

int select_sleep(long seconds, long microseconds) noexcept
{
    struct timespec req = {seconds + microseconds / 1000000, (microseconds % 1000000) * 1000};
    struct timespec rem;
    while (nanosleep(&req, &rem) < 0) {
        if (errno != EINTR)
            return -1;
        req = rem;
    }
    return 0;
}
