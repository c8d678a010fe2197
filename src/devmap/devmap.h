// The relation map of drives, logical drives, containers and arrays, and
// the queries answered from it. The exported functions are declared in the
// public header; these are the bodies of the public functions that lock
// and work inline.
#pragma once

#include "raidcommon.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace raidc {

// A decimal number from the tree (an identifier, a drive, port or device
// number) as the 32-bit target's strtol reads it: out-of-range values
// saturate at the int32 range, so every build finds the same devices.
inline int32_t strtol32(const char *text) noexcept
{
    return static_cast<int32_t>(std::clamp<long long>(strtoll(text, nullptr, 10), INT32_MIN, INT32_MAX));
}

} // namespace raidc

namespace raidc::devmap {

int ldLayout(int ctrlIdx, int ldIdx, RaidCLdDev **layout) noexcept;
int pdIdToIdx(int ctrlIdx, int pdId, int *pdIdx) noexcept;
int ldIdToIdx(int ctrlIdx, int ldId, int *ldIdx) noexcept;
int arrayIdToIdx(int ctrlIdx, int arrayId, int *arrayIdx) noexcept;
int pdIdxToId(int ctrlIdx, int pdIdx, int *pdId) noexcept;
int ldIdxToId(int ctrlIdx, int ldIdx, int *ldId) noexcept;
int arrayIdxToId(int ctrlIdx, int arrayIdx, int *arrayId) noexcept;

} // namespace raidc::devmap
