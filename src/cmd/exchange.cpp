// The client side of the command channel: one request and its reply over a
// command socket, and the drive locate commands built on it.
#include "cmd.h"

#include "../../platform/unix/libunix.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>

using namespace raidc::cmd;

pthread_mutex_t RaidC_ConsumerCmd_Mutex = PTHREAD_MUTEX_INITIALIZER;

namespace {

const char kOp[] = "raidc_SendReceiveCmd";

// The room a locate call gives the controller's "ControllerFamily" text: a
// longer one is a lookup failure, not a family.
constexpr unsigned int kFamilyTextLen = 64;

// The process's one client object, guarded by RaidC_ConsumerCmd_Mutex.
RaidCCmdSocket g_client;
bool g_clientReady = false;

// The end of an exchange on the monotonic clock, in milliseconds.
class Deadline {
public:
    Deadline() : end_(nowMs() + kExchangeDeadlineMs) {}
    int left() const
    {
        long long l = end_ - nowMs();
        return l > 0 ? static_cast<int>(l) : 0;
    }

private:
    static long long nowMs()
    {
        struct timespec t;
        clock_gettime(CLOCK_MONOTONIC, &t);
        return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
    }
    long long end_;
};

// One wait of at most a second, and never past the deadline, for the socket
// to become readable or writable. A closed object has no descriptor left to
// wait on (its old number may already belong to someone else): that fails
// like a wait on a bad descriptor.
int waitOn(RaidCCmdSocket *s, bool forRead, const Deadline &d, bool *ready)
{
    *ready = false;
    if (!isOpen(s) || s->SocketFd < 0) {
        errno = EBADF;
        s->lastErrno = EBADF;
        return -1;
    }
    int left = d.left();
    struct pollfd p = {s->SocketFd, static_cast<short>(forRead ? POLLIN : POLLOUT), 0};
    errno = 0;
    int r = sigwrap_poll(&p, 1, left < 1000 ? left : 1000);
    s->lastErrno = errno;
    if (r > 0 && (p.revents & POLLNVAL)) {
        s->lastErrno = errno = EBADF;
        return -1;
    }
    // A hang-up or an error counts as ready: the step that follows finds out
    // what happened and answers for it.
    *ready = r > 0 && (p.revents & (p.events | POLLHUP | POLLERR));
    return r;
}

void reportSelectFailure(const RaidCCmdSocket *s, const char *format)
{
    RaidCPrint(format, s->name, s->ProcessId, s->usedThreadBufferIdx, s->SocketFd, s->AcceptedSocket, s->lastErrno);
}

// An exchange that failed leaves nothing behind: the connection may still
// carry the rest of a reply that nobody will ask for, so it goes together
// with any half-moved message, and the next exchange starts afresh.
void abandon(RaidCCmdSocket *s)
{
    close_RaidCCmdSocket(s);
    free(s->readBuffer);
    free(s->writeBuffer);
    s->readBuffer = s->writeBuffer = nullptr;
    s->readCount = s->writeCount = 0;
    s->headerPhase = 1;
}

// The whole exchange ran out of time, however the peer kept it busy.
bool outOfTime(RaidCCmdSocket *s, const Deadline &d, int line)
{
    if (d.left() > 0)
        return false;
    RaidCPrint("libzep_RaidCommon: %s: %d\t no complete exchange within %d ms on %s \n", kOp, line, kExchangeDeadlineMs,
               s->name);
    abandon(s);
    return true;
}

// After a wait without an event: true when a Slave has gone more than a
// second without progress (it is closed then); a Master waits on.
bool slaveGivesUp(RaidCCmdSocket *s, int line)
{
    long delta = idleSeconds(s);
    if (s->isMaster || delta <= kReplyIdleLimit)
        return false;
    reportSlaveIdle(s, kOp, line, delta);
    close_RaidCCmdSocket(s);
    return true;
}

// A connection that the peer has closed (the agent restarted, say) is
// noticed before it is used, so that the request goes out on a new one
// instead of failing on the dead one.
bool peerClosed(const RaidCCmdSocket *s)
{
    struct pollfd p = {s->SocketFd, POLLIN, 0};
    if (sigwrap_poll(&p, 1, 0) <= 0)
        return false;
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
        return true;
    char c;
    ssize_t n = recv(s->SocketFd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

// Connects, or reconnects once when the connection is dead or a Slave's has
// been idle past its limit, within what is left of the deadline.
int32_t connectLive(RaidCCmdSocket *s, const Deadline &d)
{
    if (s->isConnected && isOpen(s)) {
        long idle = idleSeconds(s);
        bool stale = !s->isMaster && idle > kSlaveIdleLimit;
        if (stale)
            reportSlaveIdle(s, kOp, __LINE__, idle);
        if (stale || peerClosed(s))
            abandon(s);
    }
    return s->isConnected ? RAIDC_SOCK_DONE : connectWithin(s, d.left());
}

// false when the deadline ended the phase.
bool writePhase(RaidCCmdSocket *s, const Deadline &d)
{
    for (;;) {
        if (outOfTime(s, d, __LINE__))
            return false;
        bool ready;
        int sel = waitOn(s, false, d, &ready);
        if (sel < 0) {
            reportSelectFailure(s, "RaidC_CmdExecutionWorker()  Error in read select()..check this up!! %s ProcessId "
                                   "%d, usedThreadBufferIdx %d, SocketFd %d, AcceptedSocket %d,  errno = %d\n");
            return true;
        }
        if (sel == 0) {
            if (slaveGivesUp(s, __LINE__))
                return true;
            continue;
        }
        if (!ready) {
            RaidCPrint("libzep_RaidCommon: %s: %d\t Write select Error: select_retval %d \n", kOp, __LINE__, sel);
            continue;
        }
        int32_t r = sendData_RaidCCmdSocket(s);
        if (r == RAIDC_SOCK_SEND_AGAIN)
            continue;
        if (r != RAIDC_SOCK_DONE)
            RaidCPrint("libzep_RaidCommon: %s: %d\t Error: sendData_RaidCCmdSocket() ret %d \n", kOp, __LINE__, r);
        return true;
    }
}

int32_t readPhase(RaidCCmdSocket *s, const Deadline &d)
{
    int32_t result = RAIDC_SOCK_WAIT_FAILED;
    for (;;) {
        // Checked before every wait and every step: neither a trickle of
        // bytes nor a flood of them without a reply keeps the exchange going.
        if (outOfTime(s, d, __LINE__))
            return RAIDC_SOCK_TIMEOUT;
        bool ready;
        int sel = waitOn(s, true, d, &ready);
        if (sel < 0) {
            reportSelectFailure(s,
                                "RaidC_CmdExecutionWorker()  Error in receive select()..check this up!! %s ProcessId "
                                "%d, usedThreadBufferIdx %d, SocketFd %d, AcceptedSocket %d,  errno = %d\n");
            return result;
        }
        if (sel == 0) {
            if (slaveGivesUp(s, __LINE__))
                return RAIDC_SOCK_TIMEOUT;
            continue;
        }
        if (!ready) {
            RaidCPrint("libzep_RaidCommon: %s: %d\t Read select Error: select_retval %d \n", kOp, __LINE__, sel);
            continue;
        }
        result = receiveData_RaidCCmdSocket(s);
        if (result == RAIDC_SOCK_RECV_AGAIN)
            continue;
        if (result != RAIDC_SOCK_DONE)
            RaidCPrint("libzep_RaidCommon: %s: %d\t Error: receiveData_RaidCCmdSocket() ret %d \n", kOp, __LINE__,
                       result);
        return result;
    }
}

int32_t exchange(RaidCCmdSocket *s, const Deadline &d)
{
    if (int32_t r = connectLive(s, d); r != RAIDC_SOCK_DONE)
        return r;
    // The reply is waited for whatever ended the write phase: after a failed
    // write that wait fails or times out, and its result is the answer.
    if (!writePhase(s, d))
        return RAIDC_SOCK_TIMEOUT;
    int32_t r = readPhase(s, d);
    if (r != RAIDC_SOCK_DONE && !s->isMaster)
        abandon(s);
    return r;
}

struct LocateCommand {
    uint32_t code;
    bool physical;
};

// Looks up the identifiers, sends the command on the process's client object
// and returns the exchange's result; *reply gets the reply's value field.
// Called with RaidC_ConsumerCmd_Mutex held.
int32_t locateLocked(LocateCommand cmd, int ctrlIdx, int devIdx, int32_t value, int32_t *reply)
{
    Deadline deadline; // from taking the lock: the look-ups count too
    if (!g_clientReady) {
        initData_RaidCCmdSocket(&g_client, 0);
        g_clientReady = true;
    }
    int64_t ctrlId = 0;
    int64_t number = 0;
    // One byte more than the lookup may fill: a text of exactly the room's
    // length still counts as fitting and is copied without its NUL.
    char family[kFamilyTextLen + 1] = {};
    if (RaidC_getCtrlInfo("CtrlId", ctrlIdx, nullptr, 0, &ctrlId) != RAIDC_SUCCESS_INT ||
        RaidC_getCtrlInfo("ControllerFamily", ctrlIdx, family, kFamilyTextLen, nullptr) != RAIDC_SUCCESS_STRING)
        return RAIDC_SOCK_WAIT_FAILED;
    int st = cmd.physical ? RaidC_getPDInfo("DeviceNumber", ctrlIdx, devIdx, nullptr, 0, &number)
                          : RaidC_getLDInfo("LogDriveNumber", ctrlIdx, devIdx, nullptr, 0, &number);
    if (st != RAIDC_SUCCESS_INT)
        return RAIDC_SOCK_WAIT_FAILED;

    // Tested in this order, so that a text naming both families is PCIeSSD.
    uint32_t familyCode = RAIDC_CMD_FAMILY_OTHER;
    if (strstr(family, "MR"))
        familyCode = RAIDC_CMD_FAMILY_MR;
    if (strstr(family, "PCIeSSD"))
        familyCode = RAIDC_CMD_FAMILY_PCIESSD;
    RaidCCmdHeader &h = g_client.header;
    h.command = cmd.code;
    h.arg1 = static_cast<uint32_t>(static_cast<uint64_t>(ctrlId));
    h.arg2 = static_cast<uint32_t>(static_cast<uint64_t>(ctrlId) >> 32);
    h.arg3 = static_cast<uint32_t>(static_cast<uint64_t>(number));
    h.arg4 = static_cast<uint32_t>(static_cast<uint64_t>(number) >> 32);
    h.arg5 = familyCode;
    h.value = static_cast<uint32_t>(value);
    h.dataLength = 0;
    g_client.data = nullptr;

    int32_t r = exchange(&g_client, deadline);
    if (reply)
        *reply = static_cast<int32_t>(h.value);
    // A reply never needs a payload; one that came anyway is ours to drop.
    free(g_client.data);
    g_client.data = nullptr;
    return r;
}

// The look-ups take RaidC_ThreadMutex inside this lock, never the reverse.
int32_t locate(LocateCommand cmd, int ctrlIdx, int devIdx, int32_t value, int32_t *reply)
{
    pthread_mutex_lock(&RaidC_ConsumerCmd_Mutex);
    int32_t r = locateLocked(cmd, ctrlIdx, devIdx, value, reply);
    pthread_mutex_unlock(&RaidC_ConsumerCmd_Mutex);
    return r;
}

constexpr LocateCommand kGetLd = {RAIDC_CMD_GET_LD_LOCATE, false};
constexpr LocateCommand kSetLd = {RAIDC_CMD_SET_LD_LOCATE, false};
constexpr LocateCommand kGetPd = {RAIDC_CMD_GET_PD_LOCATE, true};
constexpr LocateCommand kSetPd = {RAIDC_CMD_SET_PD_LOCATE, true};

} // namespace

extern "C" {

int32_t raidc_SendReceiveCmd(RaidCCmdSocket *s) noexcept
{
    if (!s)
        return RAIDC_SOCK_NULL;
    return exchange(s, Deadline());
}

// A get without a place for its answer is refused (15) before anything is
// looked up or sent.
int32_t RaidC_GetLogicalDriveLocate(int ctrlIdx, int devIdx, int32_t *locateOut) noexcept
{
    return locateOut ? locate(kGetLd, ctrlIdx, devIdx, 0, locateOut) : RAIDC_SOCK_NULL;
}

int32_t RaidC_SetLogicalDriveLocate(int ctrlIdx, int devIdx, int32_t locateValue) noexcept
{
    return locate(kSetLd, ctrlIdx, devIdx, locateValue, nullptr);
}

int32_t RaidC_GetPhysicalDriveLocate(int ctrlIdx, int devIdx, int32_t *locateOut) noexcept
{
    return locateOut ? locate(kGetPd, ctrlIdx, devIdx, 0, locateOut) : RAIDC_SOCK_NULL;
}

int32_t RaidC_SetPhysicalDriveLocate(int ctrlIdx, int devIdx, int32_t locateValue) noexcept
{
    return locate(kSetPd, ctrlIdx, devIdx, locateValue, nullptr);
}

} // extern "C"
