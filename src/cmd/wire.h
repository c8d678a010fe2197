// What the command socket and the trap channel frame alike: header fields of
// eight hex digits, message counters that skip 0 when they wrap, and the
// clock their idle rules read.
//
// The two header parsers differ on purpose where a header is damaged. The
// command socket answers one request at a time, so a header that starts
// with "S" but carries a field that is not hex makes the reply unusable and
// the receive fails; only a buffer that does not start with "S" is searched
// for the next "S0". The trap reader serves a stream of events that nobody
// answers for, so it never fails on a damaged header: it moves on to the
// next byte that could start one.
#pragma once

#include <cstdint>
#include <ctime>

namespace raidc::wire {

// Characters of one header field.
constexpr int kHexFieldLen = 8;

// The last value a message counter takes before it starts again at 1.
constexpr uint32_t kCounterWrap = 0x7FFFFFFF;

// Writes v as eight lowercase hex digits, without a NUL.
inline void putHex8(char *out, uint32_t v) noexcept
{
    static const char digits[] = "0123456789abcdef";
    for (int i = kHexFieldLen - 1; i >= 0; --i, v >>= 4)
        out[i] = digits[v & 0xF];
}

inline bool hexDigit(char c, uint32_t *d) noexcept
{
    if (c >= '0' && c <= '9')
        *d = static_cast<uint32_t>(c - '0');
    else if (c >= 'a' && c <= 'f')
        *d = static_cast<uint32_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
        *d = static_cast<uint32_t>(c - 'A' + 10);
    else
        return false;
    return true;
}

// Eight hex digits of either case; false on anything else, and *out keeps
// what it held.
inline bool getHex8(const char *in, uint32_t *out) noexcept
{
    uint32_t v = 0, d;
    for (int i = 0; i < kHexFieldLen; ++i) {
        if (!hexDigit(in[i], &d))
            return false;
        v = v << 4 | d;
    }
    *out = v;
    return true;
}

// Message counters skip 0 when they wrap.
inline uint32_t nextCount(uint32_t c) noexcept
{
    return c >= kCounterWrap ? 1u : c + 1u;
}

// Last-activity times and idle checks read this clock: it does not jump
// when the wall clock is set.
inline void stamp(struct timespec *t) noexcept
{
    clock_gettime(CLOCK_MONOTONIC_RAW, t);
}

} // namespace raidc::wire
