// The relation map of drives, logical drives, containers and arrays, and
// the queries answered from it. The exported functions are declared in the
// public header; these are the bodies of the public functions that lock
// and work inline.
#pragma once

#include "raidcommon.h"


namespace raidc::devmap {

int ldLayout(int ctrlIdx, int ldIdx, RaidCLdDev **layout) noexcept;
int pdIdToIdx(int ctrlIdx, int pdId, int *pdIdx) noexcept;
int ldIdToIdx(int ctrlIdx, int ldId, int *ldIdx) noexcept;
int arrayIdToIdx(int ctrlIdx, int arrayId, int *arrayIdx) noexcept;
int pdIdxToId(int ctrlIdx, int pdIdx, int *pdId) noexcept;
int ldIdxToId(int ctrlIdx, int ldIdx, int *ldId) noexcept;
int arrayIdxToId(int ctrlIdx, int arrayIdx, int *arrayId) noexcept;

} // namespace raidc::devmap
