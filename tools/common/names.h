// The names the tools give to temperature classes and kinds of device, in
// one table, so that `raidc show`, `check`, `metrics`, `watch` and
// raidc-snmp spell them alike. Also the version of every JSON document the
// tools print.
#pragma once

#include <cstdint>

namespace raidcnames {

// The version of the tools' JSON output: a new version may add keys, never
// change one.
inline constexpr int kJsonFormatVersion = 1;

// One maximum-temperature query of the library. `key` is the class's name
// everywhere a program reads it: the JSON key of `show` and `temps`, the
// option `--warn-temp-KEY` and perfdata label `cC_KEY_temp` of `check`,
// the `class` label of `metrics`, and the MIB object raidc<Key>MaxTemp.
struct TempClass {
    const char *key;   // "hdd"
    const char *label; // "HDD": the class in text meant for people
    int (*query)(int ctrlIdx, int64_t *maxOut);
    int64_t warnDefault; // degrees Celsius at which `check` warns
    unsigned mibArc;     // raidcSystem arc of raidc<Key>MaxTemp; its status is the next arc
};

// The all-drives class comes after HDD and SSD: `check` judges it only for
// a hottest drive that is neither, so it needs their maxima first.
inline constexpr int kTempClassCount = 7;
extern const TempClass kTempClasses[kTempClassCount];

// The class named `key`, or null.
const TempClass *tempClass(const char *key);

// The kinds of device and part the tools name.
enum class Device { Controller, LogicalDrive, PhysicalDrive, Battery, Enclosure, Processor, Fan, PowerSupply, Sensor };
inline constexpr int kDeviceCount = 9;

struct DeviceName {
    const char *key;    // "physical_drive": JSON values and keys (snake_case)
    const char *plural; // "physical_drives": the JSON key of a list of them
    const char *label;  // "pd": the metrics label, the MIB's table prefix (raidcPd...)
    const char *text;   // "physical drive": text meant for people
};
const DeviceName &name(Device d);

} // namespace raidcnames
