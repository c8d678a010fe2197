// Command channel internals shared by the socket operations and the command
// exchange. The exported operations themselves are declared in the public
// header.
#pragma once

#include "raidcommon.h"
#include "wire.h"

#include <cstdint>
#include <ctime>

namespace raidc::cmd {

using wire::stamp;

// Largest payload a receiver accepts, its terminating NUL included. The peer
// is the local RAID agent, whose payloads are short texts; a header that
// announces more is handled like a payload buffer that cannot be allocated
// (result 18, the object is closed) instead of trusting the peer with up to
// 4 GiB of our memory.
constexpr uint32_t kMaxPayload = 1u << 20;

// Idle limits in whole seconds since the object's last activity.
constexpr long kMasterIdleLimit = 60;
constexpr long kSlaveIdleLimit = 40;
// The command exchange's limit for a Slave waiting on its peer.
constexpr long kReplyIdleLimit = 1;

// The most one exchange may take as a whole, connecting included, however
// the peer doles out its bytes; also the bound of a connect on its own. The
// locate calls hold RaidC_ConsumerCmd_Mutex for no longer than this.
constexpr int kExchangeDeadlineMs = 4000;

// Takes `now` and returns the whole seconds since LastAcessTime.
inline long idleSeconds(RaidCCmdSocket *s) noexcept
{
    stamp(&s->now);
    return static_cast<long>(s->now.tv_sec - s->LastAcessTime.tv_sec);
}

inline const char *roleOf(const RaidCCmdSocket *s) noexcept
{
    return s->isMaster ? "M" : "S";
}

// Whether the object holds an open descriptor: close clears every flag, and
// SocketFd keeps its old (possibly reused) number after that.
inline bool isOpen(const RaidCCmdSocket *s) noexcept
{
    return s->isCreated || s->isConnected || s->isBound || s->isListening || s->isAccepted;
}

// connect_RaidCCmdSocket with the wait for the connection bounded by
// timeoutMs instead of the whole exchange deadline.
int32_t connectWithin(RaidCCmdSocket *s, int timeoutMs) noexcept;

inline int32_t ensureConnected(RaidCCmdSocket *s) noexcept
{
    return s->isConnected ? RAIDC_SOCK_DONE : connect_RaidCCmdSocket(s);
}

// The "Slave: now ... LastAcessTime ... delta" line of the idle rules.
void reportSlaveIdle(const RaidCCmdSocket *s, const char *op, int line, long delta) noexcept;

} // namespace raidc::cmd
