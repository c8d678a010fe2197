// Trap pipe lifecycle: the record's initial values, creating, opening and
// closing the FIFO, and the idle clock both directions share.
#include "trap.h"

#include "../../platform/unix/libunix.h"

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

pthread_mutex_t Raid_ConsumerTrap_Mutex = PTHREAD_MUTEX_INITIALIZER;

// The record travels between processes built for the same target; its
// packed layout must not depend on anything but the pointer size.
static_assert(offsetof(TrapEventData, strings) == 6 * sizeof(uint32_t));
static_assert(sizeof(TrapEventData) == 6 * sizeof(uint32_t) + RAIDC_TRAP_MAX_STRINGS * sizeof(char *));
static_assert(sizeof(RAIDC_TRAP_PIPE_PATH) <= sizeof(TrapEventPipe::path), "pipe path does not fit the object");

namespace raidc::trap {

namespace {

constexpr time_t kMasterIdleSec = 25;
constexpr time_t kSlaveIdleSec = 20;

// The path field is the caller's to read and write: never trust it to be
// terminated.
const char *pathOf(TrapEventPipe *pipe) noexcept
{
    pipe->path[sizeof pipe->path - 1] = '\0';
    return pipe->path;
}

// Only a FIFO that root or this user owns carries events: the pipe's folder
// may be writable by others, and a FIFO planted there by anyone else would
// let them feed us events or read ours. Sets errno for the open diagnostic.
bool trustedFifo(int fd) noexcept
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return false;
    if (!S_ISFIFO(st.st_mode)) {
        errno = EINVAL;
        return false;
    }
    if (st.st_uid != 0 && st.st_uid != geteuid()) {
        errno = EPERM;
        return false;
    }
    return true;
}

time_t idleLimit(const TrapEventPipe *pipe) noexcept
{
    return pipe->isMaster ? kMasterIdleSec : kSlaveIdleSec;
}

} // namespace

bool idleTooLong(TrapEventPipe *pipe) noexcept
{
    stamp(&pipe->now);
    time_t limit = idleLimit(pipe);
    // A last-activity time moved into the future would never expire, and a
    // get waiting for the rest of a message would wait on and on: count from
    // now instead.
    if (pipe->LastAcessTime.tv_sec > pipe->now.tv_sec)
        pipe->LastAcessTime = pipe->now;
    // Written as a comparison so that a last-activity time moved far away
    // cannot overflow the subtraction.
    return pipe->LastAcessTime.tv_sec < pipe->now.tv_sec - limit;
}

const char *roleWord(const TrapEventPipe *pipe) noexcept
{
    return pipe->isMaster ? "Master" : "Slave";
}

void waitReady(const TrapEventPipe *pipe, short events, int capMs) noexcept
{
    struct timespec t;
    stamp(&t);
    // The idle rule fires once a whole second more than the limit has passed
    // since the last activity. A last-activity time the caller moved far away
    // is clamped, so the sum cannot overflow nor the wait outgrow the limit.
    const time_t limit = idleLimit(pipe);
    time_t last = pipe->LastAcessTime.tv_sec;
    if (last > t.tv_sec)
        last = t.tv_sec;
    if (last < t.tv_sec - limit - 1)
        last = t.tv_sec - limit - 1;
    const int64_t nowNs = static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
    int64_t untilNs = static_cast<int64_t>(last + limit + 1) * 1000000000;
    if (capMs >= 0 && nowNs + int64_t{capMs} * 1000000 < untilNs)
        untilNs = nowNs + int64_t{capMs} * 1000000;
    for (;;) {
        int64_t leftNs = untilNs - (static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec);
        if (leftNs <= 0)
            return;
        // Rounded up, so the wait never ends just short of the limit.
        int64_t ms = (leftNs + 999999) / 1000000;
        struct pollfd pfd = {pipe->Id, events, 0};
        if (poll(&pfd, 1, ms > INT_MAX ? INT_MAX : static_cast<int>(ms)) >= 0 || errno != EINTR)
            return;
        stamp(&t);
    }
}

void dropPartialRead(TrapEventPipe *pipe) noexcept
{
    free(pipe->readBuffer);
    pipe->readBuffer = nullptr;
    pipe->readBufferSize = 0;
    pipe->readCount = 0;
    pipe->headerPhase = 1;
}

} // namespace raidc::trap

using namespace raidc::trap;

extern "C" {

int32_t initTrapData(TrapEventData *record) noexcept
{
    if (!record)
        return RAIDC_TRAP_NULL;
    memset(record, 0, sizeof *record);
    record->processId = static_cast<uint32_t>(getpid());
    record->dataSize = 24;
    return RAIDC_TRAP_DONE;
}

int32_t initTrapEventPipe(TrapEventPipe *pipe, uint8_t isMaster) noexcept
{
    if (!pipe)
        return RAIDC_TRAP_NULL;
    memset(pipe, 0, sizeof *pipe);
    stamp(&pipe->LastAcessTime);
    pipe->isMaster = isMaster;
    pipe->Id = -1;
    memcpy(pipe->path, RAIDC_TRAP_PIPE_PATH, sizeof RAIDC_TRAP_PIPE_PATH);
    pipe->headerPhase = 1;
    pipe->openFlags = O_RDWR | O_NONBLOCK;
    return RAIDC_TRAP_DONE;
}

int32_t createTrapEventPipe(TrapEventPipe *pipe) noexcept
{
    if (!pipe)
        return RAIDC_TRAP_NULL;
    stamp(&pipe->LastAcessTime);
    const char *path = pathOf(pipe);
    if (mkfifo(path, 0777) == 0 || errno == EEXIST) {
        pipe->isCreated = 1;
        return RAIDC_TRAP_DONE;
    }
    fprintf(stderr, "Error creating named pipe %s\n", path);
    pipe->isCreated = 0;
    return RAIDC_TRAP_IO_FAILED;
}

int32_t openTrapEventPipe(TrapEventPipe *pipe) noexcept
{
    if (!pipe)
        return RAIDC_TRAP_NULL;
    stamp(&pipe->LastAcessTime);
    if (!pipe->isCreated && createTrapEventPipe(pipe) != RAIDC_TRAP_DONE)
        return RAIDC_TRAP_IO_FAILED;
    if (pipe->isOpen)
        return RAIDC_TRAP_DONE;
    pipe->receiveCounter = 0;
    // A new descriptor starts a new byte stream: a half-read message of the
    // old one can never be completed from it.
    dropPartialRead(pipe);
    // Always open for reading too, whatever the flags were changed to: while
    // this descriptor is open the FIFO has a reader, so a write on it can
    // never fail with EPIPE nor raise SIGPIPE.
    const char *path = pathOf(pipe);
    pipe->Id = open(path, (pipe->openFlags & ~O_ACCMODE) | O_RDWR);
    if (pipe->Id >= 0 && !trustedFifo(pipe->Id)) {
        // Something else took the FIFO's name, or someone else owns it:
        // never exchange events through it.
        int err = errno;
        sigwrap_close(pipe->Id);
        errno = err;
        pipe->Id = -1;
    }
    if (pipe->Id < 0) {
        fprintf(stderr, "Error opening named pipe %s, 0x%x pPipe->Id %d errno %d \n", path,
                static_cast<unsigned>(pipe->openFlags), pipe->Id, errno);
        return RAIDC_TRAP_IO_FAILED;
    }
    pipe->isOpen = 1;
    return RAIDC_TRAP_DONE;
}

int32_t closeTrapEventPipe(TrapEventPipe *pipe) noexcept
{
    if (!pipe)
        return RAIDC_TRAP_NULL;
    if (pipe->isOpen)
        sigwrap_close(pipe->Id);
    // The next open starts a new byte stream anyway; releasing the half-read
    // message here means a closed pipe holds no read memory.
    dropPartialRead(pipe);
    pipe->isOpen = 0;
    pipe->isCreated = 0;
    stamp(&pipe->LastAcessTime);
    return RAIDC_TRAP_DONE;
}

} // extern "C"
