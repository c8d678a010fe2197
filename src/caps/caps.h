// Controller capabilities: the "RAIDCapabilities" element of a controller
// rendered as one JSON text.
#pragma once

#include "../cache/cache.h"

namespace raidc::caps {

// Builds the capabilities list of one controller element and replaces the
// content of strOut with its JSON text: 2 on success, 10 when a JSON object
// or a working copy cannot be allocated (strOut untouched), 6 without an
// element. The caller holds the cache lock.
int raidInternal_buildRaidCapabilities(const XMLNode *ctrl, string_ptr strOut) noexcept;

} // namespace raidc::caps
