// Status and mode texts of the device tree to the integers of the SNMP MIB.
// Pure functions of their input: no lock, no library state.
#include "raidcommon.h"

#include "../../platform/unix/libunix.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <optional>
#include <span>
#include <strings.h>

namespace {

struct Row {
    const char *text; // compared whole, without regard to case
    int32_t value;
};

// The one lookup behind every text mapper. Objects without a fallback leave
// the output alone for texts they do not know.
int mapText(std::span<const Row> rows, std::optional<int32_t> fallback, const char *text, int32_t *mibValue) noexcept
{
    if (!text || !mibValue)
        return 1;
    auto hit = std::find_if(rows.begin(), rows.end(), [text](const Row &r) { return strcasecmp(r.text, text) == 0; });
    if (hit != rows.end())
        *mibValue = hit->value;
    else if (fallback)
        *mibValue = *fallback;
    return 0;
}

constexpr std::nullopt_t kNoFallback = std::nullopt;

constexpr Row kCtrlStatus[] = {{"OK", 1}, {"Degraded", 2}, {"Failed", 3}};
constexpr Row kCtrlInterface[] = {{"SCSI", 2}, {"SATA", 5}, {"SAS", 6}};
constexpr Row kLdWriteMode[] = {{"Write-back", 2}, {"Write Back", 2}, {"Write-through", 3}, {"Write Through", 3}};
constexpr Row kLdReadMode[] = {{"Unknown", 1},      {"Read-ahead", 2}, {"ReadAhead", 2},          {"No read-ahead", 3},
                               {"No ReadAhead", 3}, {"Adaptive", 4},   {"Adaptive read-ahead", 4}};
constexpr Row kLdCacheMode[] = {{"Cached", 2}, {"Direct", 3}};
constexpr Row kLdDiskCacheMode[] = {{"Enabled", 2}, {"Disabled", 3}, {"Unchanged", 4}};
constexpr Row kLdInitStatus[] = {{"Initialized", 2}, {"Uninitialized", 3}};
constexpr Row kLdStatus[] = {{"Operational", 2}, {"Degraded", 3}, {"Failed", 4}, {"Partially Degraded", 9}};
constexpr Row kLdStatusEx[] = {{"Operational", 2}, {"Partially Degraded", 3}, {"Degraded", 4}, {"Failed", 5}};
constexpr Row kLdRaidLevel[] = {
    {"Unknown RAID Level", 1}, {"RAID-0", 2},  {"RAID-1", 4},   {"RAID-1E", 5},  {"RAID-10", 6}, {"RAID-5", 9},
    {"RAID-50", 10},           {"RAID-6", 13}, {"RAID-60", 16}, {"RAID-1E0", 17}};
constexpr Row kPdPowerStatus[] = {{"Active", 1}, {"Activated", 1}, {"Stopped", 2}, {"Transition", 3}};
constexpr Row kPdStatus[] = {{"Operational", 3},
                             {"Available", 4},
                             {"Rebuilding", 6},
                             {"Rebuilding SMART Error", 6},
                             {"Global Hotspare", 7},
                             {"Global Hotspare SMART Error", 7},
                             {"Dedicated Hotspare", 8},
                             {"Dedicated Hotspare SMART Error", 8},
                             {"Offline", 9},
                             {"Offline - SMART Error", 9},
                             {"Failed", 10},
                             {"Failed SMART Error", 10}};
constexpr Row kPdStatusEx[] = {{"Available", 3},
                               {"Operational", 4},
                               {"Rebuilding", 6},
                               {"Rebuilding SMART Error", 6},
                               {"Global Hotspare", 7},
                               {"Global Hotspare SMART Error", 7},
                               {"Dedicated Hotspare", 8},
                               {"Dedicated Hotspare SMART Error", 8},
                               {"Offline", 9},
                               {"Offline - SMART Error", 9},
                               {"Failed", 10},
                               {"Failed SMART Error", 10},
                               {"Failed (Missing)", 11},
                               {"Copyback", 12},
                               {"Copyback / SMART Error", 12},
                               {"Migrating", 16},
                               {"Migrating / SMART Error", 16},
                               {"JBOD", 17},
                               {"JBOD / SMART Error", 17},
                               {"Shield", 18},
                               {"Shield smart", 18}};
constexpr Row kPdInterface[] = {{"SATA", 5}, {"SAS", 6}};
constexpr Row kPdDeviceType[] = {{"SSD", 2}, {"HDD", 2}};
constexpr Row kPdForeignConfig[] = {{"false", 1}, {"true", 2}};
constexpr Row kSvrStatus[] = {{"OK", 1}, {"Warning", 2}, {"Failed", 3}};

} // namespace

// Controller status, drive power status, foreign configuration and server
// status have no fallback: callers preset the output.
// clang-format off
extern "C" int mibMapper_getCtrlStatus(const char *t, int32_t *v) noexcept
{
    return mapText(kCtrlStatus, kNoFallback, t, v);
}
extern "C" int mibMapper_getCtrlInterface(const char *t, int32_t *v) noexcept
{
    return mapText(kCtrlInterface, 1, t, v);
}
extern "C" int mibMapper_getLdWriteMode(const char *t, int32_t *v) noexcept { return mapText(kLdWriteMode, 1, t, v); }
extern "C" int mibMapper_getLdReadMode(const char *t, int32_t *v) noexcept { return mapText(kLdReadMode, 1, t, v); }
extern "C" int mibMapper_getLdCacheMode(const char *t, int32_t *v) noexcept { return mapText(kLdCacheMode, 1, t, v); }
extern "C" int mibMapper_getLdDiskCacheMode(const char *t, int32_t *v) noexcept
{
    return mapText(kLdDiskCacheMode, 1, t, v);
}
extern "C" int mibMapper_getLdInitStatus(const char *t, int32_t *v) noexcept { return mapText(kLdInitStatus, 1, t, v); }
extern "C" int mibMapper_getLdStatus(const char *t, int32_t *v) noexcept { return mapText(kLdStatus, 1, t, v); }
extern "C" int mibMapper_getLdStatusEx(const char *t, int32_t *v) noexcept { return mapText(kLdStatusEx, 1, t, v); }
extern "C" int mibMapper_getLdRaidLevelNum(const char *t, int32_t *v) noexcept
{
    return mapText(kLdRaidLevel, 1, t, v);
}
extern "C" int mibMapper_getPdPowerStatus(const char *t, int32_t *v) noexcept
{
    return mapText(kPdPowerStatus, kNoFallback, t, v);
}
extern "C" int mibMapper_getPdStatus(const char *t, int32_t *v) noexcept { return mapText(kPdStatus, 1, t, v); }
extern "C" int mibMapper_getPdStatusEx(const char *t, int32_t *v) noexcept { return mapText(kPdStatusEx, 1, t, v); }
extern "C" int mibMapper_getPdInterface(const char *t, int32_t *v) noexcept { return mapText(kPdInterface, 1, t, v); }
extern "C" int mibMapper_getPdDeviceType(const char *t, int32_t *v) noexcept
{
    return mapText(kPdDeviceType, 99, t, v);
}
extern "C" int mibMapper_getPdForeignConfig(const char *t, int32_t *v) noexcept
{
    return mapText(kPdForeignConfig, kNoFallback, t, v);
}
extern "C" int mibMapper_getSvrStatus(const char *t, int32_t *v) noexcept
{
    return mapText(kSvrStatus, kNoFallback, t, v);
}
// clang-format on

// The number at the start of a stripe size text ("64", "64 KB", "256KiB"),
// times 1024. Texts such as "1.5" that hold no letter but fail the number
// test give their leading number too, rather than nothing.
extern "C" int mibMapper_getLdStripeSize(char *text, int32_t *mibValue) noexcept
{
    if (!text || !mibValue)
        return 1;
    size_t len = strlen(text);
    char *digits = static_cast<char *>(plat_calloc(len + 1, 1));
    if (!digits)
        return 1;
    const char *begin = text, *end = text + len;
    if (raidInternal_checkIfContainsLetters(text))
        end = std::find_if(begin, end, [](char c) { return isalpha(static_cast<unsigned char>(c)) != 0; });
    std::copy(begin, end, digits);
    // strtol as the target's 32-bit long gives it; the shift wraps in 32 bits.
    long kb = std::clamp<long>(strtol(digits, nullptr, 10), INT32_MIN, INT32_MAX);
    *mibValue = static_cast<int32_t>(static_cast<uint32_t>(kb) << 10);
    free(digits);
    return 0;
}
