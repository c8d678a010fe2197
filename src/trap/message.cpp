// Trap messages on the wire: framing and sending a record, receiving one in
// a header step and a data step, the consumer's get and its release.
//
// A message is "S", six fields of eight lowercase hex digits (processId,
// messageCount, word3, word4, stringCount, dataSize), a NUL, then a data
// area of exactly dataSize bytes holding the strings with their NULs.
#include "trap.h"

#include "../../platform/unix/libunix.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace raidc::trap {

namespace {

using wire::getHex8;
using wire::hexDigit;
using wire::putHex8;

constexpr uint32_t kHeaderLen = RAIDC_TRAP_HEADER_LEN;
constexpr int kFields = 6;
static_assert(kHeaderLen == 1 + kFields * wire::kHexFieldLen + 1, "\"S\", the fields and a NUL");
// Longest a send step waits for room for the rest of a message, so a
// producer that calls again at once does not spin either.
constexpr int kRoomWaitMs = 1000;

int32_t frameMessage(TrapEventPipe *pipe) noexcept
{
    const TrapEventData *rec = pipe->record;
    const uint32_t count = rec->stringCount;
    const uint32_t dataSize = rec->dataSize;
    if (count > RAIDC_TRAP_MAX_STRINGS || dataSize > kMaxDataSize)
        return RAIDC_TRAP_NO_MEMORY;
    const uint32_t size = kHeaderLen + dataSize;
    char *buf = static_cast<char *>(plat_calloc(1, size));
    if (!buf)
        return RAIDC_TRAP_NO_MEMORY;
    const uint32_t fields[kFields] = {rec->processId, rec->messageCount, rec->word3, rec->word4, count, dataSize};
    buf[0] = 'S';
    for (int i = 0; i < kFields; ++i)
        putHex8(buf + 1 + wire::kHexFieldLen * i, fields[i]);
    uint32_t used = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const char *s = rec->strings[i];
        size_t len = s ? strlen(s) + 1 : 0;
        if (!s || len > dataSize - used) {
            free(buf);
            return s ? RAIDC_TRAP_NO_MEMORY : RAIDC_TRAP_NULL;
        }
        memcpy(buf + kHeaderLen + used, s, len);
        used += static_cast<uint32_t>(len);
    }
    pipe->writeBuffer = buf;
    pipe->writeBufferSize = size;
    pipe->writeCount = 0;
    return RAIDC_TRAP_DONE;
}

void dropWrite(TrapEventPipe *pipe) noexcept
{
    free(pipe->writeBuffer);
    pipe->writeBuffer = nullptr;
}

// The message is dropped.
int32_t writeFailed(TrapEventPipe *pipe, int err) noexcept
{
    RaidPrintError("libzep_RaidCommon: transmitTrapEvent(): Error writing pipe %s,  Id %d  errno = %d %s\n", pipe->path,
                   pipe->Id, err, roleWord(pipe));
    dropWrite(pipe);
    return RAIDC_TRAP_IO_FAILED;
}

int32_t completeReceive(TrapEventPipe *pipe) noexcept
{
    pipe->receiveCounter = nextCount(pipe->receiveCounter);
    pipe->readCount = 0;
    pipe->LastAcessTime = pipe->now;
    return RAIDC_TRAP_DONE;
}

// A message that cannot become an event: its bytes are consumed, the strings
// taken from it so far are released and the record says "no strings", so
// nothing of it is delivered and a later release frees nothing twice.
int32_t rejectMessage(TrapEventPipe *pipe, uint32_t stringsTaken) noexcept
{
    TrapEventData *rec = pipe->record;
    for (uint32_t i = 0; i < stringsTaken; ++i) {
        free(rec->strings[i]);
        rec->strings[i] = nullptr;
    }
    rec->stringCount = 0;
    rec->dataSize = 0;
    dropPartialRead(pipe);
    pipe->LastAcessTime = pipe->now;
    return RAIDC_TRAP_NO_MEMORY;
}

int32_t readFailed(TrapEventPipe *pipe, int err) noexcept
{
    closeTrapEventPipe(pipe);
    RaidPrintError("libzep_RaidCommon: receiveTrapEvent(): Error reading pipe %s, Id %d  errno = %d %s\n", pipe->path,
                   pipe->Id, err, roleWord(pipe));
    return RAIDC_TRAP_IO_FAILED;
}

// Whether the n bytes at s can still begin a header: "S" and then hex digits
// only, as far as the bytes go.
bool headerCanStartAt(const char *s, size_t n) noexcept
{
    if (s[0] != 'S')
        return false;
    uint32_t d;
    const size_t digits = n - 1 < kHeaderLen - 2 ? n - 1 : kHeaderLen - 2;
    for (size_t i = 1; i <= digits; ++i)
        if (!hexDigit(s[i], &d))
            return false;
    return true;
}

// Lost place: keep the bytes from the next possible header start on and read
// the rest of the 50. The search runs over all bytes read, NULs included, as
// junk may hold NULs right before a valid header.
void resync(TrapEventPipe *pipe) noexcept
{
    char *buf = pipe->readBuffer;
    const size_t n = pipe->readCount;
    size_t at = 1; // the first byte is known not to start a usable header
    while (at < n && !headerCanStartAt(buf + at, n - at))
        ++at;
    memmove(buf, buf + at, n - at);
    pipe->readCount = static_cast<uint32_t>(n - at);
}

int32_t takeHeader(TrapEventPipe *pipe) noexcept
{
    const char *buf = pipe->readBuffer;
    uint32_t f[kFields];
    bool ok = buf[0] == 'S';
    for (int i = 0; ok && i < kFields; ++i)
        ok = getHex8(buf + 1 + wire::kHexFieldLen * i, &f[i]);
    if (!ok || f[5] > kMaxDataSize) {
        // Unlike the command socket, a damaged header is skipped rather than
        // reported: no one waits for this event (see wire.h).
        resync(pipe);
        return RAIDC_TRAP_RECV_AGAIN;
    }
    TrapEventData *rec = pipe->record;
    rec->processId = f[0];
    rec->messageCount = f[1];
    rec->word3 = f[2];
    rec->word4 = f[3];
    rec->stringCount = f[4];
    rec->dataSize = f[5];
    free(pipe->readBuffer);
    pipe->readBuffer = nullptr;
    if (rec->dataSize != 0) {
        pipe->headerPhase = 0;
        return RAIDC_TRAP_RECV_AGAIN;
    }
    // Strings announced without a data area to carry them.
    if (rec->stringCount != 0)
        return rejectMessage(pipe, 0);
    return completeReceive(pipe);
}

int32_t takeData(TrapEventPipe *pipe) noexcept
{
    char *buf = pipe->readBuffer;
    const uint32_t size = pipe->readBufferSize;
    buf[size - 1] = '\0'; // every string ends inside the area
    TrapEventData *rec = pipe->record;
    const uint32_t count = rec->stringCount;
    if (count > RAIDC_TRAP_MAX_STRINGS)
        return rejectMessage(pipe, 0);
    uint32_t offset = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (offset >= size)
            return rejectMessage(pipe, i);
        size_t len = strlen(buf + offset) + 1;
        char *s = static_cast<char *>(plat_malloc(len));
        if (!s)
            return rejectMessage(pipe, i);
        memcpy(s, buf + offset, len);
        rec->strings[i] = s;
        offset += static_cast<uint32_t>(len);
    }
    if (count != 0)
        rec->stringCount = count - 1;
    rec->dataSize = 0;
    dropPartialRead(pipe);
    return completeReceive(pipe);
}

} // namespace

} // namespace raidc::trap

using namespace raidc::trap;

extern "C" {

int32_t transmitTrapEvent(TrapEventPipe *pipe) noexcept
{
    if (!pipe || !pipe->record)
        return RAIDC_TRAP_NULL;
    if (idleTooLong(pipe)) {
        // A message stalled half-way past the limit is given up: the reader
        // drops its torn rest in turn and finds the next header.
        if (pipe->writeBuffer && pipe->writeCount != 0) {
            pipe->LastAcessTime = pipe->now;
            return writeFailed(pipe, EAGAIN);
        }
        closeTrapEventPipe(pipe);
        if (pipe->isMaster)
            return RAIDC_TRAP_IDLE;
    }
    if (!pipe->isOpen) {
        int32_t r = openTrapEventPipe(pipe);
        if (r != RAIDC_TRAP_DONE)
            return r;
    }
    pipe->record->messageCount = pipe->sendCounter;
    if (!pipe->writeBuffer) {
        int32_t r = frameMessage(pipe);
        if (r != RAIDC_TRAP_DONE)
            return r;
    }
    // The descriptor is open for reading as well (see openTrapEventPipe), so
    // this write cannot raise SIGPIPE.
    ssize_t n = write(pipe->Id, pipe->writeBuffer + pipe->writeCount, pipe->writeBufferSize - pipe->writeCount);
    int err = errno;
    if (n < 0 && (err == EAGAIN || err == EWOULDBLOCK) && pipe->writeCount != 0) {
        // Part of the message is in the FIFO already: dropping the rest would
        // tear it for the reader. Keep it and wait for room; the last-activity
        // time stays at the last progress, so the idle rule bounds the stall.
        waitReady(pipe, POLLOUT, kRoomWaitMs);
        return RAIDC_TRAP_SEND_AGAIN;
    }
    pipe->LastAcessTime = pipe->now;
    if (n < 0)
        return writeFailed(pipe, err);
    pipe->writeCount += static_cast<uint32_t>(n);
    if (pipe->writeCount < pipe->writeBufferSize)
        return RAIDC_TRAP_SEND_AGAIN;
    dropWrite(pipe);
    pipe->sendCounter = nextCount(pipe->sendCounter);
    return RAIDC_TRAP_DONE;
}

int32_t receiveTrapEvent(TrapEventPipe *pipe) noexcept
{
    if (!pipe || !pipe->record)
        return RAIDC_TRAP_NULL;
    if (!pipe->isOpen) {
        int32_t r = openTrapEventPipe(pipe);
        if (r != RAIDC_TRAP_DONE) {
            closeTrapEventPipe(pipe);
            return r;
        }
    }
    if (idleTooLong(pipe)) {
        // A message the producer never finished must not be completed with
        // the bytes of a later one.
        dropPartialRead(pipe);
        if (!pipe->isMaster)
            closeTrapEventPipe(pipe);
        return RAIDC_TRAP_IDLE;
    }
    if (!pipe->readBuffer) {
        uint32_t size = pipe->headerPhase ? kHeaderLen : pipe->record->dataSize;
        if (size == 0 || size > kMaxDataSize)
            return rejectMessage(pipe, 0);
        pipe->readBuffer = static_cast<char *>(plat_calloc(1, size));
        if (!pipe->readBuffer)
            return readFailed(pipe, ENOMEM);
        pipe->readBufferSize = size;
        pipe->readCount = 0;
    }
    ssize_t n = read(pipe->Id, pipe->readBuffer + pipe->readCount, pipe->readBufferSize - pipe->readCount);
    if (n < 0) {
        int err = errno;
        if (err == EINTR)
            return RAIDC_TRAP_RECV_AGAIN;
        if (err != EAGAIN && err != EWOULDBLOCK)
            return readFailed(pipe, err);
        n = 0;
    }
    if (n == 0) {
        if (!pipe->headerPhase || pipe->readCount != 0)
            return RAIDC_TRAP_RECV_AGAIN;
        // Nothing of a message is held: keep no buffer between calls.
        dropPartialRead(pipe);
        return RAIDC_TRAP_NO_MESSAGE;
    }
    pipe->readCount += static_cast<uint32_t>(n);
    if (pipe->readCount < pipe->readBufferSize)
        return RAIDC_TRAP_RECV_AGAIN;
    return pipe->headerPhase ? takeHeader(pipe) : takeData(pipe);
}

int32_t RaidC_GetTrapEventData(TrapEventPipe *pipe) noexcept
{
    if (!pipe)
        return RAIDC_TRAP_NULL;
    pthread_mutex_lock(&Raid_ConsumerTrap_Mutex);
    if (!pipe->record) {
        stamp(&pipe->LastAcessTime);
        pipe->record = static_cast<TrapEventData *>(plat_calloc(1, sizeof(TrapEventData)));
        if (!pipe->record) {
            pthread_mutex_unlock(&Raid_ConsumerTrap_Mutex);
            return RAIDC_TRAP_NO_MEMORY;
        }
    }
    initTrapData(pipe->record);
    // Between steps of a message that is not all there yet, sleep until more
    // bytes come instead of spinning; the idle rule ends the wait for a
    // message that never completes.
    int32_t r;
    while ((r = receiveTrapEvent(pipe)) == RAIDC_TRAP_RECV_AGAIN)
        waitReady(pipe, POLLIN, -1);
    pthread_mutex_unlock(&Raid_ConsumerTrap_Mutex);
    return r;
}

int32_t RaidC_FreeTrapEventData(TrapEventPipe *pipe) noexcept
{
    if (!pipe || !pipe->record)
        return RAIDC_TRAP_NULL;
    TrapEventData *rec = pipe->record;
    // Received form: strings[0] .. strings[stringCount]; never past the
    // last slot whatever the count says.
    uint32_t last = rec->stringCount < RAIDC_TRAP_MAX_STRINGS ? rec->stringCount : RAIDC_TRAP_MAX_STRINGS - 1;
    for (uint32_t i = 0; i <= last; ++i) {
        free(rec->strings[i]);
        rec->strings[i] = nullptr;
    }
    free(rec);
    pipe->record = nullptr;
    return RAIDC_TRAP_DONE;
}

} // extern "C"
