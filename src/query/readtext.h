// Drive and controller texts that the library reads for its own decisions
// (counts, temperature filters): at most 128 bytes, always terminated.
#pragma once

#include "query.h"

namespace raidc::query {

struct Text128 {
    char s[RAIDC_TEXT_LEN + 1] = {}; // one past the copy: a 128-byte value stays terminated
    int status = 0;

    bool is(const char *want) const noexcept { return status == RAIDC_SUCCESS_STRING && strcmp(s, want) == 0; }
    bool has(const char *part) const noexcept { return strstr(s, part) != nullptr; }
};

using DriveQuery = int (*)(const char *, int, int, char *, unsigned int, int64_t *) noexcept;

// `query` is raidInternal_getPDInfo or raidInternal_getLDInfo.
inline Text128 driveText(DriveQuery query, const char *param, int ctrlIdx, int devIdx) noexcept
{
    Text128 t;
    t.status = query(param, ctrlIdx, devIdx, t.s, RAIDC_TEXT_LEN, nullptr);
    return t;
}

} // namespace raidc::query
