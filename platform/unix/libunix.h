// Thin system call wrappers: interrupted calls are retried, so callers see
// only real outcomes. Nothing here knows what the descriptors carry.
#pragma once

#include <cstddef>
#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>

int sigwrap_accept(int fd, struct sockaddr *addr, socklen_t *len) noexcept;
int sigwrap_connect(int fd, const struct sockaddr *addr, socklen_t len) noexcept;
int sigwrap_select(int nfds, fd_set *rd, fd_set *wr, fd_set *ex, struct timeval *timeout) noexcept;
int sigwrap_close(int fd) noexcept;
// poll that carries on after signals with the time that is left; timeoutMs
// is at least 0 (no wait without a bound).
int sigwrap_poll(struct pollfd *fds, nfds_t n, int timeoutMs) noexcept;
// Connects within timeoutMs. The descriptor is made non-blocking first and
// stays so. A local listener whose backlog is full refuses at once (EAGAIN)
// instead of taking the attempt in progress, so that case is retried at short
// intervals until the time is up. -1 with errno ETIMEDOUT when it ran out.
int sigwrap_connect_within(int fd, const struct sockaddr *addr, socklen_t len, int timeoutMs) noexcept;
// Sleeps for the given time, resuming after signals until it has passed.
int select_sleep(long seconds, long microseconds) noexcept;

// Allocation and I/O points go through these so that a test build can make
// the N-th of them fail (see fault.cpp); a normal build calls straight through.
void *plat_malloc(size_t n) noexcept;
void *plat_calloc(size_t n, size_t size) noexcept;
void *plat_realloc(void *p, size_t n) noexcept;
char *plat_strdup(const char *s) noexcept;

// Fault injection: true when this call site should fail now.
bool plat_fault_hit() noexcept;
// A named moment inside an operation where the fault build lets a test act
// (see raidc_fault_on_pause); nothing in a normal build.
void plat_fault_pause(const char *point) noexcept;
