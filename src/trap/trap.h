// Trap event channel: what the pipe lifecycle and the message steps share.
#pragma once

#include "../cmd/wire.h"
#include "raidcommon.h"

#include <cstdint>

namespace raidc::trap {

using wire::nextCount;
using wire::stamp;

// Largest data area either end accepts. A header announcing more is taken
// for garbage rather than allocated, so hostile bytes cannot make the
// consumer reserve gigabytes or swallow the following messages.
constexpr uint32_t kMaxDataSize = 1u << 20;

// True when the pipe has been idle longer than its role allows; takes
// pipe->now first.
bool idleTooLong(TrapEventPipe *pipe) noexcept;

const char *roleWord(const TrapEventPipe *pipe) noexcept;

// Waits until the pipe's descriptor is ready for `events`, at most until the
// role's idle limit passes (the step after it then reports the time-out) and
// at most capMs milliseconds when capMs >= 0. Interrupted waits resume with
// the time left; whatever the outcome, the next step finds out by itself.
void waitReady(const TrapEventPipe *pipe, short events, int capMs) noexcept;

// Forgets a half-read message: the next bytes are searched for a header.
void dropPartialRead(TrapEventPipe *pipe) noexcept;

} // namespace raidc::trap
