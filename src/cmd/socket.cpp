// The command socket: one object type for both ends of the agent's UNIX
// stream socket. A message is an 81-byte text header ("S" and ten fields of
// eight hex digits) optionally followed by a NUL-terminated payload; send and
// receive are non-blocking steps that a select loop drives to completion.
#include "cmd.h"

#include "../../platform/unix/libunix.h"

#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace raidc::cmd;
using raidc::wire::getHex8;
using raidc::wire::kHexFieldLen;
using raidc::wire::nextCount;
using raidc::wire::putHex8;

static_assert(sizeof(RAIDC_CMD_SOCKET_PATH) <= sizeof(sockaddr_un::sun_path),
              "the command socket path must fit a UNIX socket address");
static_assert(sizeof(RaidCCmdHeader) == 10 * sizeof(uint32_t), "the header is ten 32-bit fields in wire order");

// The common tail of the socket diagnostics and its arguments.
#define SOCK_TAIL ", usedThreadBufferIdx %d  SocketFd %d AcceptedSocket %d, errno = %d %s\n"
#define SOCK_ARGS(s, err) (s)->name, (s)->usedThreadBufferIdx, (s)->SocketFd, (s)->AcceptedSocket, (err), roleOf(s)

namespace {

constexpr uint32_t kHeaderBytes = RAIDC_CMD_HEADER_LEN;
constexpr int kHeaderFields = sizeof(RaidCCmdHeader) / sizeof(uint32_t);
static_assert(kHeaderBytes == 1 + kHeaderFields * kHexFieldLen, "\"S\" and the fields");
// Connections the agent's listening socket queues before it accepts them.
constexpr int kListenBacklog = 5;

// The family field and the path without its NUL.
socklen_t addressLength(const RaidCCmdSocket *s)
{
    return static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) +
                                  strnlen(s->address.sun_path, sizeof s->address.sun_path));
}

void release(char **buf)
{
    free(*buf);
    *buf = nullptr;
}

// O_NONBLOCK becomes the descriptor's only status flag; lastErrno tells why not.
int setNonBlocking(RaidCCmdSocket *s)
{
    int r = fcntl(s->SocketFd, F_SETFL, O_NONBLOCK);
    s->lastErrno = r == 0 ? s->lastErrno : errno;
    return r;
}

// The socket's folder is often writable by everyone, so whoever listens on
// the path need not be the agent: only root or our own user may answer.
bool peerTrusted(const RaidCCmdSocket *s, long *uid)
{
    struct ucred cred = {};
    socklen_t len = sizeof cred;
    *uid = -1;
    if (getsockopt(s->SocketFd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred)
        return false;
    *uid = static_cast<long>(cred.uid);
    return cred.uid == 0 || cred.uid == geteuid();
}

enum class Idle { Fresh, MasterExpired, SlaveClosed };

// First step of send and receive. A Master past its limit stays open and
// keeps getting 8 (LastAcessTime is not refreshed here); a Slave past its
// limit is closed so that its next step starts on a fresh connection.
Idle idleCheck(RaidCCmdSocket *s, const char *op, int line)
{
    long delta = idleSeconds(s);
    if (s->isMaster) {
        if (delta <= kMasterIdleLimit)
            return Idle::Fresh;
        RaidCPrint("%s: %d Master: now.tv_sec %ld, LastAcessTime.tv_sec %ld delta %d \n", op, line,
                   static_cast<long>(s->now.tv_sec), static_cast<long>(s->LastAcessTime.tv_sec),
                   static_cast<int>(delta));
        return Idle::MasterExpired;
    }
    if (delta <= kSlaveIdleLimit)
        return Idle::Fresh;
    reportSlaveIdle(s, op, line, delta);
    close_RaidCCmdSocket(s);
    return Idle::SlaveClosed;
}

// Frames header and payload into a buffer of the message's exact size (plus
// the terminating NUL, which is not sent).
int32_t frame(RaidCCmdSocket *s)
{
    size_t len = s->data ? strlen(s->data) : 0;
    if (len > UINT32_MAX - kHeaderBytes - 2) {
        close_RaidCCmdSocket(s);
        return RAIDC_SOCK_NO_MEMORY;
    }
    uint32_t size = s->data ? static_cast<uint32_t>(len) + kHeaderBytes + 2 : kHeaderBytes + 1;
    if (s->data)
        s->header.dataLength = static_cast<uint32_t>(len) + 1;
    auto *buf = static_cast<char *>(plat_calloc(1, size));
    if (!buf) {
        close_RaidCCmdSocket(s);
        return RAIDC_SOCK_NO_MEMORY;
    }
    buf[0] = 'S';
    uint32_t f[kHeaderFields];
    memcpy(f, &s->header, sizeof f);
    for (int i = 0; i < kHeaderFields; ++i)
        putHex8(buf + 1 + kHexFieldLen * i, f[i]);
    if (len)
        memcpy(buf + kHeaderBytes, s->data, len);
    s->writeBuffer = buf;
    s->writeBufferSize = size;
    s->writeCount = 0;
    return RAIDC_SOCK_DONE;
}

// Bytes still to move in a buffer of `size` (its last byte is the NUL).
uint32_t remaining(uint32_t size, uint32_t done)
{
    return size > 0 && done < size - 1 ? size - 1 - done : 0;
}

// A full header buffer. Returns 1 while a header is still being looked for
// or a payload follows, 0 for a complete message without payload.
int32_t takeHeader(RaidCCmdSocket *s)
{
    char *rb = s->readBuffer;
    if (rb[0] != 'S') {
        // Lost our place: keep what starts at the next "S0". The search is
        // over the bytes, so a stray NUL in the junk cannot hide the header.
        auto *at = static_cast<char *>(memmem(rb + 1, kHeaderBytes - 1, "S0", 2));
        s->readCount = at ? static_cast<uint32_t>(rb + kHeaderBytes - at) : 0;
        if (at)
            memmove(rb, at, s->readCount);
        return RAIDC_SOCK_RECV_AGAIN;
    }
    uint32_t f[kHeaderFields];
    for (int i = 0; i < kHeaderFields; ++i) {
        if (!getHex8(rb + 1 + kHexFieldLen * i, &f[i])) {
            // Not a header of ours: the reply is unusable, and the header
            // fields keep what they held. Unlike the trap reader, which
            // skips such bytes, this fails the receive (see wire.h).
            RaidCPrintError(
                "libzep_RaidCommon: receiveData_RaidCCmdSocket(): invalid header on %s, field %d is not hex\n", s->name,
                i);
            release(&s->readBuffer);
            s->readCount = 0;
            stamp(&s->LastAcessTime);
            return RAIDC_SOCK_SYSCALL_FAILED;
        }
    }
    memcpy(&s->header, f, sizeof f);
    release(&s->readBuffer);
    if (s->header.dataLength > kMaxPayload) {
        RaidCPrintError("libzep_RaidCommon: receiveData_RaidCCmdSocket(): payload of %u bytes refused on %s\n",
                        s->header.dataLength, s->name);
        close_RaidCCmdSocket(s);
        return RAIDC_SOCK_NO_MEMORY;
    }
    if (s->header.dataLength != 0) {
        s->headerPhase = 0;
        return RAIDC_SOCK_RECV_AGAIN;
    }
    s->receiveCounter = nextCount(s->receiveCounter);
    s->readCount = 0;
    stamp(&s->LastAcessTime);
    return RAIDC_SOCK_DONE;
}

// A full payload buffer; `got` is what the last read brought.
int32_t takePayload(RaidCCmdSocket *s, ssize_t got)
{
    char *payload = s->readBuffer;
    s->readBuffer = nullptr;
    s->headerPhase = 1;
    stamp(&s->LastAcessTime);
    if (payload[0] == 'S' && payload[1] == '0') {
        RaidCPrint("libzep_RaidCommon: %s: %d ERROR!!!! RdCnt %d RB-Cnt %d, %s %s Name %s \n %s \n",
                   "receiveData_RaidCCmdSocket", __LINE__, static_cast<int>(got), s->readCount, "DatPhase", roleOf(s),
                   s->name, payload);
        free(payload);
        s->data = nullptr;
        return RAIDC_SOCK_HEADER_IN_PAYLOAD;
    }
    s->data = payload;
    s->header.dataLength = 0;
    s->receiveCounter = nextCount(s->receiveCounter);
    s->readCount = 0;
    return RAIDC_SOCK_DONE;
}

// Reports a failed step with the common diagnostic tail (lastErrno already
// set), closes the object and returns `code`.
int32_t failClosed(RaidCCmdSocket *s, const char *format, int32_t code)
{
    RaidCPrintError(format, SOCK_ARGS(s, s->lastErrno));
    close_RaidCCmdSocket(s);
    return code;
}

// A failed write or read. A Slave gives up the connection on a write error
// (its next send reconnects); a read error leaves it as it is, so the next
// write finds out.
int32_t connectionLost(RaidCCmdSocket *s, bool writing)
{
    if (writing && !s->isMaster)
        close_RaidCCmdSocket(s);
    stamp(&s->LastAcessTime);
    return RAIDC_SOCK_SYSCALL_FAILED;
}

} // namespace

int32_t raidc::cmd::connectWithin(RaidCCmdSocket *s, int timeoutMs) noexcept
{
    if (!s)
        return RAIDC_SOCK_NULL;
    if (!s->isCreated) {
        int32_t r = create_RaidCCmdSocket(s);
        if (r != RAIDC_SOCK_DONE)
            return r;
    }
    if (!s->isConnected) {
        s->sendCounter = 0;
        s->receiveCounter = 0;
        s->readCount = 0;
        // Non-blocking before connecting: a listener that never accepts, with
        // its backlog full, must not hold the caller past the bound.
        if (setNonBlocking(s) != 0)
            return failClosed(s,
                              "libzep_RaidCommon: connect_RaidCCmdSocket(): Error configure NonBlock of  %s" SOCK_TAIL,
                              RAIDC_SOCK_OPTION_FAILED);
        errno = 0;
        int r = sigwrap_connect_within(s->SocketFd, reinterpret_cast<const struct sockaddr *>(&s->address),
                                       addressLength(s), timeoutMs);
        s->lastErrno = errno;
        if (r != 0) {
            close_RaidCCmdSocket(s);
            return RAIDC_SOCK_SYSCALL_FAILED;
        }
        long uid;
        if (!peerTrusted(s, &uid)) {
            s->lastErrno = EACCES;
            RaidCPrintError("libzep_RaidCommon: connect_RaidCCmdSocket(): %s refused: the peer's uid %ld is neither "
                            "root nor ours\n",
                            s->name, uid);
            close_RaidCCmdSocket(s);
            return RAIDC_SOCK_SYSCALL_FAILED;
        }
        s->isConnected = 1;
    }
    stamp(&s->LastAcessTime);
    return RAIDC_SOCK_DONE;
}

void raidc::cmd::reportSlaveIdle(const RaidCCmdSocket *s, const char *op, int line, long delta) noexcept
{
    RaidCPrint("%s: %d Slave: now.tv_sec %ld, LastAcessTime.tv_sec %ld delta %d \n", op, line,
               static_cast<long>(s->now.tv_sec), static_cast<long>(s->LastAcessTime.tv_sec), static_cast<int>(delta));
}

extern "C" {

int32_t initData_RaidCCmdSocket(RaidCCmdSocket *s, uint8_t isMaster) noexcept
{
    if (!s)
        return RAIDC_SOCK_NULL;
    memset(s, 0, sizeof *s);
    s->isMaster = isMaster;
    s->SocketFd = -1;
    s->AcceptedSocket = -1;
    s->usedThreadBufferIdx = -1;
    s->ProcessId = getpid();
    s->header.processId = static_cast<uint32_t>(s->ProcessId);
    s->headerPhase = 1;
    s->address.sun_family = AF_UNIX;
    memcpy(s->address.sun_path, RAIDC_CMD_SOCKET_PATH, sizeof RAIDC_CMD_SOCKET_PATH);
    stamp(&s->LastAcessTime);
    return RAIDC_SOCK_DONE;
}

int32_t create_RaidCCmdSocket(RaidCCmdSocket *s) noexcept
{
    if (!s)
        return RAIDC_SOCK_NULL;
    // Close-on-exec: a child that the user's process starts must not keep
    // the agent connection (or the listening socket) open behind our back.
    errno = 0;
    s->SocketFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    s->lastErrno = errno;
    snprintf(s->name, sizeof s->name, "Socket(%u)-%d", s->header.processId, s->SocketFd);
    if (s->SocketFd < 0)
        return failClosed(s, "libzep_RaidCommon: create_RaidCCmdSocket(): Error creating Socket: %s" SOCK_TAIL,
                          RAIDC_SOCK_CREATE_FAILED);
    int one = 1;
    if (s->isMaster && setsockopt(s->SocketFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) {
        s->lastErrno = errno;
        s->isCreated = 1; // so that close releases the descriptor
        return failClosed(
            s, "libzep_RaidCommon: create_RaidCCmdSocket(): Error setsockopt(SO_REUSEADDR) failed: of %s" SOCK_TAIL,
            RAIDC_SOCK_OPTION_FAILED);
    }
    s->isCreated = 1;
    stamp(&s->LastAcessTime);
    return RAIDC_SOCK_DONE;
}

int32_t bind_RaidCCmdSocket(RaidCCmdSocket *s) noexcept
{
    if (!s)
        return RAIDC_SOCK_NULL;
    s->lastErrno = 0;
    if (!s->isCreated) {
        char path[sizeof s->address.sun_path + 1] = {};
        memcpy(path, s->address.sun_path, sizeof s->address.sun_path);
        unlink(path);
        if (create_RaidCCmdSocket(s) != RAIDC_SOCK_DONE) {
            s->isBound = 0;
            stamp(&s->LastAcessTime);
            return -1;
        }
    }
    errno = 0;
    int r = bind(s->SocketFd, reinterpret_cast<const struct sockaddr *>(&s->address), addressLength(s));
    s->lastErrno = errno;
    if (r != 0) {
        RaidCPrintError("libzep_RaidCommon: bind_RaidCCmdSocket(): Error binding %s, usedThreadBufferIdx %d  SocketFd "
                        "%d errno = %d %s\n",
                        s->name, s->usedThreadBufferIdx, s->SocketFd, s->lastErrno, roleOf(s));
        close_RaidCCmdSocket(s);
        select_sleep(1, 0);
        stamp(&s->LastAcessTime);
        return RAIDC_SOCK_SYSCALL_FAILED;
    }
    s->isBound = 1;
    stamp(&s->LastAcessTime);
    return RAIDC_SOCK_DONE;
}

int32_t listen_RaidCCmdSocket(RaidCCmdSocket *s) noexcept
{
    if (!s)
        return RAIDC_SOCK_NULL;
    if (!s->isBound) {
        int32_t r = bind_RaidCCmdSocket(s);
        if (r != RAIDC_SOCK_DONE) {
            close_RaidCCmdSocket(s);
            return r;
        }
    }
    if (!s->isListening) {
        errno = 0;
        int r = listen(s->SocketFd, kListenBacklog);
        s->lastErrno = errno;
        if (r != 0)
            return failClosed(s, "libzep_RaidCommon: listen_RaidCCmdSocket(): Error listening socket %s" SOCK_TAIL,
                              RAIDC_SOCK_SYSCALL_FAILED);
        if (setNonBlocking(s) != 0)
            return failClosed(s, "libzep_RaidCommon: listen_RaidCCmdSocket(): Error configure NonBlock of %s" SOCK_TAIL,
                              RAIDC_SOCK_OPTION_FAILED);
        s->isListening = 1;
    }
    stamp(&s->LastAcessTime);
    return RAIDC_SOCK_DONE;
}

int32_t accept_RaidCCmdSocket(RaidCCmdSocket *s) noexcept
{
    if (!s)
        return RAIDC_SOCK_NULL;
    errno = 0;
    s->AcceptedSocket = sigwrap_accept(s->SocketFd, nullptr, nullptr);
    s->lastErrno = errno;
    if (s->AcceptedSocket == -1) {
        RaidCPrintError(
            "libzep_RaidCommon: accept_RaidCCmdSocket(): Error accepting socket %s SocketFd %d errno = %d %s \n",
            s->name, s->SocketFd, s->lastErrno, roleOf(s));
        close_RaidCCmdSocket(s);
        return RAIDC_SOCK_CREATE_FAILED;
    }
    fcntl(s->AcceptedSocket, F_SETFD, FD_CLOEXEC);
    s->isAccepted = 1;
    s->isConnected = 1;
    stamp(&s->LastAcessTime);
    return RAIDC_SOCK_DONE;
}

int32_t connect_RaidCCmdSocket(RaidCCmdSocket *s) noexcept
{
    return connectWithin(s, kExchangeDeadlineMs);
}

int32_t close_RaidCCmdSocket(RaidCCmdSocket *s) noexcept
{
    if (!s)
        return RAIDC_SOCK_NULL;
    int32_t result = RAIDC_SOCK_DONE;
    if (s->SocketFd != -1 && isOpen(s)) {
        if ((s->isConnected || s->isAccepted || s->isBound || s->isListening) &&
            shutdown(s->SocketFd, SHUT_RDWR) != 0) {
            s->lastErrno = errno;
            RaidCPrintError("libzep_RaidCommon: close_RaidCCmdSocket(): Error shutdown SocketFd %s errno = %d\n",
                            s->name, s->lastErrno);
            result = RAIDC_SOCK_SYSCALL_FAILED;
        }
        if (sigwrap_close(s->SocketFd) != 0) {
            s->lastErrno = errno;
            RaidCPrintError("libzep_RaidCommon: close_RaidCCmdSocket(): Error closing  %s" SOCK_TAIL,
                            SOCK_ARGS(s, s->lastErrno));
            result = RAIDC_SOCK_SYSCALL_FAILED;
        }
    }
    // Buffers, counters and header stay: the object's user decides what
    // becomes of a message that a close cut off.
    s->isCreated = s->isConnected = s->isBound = s->isListening = s->isAccepted = 0;
    stamp(&s->LastAcessTime);
    return result;
}

int32_t sendData_RaidCCmdSocket(RaidCCmdSocket *s) noexcept
{
    if (!s)
        return RAIDC_SOCK_NULL;
    if (idleCheck(s, "sendData_RaidCCmdSocket", __LINE__) == Idle::MasterExpired)
        return RAIDC_SOCK_IDLE;
    if (int32_t r = ensureConnected(s); r != RAIDC_SOCK_DONE)
        return r;
    s->header.messageCount = s->sendCounter;
    if (!s->writeBuffer) {
        int32_t r = frame(s);
        if (r != RAIDC_SOCK_DONE)
            return r;
    }
    // send with MSG_NOSIGNAL rather than write: a peer that has gone away
    // must give EPIPE (result 10), not a SIGPIPE that ends the whole process.
    errno = 0;
    ssize_t n =
        send(s->SocketFd, s->writeBuffer + s->writeCount, remaining(s->writeBufferSize, s->writeCount), MSG_NOSIGNAL);
    s->lastErrno = errno;
    stamp(&s->LastAcessTime);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        RaidCPrintError(
            "libzep_RaidCommon: sendData_RaidCCmdSocket(): WrCnt %d, WBCnt %d, try EAGAIN writing socket %s" SOCK_TAIL,
            s->writeCount, s->writeBufferSize, SOCK_ARGS(s, s->lastErrno));
        return RAIDC_SOCK_SEND_AGAIN;
    }
    if (n < 0) {
        RaidCPrintError(
            "libzep_RaidCommon: sendData_RaidCCmdSocket(): WrCnt %d, WBCnt %d, Error writing socket %s" SOCK_TAIL,
            s->writeCount, s->writeBufferSize, SOCK_ARGS(s, s->lastErrno));
        release(&s->writeBuffer);
        return connectionLost(s, true);
    }
    s->writeCount += static_cast<uint32_t>(n);
    if (remaining(s->writeBufferSize, s->writeCount) > 0)
        return RAIDC_SOCK_SEND_AGAIN;
    release(&s->writeBuffer);
    s->sendCounter = nextCount(s->sendCounter);
    return RAIDC_SOCK_DONE;
}

int32_t receiveData_RaidCCmdSocket(RaidCCmdSocket *s) noexcept
{
    if (!s)
        return RAIDC_SOCK_NULL;
    s->lastErrno = 0;
    if (idleCheck(s, "receiveData_RaidCCmdSocket", __LINE__) != Idle::Fresh)
        return RAIDC_SOCK_IDLE;
    if (int32_t r = ensureConnected(s); r != RAIDC_SOCK_DONE) {
        stamp(&s->LastAcessTime);
        return r;
    }
    if (!s->readBuffer) {
        s->data = nullptr; // an earlier payload belongs to the user now
        if (!s->headerPhase && (s->header.dataLength == 0 || s->header.dataLength > kMaxPayload))
            s->headerPhase = 1; // no usable payload length left: look for a header
        s->readBufferSize = s->headerPhase ? kHeaderBytes + 1 : s->header.dataLength + 1;
        s->readBuffer = static_cast<char *>(plat_calloc(1, s->readBufferSize));
        s->readCount = 0;
        if (!s->readBuffer) {
            close_RaidCCmdSocket(s);
            return RAIDC_SOCK_NO_MEMORY;
        }
    }
    errno = 0;
    ssize_t n = read(s->SocketFd, s->readBuffer + s->readCount, remaining(s->readBufferSize, s->readCount));
    s->lastErrno = errno;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return RAIDC_SOCK_RECV_AGAIN;
    if (n < 0) {
        RaidCPrintError("libzep_RaidCommon: receiveData_RaidCCmdSocket(): Error reading socket %s" SOCK_TAIL,
                        SOCK_ARGS(s, s->lastErrno));
        release(&s->readBuffer);
        return connectionLost(s, false);
    }
    if (n == 0) {
        RaidCPrintError("libzep_RaidCommon: receiveData_RaidCCmdSocket(): Error reading socket %s, usedThreadBufferIdx "
                        "%d  SocketFd %d AcceptedSocket %d, receiveCnt = %d %s\n",
                        SOCK_ARGS(s, 0));
        release(&s->readBuffer);
        return connectionLost(s, false);
    }
    s->readCount += static_cast<uint32_t>(n);
    if (remaining(s->readBufferSize, s->readCount) > 0) {
        stamp(&s->LastAcessTime);
        return RAIDC_SOCK_RECV_AGAIN;
    }
    s->readBuffer[s->readBufferSize - 1] = '\0';
    return s->headerPhase ? takeHeader(s) : takePayload(s, n);
}

} // extern "C"
