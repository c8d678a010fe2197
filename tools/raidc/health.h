// The walk behind `check` and `metrics`: one refresh, then every controller
// with its counts, maximum temperatures and whole records, handed to a
// visitor. Only the library's public interface is used.
#pragma once

#include "names.h"
#include "raidcommon.h"

#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>

namespace health {

// The maximum temperature queries, one per device class, from the tools'
// one table of names.
using raidcnames::kTempClassCount;
using raidcnames::kTempClasses;
using raidcnames::TempClass;

// A count or maximum: `known` unless the library could not give it.
struct Value {
    bool known = false;
    int64_t value = 0;
};

struct Controller {
    int index = 0;
    bool present = false; // the controller record could be loaded
    RaidCCtrlInfo info{};
    Value pds, lds, encs, nvme, encrypted, failed, smart, degraded;
    Value temps[kTempClassCount];
    bool hasBattery = false;
};

// Receives the devices in tree order: a controller, then its logical drives,
// physical drives, battery and enclosures, each enclosure followed by its
// processors and each processor by its fans, power supplies and sensors.
// Positions are the library's indices: controller, device or enclosure,
// processor, component.
class Visitor {
public:
    virtual ~Visitor() = default;
    virtual void controller(const Controller &) {}
    virtual void logicalDrive(int, int, const RaidCLdInfo &) {}
    virtual void physicalDrive(int, int, const RaidCPdInfo &) {}
    virtual void battery(int, const RaidCBbuInfo &) {}
    virtual void enclosure(int, int, const RaidCEncInfo &) {}
    virtual void processor(int, int, int, const RaidCEncProcInfo &) {}
    virtual void fan(int, int, int, int, const RaidCEncFanInfo &) {}
    virtual void powerSupply(int, int, int, int, const RaidCEncPwrInfo &) {}
    virtual void sensor(int, int, int, int, const RaidCEncTempInfo &) {}
};

// A threshold in the monitoring-plugin range syntax: "N" alerts outside
// 0..N, "N:" below N, "~:N" above N, "N:M" outside N..M, and a leading "@"
// alerts inside the range instead. Bounds are inclusive.
struct Range {
    std::string text; // as given; performance data repeats it
    bool inside = false;
    bool hasLow = false, hasHigh = false;
    double low = 0, high = 0;

    // False when `text` is not a range.
    bool parse(const std::string &text);
    bool alerts(double v) const;
    // Why `v` alerts, after "warning" or "critical": "at 55", "above 60",
    // "below 10", "between 20 and 30", "at most 5".
    std::string reason(double v) const;
};

// "N or more", the meaning of the --warn-temp options.
Range atLeast(int64_t n);

// A duration for people: "42 s", "17 min", "5 h", "9 days".
std::string ageText(long long seconds);

// Seconds since 1970 as ISO 8601 UTC, "2026-12-06T10:17:01Z".
std::string utcText(time_t t);

// Refreshes the cache and walks it. False, with the reason, when the device
// tree cannot be read.
bool walk(Visitor &v, std::string *why);

// A record's text field: it is not terminated when the text filled it.
template <size_t N> std::string text(const char (&field)[N])
{
    return std::string(field, strnlen(field, N));
}

// Record integers read -1 when the parameter is missing or not a number.
inline Value number(int32_t v)
{
    return {v != -1, v};
}

// The status texts that count as healthy for parts without a MIB status.
bool isOk(const std::string &status);

// Replaces bytes that are not valid UTF-8 with '?', so that a cut or
// foreign text can be shown and exported safely.
std::string validUtf8(const std::string &s);

} // namespace health
