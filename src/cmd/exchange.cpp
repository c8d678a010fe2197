// The client side of the command channel: one request and its reply over a
// command socket, and the drive locate commands built on it.
#include "cmd.h"

#include "../../platform/unix/libunix.h"

#include <cerrno>
#include <sys/select.h>

using namespace raidc::cmd;

pthread_mutex_t RaidC_ConsumerCmd_Mutex = PTHREAD_MUTEX_INITIALIZER;

namespace {

const char kOp[] = "raidc_SendReceiveCmd";

// The process's one client object, guarded by RaidC_ConsumerCmd_Mutex.
RaidCCmdSocket g_client;
bool g_clientReady = false;

// One wait of at most a second for the socket to become readable or
// writable. A closed object has no descriptor left to wait on (its old
// number may already belong to someone else), and one beyond FD_SETSIZE
// cannot go into an fd_set: both fail like a select on a bad descriptor.
int waitOn(RaidCCmdSocket *s, bool forRead, bool *ready)
{
    *ready = false;
    int fd = s->SocketFd;
    if (!isOpen(s) || fd < 0 || fd >= FD_SETSIZE) {
        errno = EBADF;
        s->lastErrno = EBADF;
        return -1;
    }
    fd_set io, ex;
    FD_ZERO(&io);
    FD_ZERO(&ex);
    FD_SET(fd, &io);
    FD_SET(fd, &ex);
    struct timeval tv = {1, 0};
    errno = 0;
    int r = sigwrap_select(fd + 1, forRead ? &io : nullptr, forRead ? nullptr : &io, &ex, &tv);
    s->lastErrno = errno;
    *ready = r > 0 && FD_ISSET(fd, &io);
    return r;
}

void reportSelectFailure(const RaidCCmdSocket *s, const char *format)
{
    RaidCPrint(format, s->name, s->ProcessId, s->usedThreadBufferIdx, s->SocketFd, s->AcceptedSocket, s->lastErrno);
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

void writePhase(RaidCCmdSocket *s)
{
    for (;;) {
        bool ready;
        int sel = waitOn(s, false, &ready);
        if (sel < 0) {
            reportSelectFailure(s, "RaidC_CmdExecutionWorker()  Error in read select()..check this up!! %s ProcessId %d, usedThreadBufferIdx %d, SocketFd %d, AcceptedSocket %d,  errno = %d\n");
            return;
        }
        if (sel == 0) {
            if (slaveGivesUp(s, __LINE__))
                return;
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
        return;
    }
}

int32_t readPhase(RaidCCmdSocket *s)
{
    int32_t result = RAIDC_SOCK_WAIT_FAILED;
    for (;;) {
        bool ready;
        int sel = waitOn(s, true, &ready);
        if (sel < 0) {
            reportSelectFailure(s, "RaidC_CmdExecutionWorker()  Error in receive select()..check this up!! %s ProcessId %d, usedThreadBufferIdx %d, SocketFd %d, AcceptedSocket %d,  errno = %d\n");
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
            RaidCPrint("libzep_RaidCommon: %s: %d\t Error: receiveData_RaidCCmdSocket() ret %d \n", kOp, __LINE__, result);
        return result;
    }
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
    if (!g_clientReady) {
        initData_RaidCCmdSocket(&g_client, 0);
        g_clientReady = true;
    }
    int64_t ctrlId = 0;
    int64_t number = 0;
    // One byte more than the lookup may fill: a text of exactly 64 bytes
    // still counts as fitting and is copied without its NUL.
    char family[65] = {};
    if (RaidC_getCtrlInfo("CtrlId", ctrlIdx, nullptr, 0, &ctrlId) != RAIDC_SUCCESS_INT ||
        RaidC_getCtrlInfo("ControllerFamily", ctrlIdx, family, 64, nullptr) != RAIDC_SUCCESS_STRING)
        return RAIDC_SOCK_WAIT_FAILED;
    int st = cmd.physical ? RaidC_getPDInfo("DeviceNumber", ctrlIdx, devIdx, nullptr, 0, &number)
                          : RaidC_getLDInfo("LogDriveNumber", ctrlIdx, devIdx, nullptr, 0, &number);
    if (st != RAIDC_SUCCESS_INT)
        return RAIDC_SOCK_WAIT_FAILED;

    uint32_t familyCode = 0;
    if (strstr(family, "MR"))
        familyCode = 10;
    if (strstr(family, "PCIeSSD"))
        familyCode = 11;
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

    int32_t r = raidc_SendReceiveCmd(&g_client);
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
    if (int32_t r = ensureConnected(s); r != RAIDC_SOCK_DONE)
        return r;
    // The reply is waited for whatever ended the write phase: after a failed
    // write that wait fails or times out, and its result is the answer.
    writePhase(s);
    return readPhase(s);
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
