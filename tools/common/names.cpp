#include "names.h"

#include "raidcommon.h"

#include <cstring>

namespace raidcnames {

// Defaults sit a little below where the parts' makers start to throttle or
// age faster; the all-drives class catches media of no known kind.
const TempClass kTempClasses[kTempClassCount] = {
    {"ctrl", "chip", RaidC_getCtrlMaxTemperature, 95, 2},       {"hdd", "HDD", RaidC_getHDDMaxTemperature, 55, 6},
    {"ssd", "SSD", RaidC_getSSDMaxTemperature, 70, 8},          {"pd", "drive", RaidC_getPdMaxTemperature, 70, 4},
    {"nvme", "NVMe", RaidC_getNVMeMaxTemperature, 75, 10},      {"bbu", "battery", RaidC_getBBUMaxTemperature, 50, 12},
    {"proc", "enclosure", RaidC_getProcMaxTemperature, 55, 14},
};

const TempClass *tempClass(const char *key)
{
    for (const TempClass &t : kTempClasses)
        if (strcmp(t.key, key) == 0)
            return &t;
    return nullptr;
}

namespace {
const DeviceName kDevices[kDeviceCount] = {
    {"controller", "controllers", "ctrl", "controller"},
    {"logical_drive", "logical_drives", "ld", "logical drive"},
    {"physical_drive", "physical_drives", "pd", "physical drive"},
    {"battery", "batteries", "bbu", "battery"},
    {"enclosure", "enclosures", "enc", "enclosure"},
    {"processor", "processors", "proc", "processor"},
    {"fan", "fans", "fan", "fan"},
    {"power_supply", "power_supplies", "psu", "power supply"},
    {"sensor", "sensors", "sensor", "sensor"},
};
} // namespace

const DeviceName &name(Device d)
{
    return kDevices[static_cast<int>(d)];
}

} // namespace raidcnames
