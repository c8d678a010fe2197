// metrics: the RAID state in the Prometheus text exposition format 0.0.4,
// on standard output or written atomically for node_exporter's textfile
// collector. Every metric is a gauge; texts travel in the labels of the
// _info metrics. Label names: ctrl, ld, pd, enc, proc, fan, psu, sensor are
// 0-based positions as the library numbers the devices; class names a
// maximum temperature query.
#include "cli.h"
#include "health.h"
#include "liveness.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using namespace cli;

namespace {

// The metric families in output order; kFamilies gives name and help.
// clang-format off
enum Family {
    Up, AgentUp, TreeModified, Controllers,
    CtrlInfo, CtrlStatus, CtrlTemp, CtrlMemory, CtrlCorrErrors, CtrlUncorrErrors, MaxTemp,
    PdCount, LdCount, EncCount, NvmeCount, EncryptedCount, FailedCount, SmartCount, DegradedCount,
    LdInfo, LdStatus, LdSize, LdStripe,
    PdInfo, PdStatus, PdPower, PdTemp, PdSize, PdMediaErrors, PdOtherErrors, PdRebuild,
    BbuInfo, BbuOk, BbuTemp,
    EncInfo, EncOk, ProcInfo, ProcOk, FanInfo, FanOk, FanSpeed, PsuInfo, PsuOk,
    SensorInfo, SensorOk, SensorTemp, SensorWarnHigh, SensorCritHigh,
    FamilyCount
};
// clang-format on

const std::pair<const char *, const char *> kFamilies[FamilyCount] = {
    {"raid_up", "1 when the device tree was read, 0 when it could not be."},
    {"raid_agent_up", "1 when the RAID agent accepts connections on its command socket, 0 when it does not; "
                      "left out when the probe was not allowed to look."},
    {"raid_device_tree_modified_timestamp_seconds", "When the RAID agent last wrote the device tree file."},
    {"raid_controllers", "Controllers in the device tree."},
    {"raid_controller_info", "Controller texts in labels; the value is always 1."},
    {"raid_controller_status", "Controller status as its MIB integer: 1 OK, 2 Degraded, 3 Failed, 0 another text."},
    {"raid_controller_temperature_celsius", "Controller chip temperature."},
    {"raid_controller_memory_bytes", "Controller cache memory."},
    {"raid_controller_correctable_errors", "Correctable errors the controller reports."},
    {"raid_controller_uncorrectable_errors", "Uncorrectable errors the controller reports."},
    {"raid_max_temperature_celsius", "Highest temperature per controller and device class."},
    {"raid_physical_drives", "Physical drives of the controller."},
    {"raid_logical_drives", "Logical drives of the controller."},
    {"raid_enclosures", "Enclosures of the controller."},
    {"raid_nvme_drives", "NVMe drives of the controller."},
    {"raid_encrypted_drives", "Encrypted physical drives of the controller."},
    {"raid_failed_drives", "Failed physical drives of the controller."},
    {"raid_smart_error_drives", "Physical drives of the controller with SMART errors."},
    {"raid_degraded_logical_drives", "Degraded or partially degraded logical drives of the controller."},
    {"raid_logical_drive_info", "Logical drive texts in labels; the value is always 1."},
    {"raid_logical_drive_status",
     "Logical drive status as its MIB integer: 2 Operational, 3 Partially Degraded, 4 Degraded, 5 Failed, 1 another "
     "text."},
    {"raid_logical_drive_size_bytes", "Usable size of the logical drive."},
    {"raid_logical_drive_stripe_size_bytes", "Stripe size of the logical drive."},
    {"raid_physical_drive_info", "Physical drive texts in labels; the value is always 1."},
    {"raid_physical_drive_status",
     "Physical drive status as its MIB integer: 3 Available, 4 Operational, 6 Rebuilding, 7 Global Hotspare, 8 "
     "Dedicated Hotspare, 9 Offline, 10 Failed, 11 Failed (Missing), 12 Copyback, 16 Migrating, 17 JBOD, 18 "
     "Shield, 1 another text."},
    {"raid_physical_drive_power_status",
     "Physical drive power status as its MIB integer: 1 Active, 2 Stopped, 3 Transition, 0 another text."},
    {"raid_physical_drive_temperature_celsius", "Physical drive temperature."},
    {"raid_physical_drive_size_bytes", "Size of the physical drive."},
    {"raid_physical_drive_media_errors", "Media errors the physical drive reports."},
    {"raid_physical_drive_other_errors", "Other errors the physical drive reports."},
    {"raid_physical_drive_rebuild_progress_ratio", "Rebuild progress of the physical drive, 0 to 1."},
    {"raid_battery_info", "Battery texts in labels; the value is always 1."},
    {"raid_battery_ok", "1 when the battery status is OK, else 0."},
    {"raid_battery_temperature_celsius", "Battery temperature."},
    {"raid_enclosure_info", "Enclosure texts in labels; the value is always 1."},
    {"raid_enclosure_ok", "1 when the enclosure status is OK, else 0."},
    {"raid_enclosure_processor_info", "Enclosure processor texts in labels; the value is always 1."},
    {"raid_enclosure_processor_ok", "1 when the enclosure processor status is OK, else 0."},
    {"raid_enclosure_fan_info", "Enclosure fan texts in labels; the value is always 1."},
    {"raid_enclosure_fan_ok", "1 when the fan status is OK, else 0."},
    {"raid_enclosure_fan_speed_rpm", "Fan speed in revolutions per minute."},
    {"raid_enclosure_power_supply_info", "Enclosure power supply texts in labels; the value is always 1."},
    {"raid_enclosure_power_supply_ok", "1 when the power supply status is OK, else 0."},
    {"raid_enclosure_sensor_info", "Enclosure temperature sensor texts in labels; the value is always 1."},
    {"raid_enclosure_sensor_ok", "1 when the temperature sensor status is OK, else 0."},
    {"raid_enclosure_sensor_temperature_celsius", "Enclosure sensor temperature."},
    {"raid_enclosure_sensor_high_warning_celsius", "Temperature at which the sensor warns."},
    {"raid_enclosure_sensor_high_critical_celsius", "Temperature at which the sensor reports a critical state."},
};

// Device labels come from the tools' table of names.
using raidcnames::Device;
const char *label(Device d)
{
    return raidcnames::name(d).label;
}

// The device tree gives sizes in MiB.
constexpr int64_t kMiB = 1024 * 1024;

// A record number as a label value; empty (no label) when it is missing.
std::string numberText(int32_t v)
{
    return v == -1 ? "" : std::to_string(v);
}

// A label set in exposition syntax, without the braces.
class Labels {
public:
    Labels() = default;
    Labels(const char *name, int64_t index) { add(name, std::to_string(index)); }

    Labels &add(const char *name, const std::string &value)
    {
        text_ += text_.empty() ? "" : ",";
        text_ += name;
        text_ += "=\"";
        for (char ch : health::validUtf8(value)) {
            if (ch == '\\' || ch == '"')
                text_ += '\\';
            text_ += ch == '\n' ? std::string("\\n") : std::string(1, ch);
        }
        text_ += '"';
        return *this;
    }
    Labels &add(const char *name, int64_t index) { return add(name, std::to_string(index)); }
    template <size_t N> Labels &add(const char *name, const char (&field)[N]) { return add(name, health::text(field)); }
    const std::string &text() const { return text_; }

private:
    std::string text_;
};

class Metrics : public health::Visitor {
public:
    void up(bool readable, int64_t controllers)
    {
        put(Up, Labels(), readable);
        // Independent of the tree: a dead agent or an old file shows even
        // when the tree can be read, and stays visible when it cannot.
        raidchealth::AgentState agent = raidchealth::probeAgent();
        if (agent != raidchealth::AgentState::Unknown)
            put(AgentUp, Labels(), agent == raidchealth::AgentState::Up);
        raidchealth::TreeAge tree = raidchealth::treeAge();
        if (tree.exists)
            put(TreeModified, Labels(), static_cast<int64_t>(tree.mtime));
        if (readable)
            put(Controllers, Labels(), controllers);
    }

    void controller(const health::Controller &c) override
    {
        Labels at(label(Device::Controller), c.index);
        const RaidCCtrlInfo &i = c.info;
        if (c.present) {
            put(CtrlInfo,
                Labels(at)
                    .add("name", i.Name)
                    .add("vendor", i.Vendor)
                    .add("product", i.Product)
                    .add("serial", i.SerialNumber)
                    .add("firmware", i.FirmwareVersion)
                    .add("driver", i.DriverVersion)
                    .add("status", i.Status),
                1);
            int32_t st = 0;
            mibMapper_getCtrlStatus(health::text(i.Status).c_str(), &st);
            put(CtrlStatus, at, st);
            put(CtrlTemp, at, health::number(i.ChipTemperature));
            put(CtrlMemory, at, health::number(i.MemorySize), kMiB);
            put(CtrlCorrErrors, at, health::number(i.CorrErrorCount));
            put(CtrlUncorrErrors, at, health::number(i.UncorrErrorCount));
        }
        for (int k = 0; k < health::kTempClassCount; ++k)
            put(MaxTemp, Labels(at).add("class", health::kTempClasses[k].key), c.temps[k]);
        const std::pair<Family, const health::Value *> counts[] = {{PdCount, &c.pds},
                                                                   {LdCount, &c.lds},
                                                                   {EncCount, &c.encs},
                                                                   {NvmeCount, &c.nvme},
                                                                   {EncryptedCount, &c.encrypted},
                                                                   {FailedCount, &c.failed},
                                                                   {SmartCount, &c.smart},
                                                                   {DegradedCount, &c.degraded}};
        for (auto &[f, v] : counts)
            put(f, at, *v);
    }

    void logicalDrive(int c, int d, const RaidCLdInfo &ld) override
    {
        Labels at = Labels(label(Device::Controller), c).add(label(Device::LogicalDrive), d);
        put(LdInfo,
            Labels(at)
                .add("name", ld.Name)
                .add("raid_level", ld.RAIDLevel)
                .add("status", ld.Status)
                .add("os_device", ld.OSDevice)
                .add("write_mode", ld.WriteMode)
                .add("read_mode", ld.ReadMode)
                .add("cache_mode", ld.CacheMode),
            1);
        int32_t st = 0, stripe = 0;
        mibMapper_getLdStatusEx(health::text(ld.Status).c_str(), &st);
        put(LdStatus, at, st);
        put(LdSize, at, health::number(ld.LogicalSize), kMiB);
        std::string stripeText = health::text(ld.Stripesize);
        if (stripeText != "-" && mibMapper_getLdStripeSize(stripeText.data(), &stripe) == 0 && stripe > 0)
            put(LdStripe, at, stripe);
    }

    void physicalDrive(int c, int d, const RaidCPdInfo &pd) override
    {
        Labels at = Labels(label(Device::Controller), c).add(label(Device::PhysicalDrive), d);
        put(PdInfo,
            Labels(at)
                .add("name", pd.Name)
                .add("vendor", pd.Vendor)
                .add("product", pd.Product)
                .add("serial", pd.SerialNumber)
                .add("firmware", pd.FirmwareVersion)
                .add("type", pd.Type)
                .add("media", pd.MediaType)
                .add("status", pd.Status)
                .add("enclosure", numberText(pd.EnclosureNumber))
                .add("slot", numberText(pd.Slot)),
            1);
        int32_t st = 0, power = 0;
        mibMapper_getPdStatusEx(health::text(pd.Status).c_str(), &st);
        mibMapper_getPdPowerStatus(health::text(pd.PowerStatus).c_str(), &power);
        put(PdStatus, at, st);
        put(PdPower, at, power);
        put(PdTemp, at, health::number(pd.Temperature));
        put(PdSize, at, health::number(pd.PhysicalSize), kMiB);
        put(PdMediaErrors, at, health::number(pd.MediaErrorCount));
        put(PdOtherErrors, at, health::number(pd.MiscErrors));
        if (pd.RebuildProgress >= 0 && pd.RebuildProgress <= 100) {
            char ratio[16];
            snprintf(ratio, sizeof ratio, "%g", pd.RebuildProgress / 100.0);
            sample(PdRebuild, at, ratio);
        }
    }

    void battery(int c, const RaidCBbuInfo &b) override
    {
        Labels at(label(Device::Controller), c);
        put(BbuInfo,
            Labels(at)
                .add("name", b.Name)
                .add("vendor", b.Vendor)
                .add("type", b.Type)
                .add("serial", b.SerialNumber)
                .add("status", b.Status),
            1);
        put(BbuOk, at, health::isOk(health::text(b.Status)));
        put(BbuTemp, at, health::number(b.Temperature));
    }

    void enclosure(int c, int e, const RaidCEncInfo &enc) override
    {
        Labels at = Labels(label(Device::Controller), c).add(label(Device::Enclosure), e);
        put(EncInfo,
            Labels(at)
                .add("number", numberText(enc.EnclosureNumber))
                .add("name", enc.Name)
                .add("vendor", enc.Vendor)
                .add("product", enc.Product)
                .add("serial", enc.SerialNumber)
                .add("status", enc.Status),
            1);
        put(EncOk, at, health::isOk(health::text(enc.Status)));
    }

    void processor(int c, int e, int p, const RaidCEncProcInfo &pr) override
    {
        Labels at =
            Labels(label(Device::Controller), c).add(label(Device::Enclosure), e).add(label(Device::Processor), p);
        put(ProcInfo,
            Labels(at)
                .add("name", pr.Name)
                .add("type", pr.Type)
                .add("vendor", pr.Vendor)
                .add("product", pr.Product)
                .add("serial", pr.SerialNumber)
                .add("firmware", pr.FirmwareVersion)
                .add("status", pr.Status),
            1);
        put(ProcOk, at, health::isOk(health::text(pr.Status)));
    }

    void fan(int c, int e, int p, int k, const RaidCEncFanInfo &f) override
    {
        Labels at = Labels(label(Device::Controller), c)
                        .add(label(Device::Enclosure), e)
                        .add(label(Device::Processor), p)
                        .add(label(Device::Fan), k);
        put(FanInfo, Labels(at).add("name", f.Name).add("location", f.Location).add("status", f.Status), 1);
        put(FanOk, at, health::isOk(health::text(f.Status)));
        std::string speed = health::text(f.FanSpeed);
        char *end = nullptr;
        long long rpm = strtoll(speed.c_str(), &end, 10);
        if (end != speed.c_str() && rpm >= 0)
            put(FanSpeed, at, rpm);
    }

    void powerSupply(int c, int e, int p, int k, const RaidCEncPwrInfo &s) override
    {
        Labels at = Labels(label(Device::Controller), c)
                        .add(label(Device::Enclosure), e)
                        .add(label(Device::Processor), p)
                        .add(label(Device::PowerSupply), k);
        put(PsuInfo,
            Labels(at)
                .add("name", s.Name)
                .add("part_number", s.PartNumber)
                .add("serial", s.SerialNumber)
                .add("status", s.Status),
            1);
        put(PsuOk, at, health::isOk(health::text(s.Status)));
    }

    void sensor(int c, int e, int p, int k, const RaidCEncTempInfo &t) override
    {
        Labels at = Labels(label(Device::Controller), c)
                        .add(label(Device::Enclosure), e)
                        .add(label(Device::Processor), p)
                        .add(label(Device::Sensor), k);
        put(SensorInfo, Labels(at).add("name", t.Name).add("location", t.Location).add("status", t.Status), 1);
        put(SensorOk, at, health::isOk(health::text(t.Status)));
        put(SensorTemp, at, health::number(t.Temperature));
        put(SensorWarnHigh, at, health::number(t.WarningTemperatureH));
        put(SensorCritHigh, at, health::number(t.CriticalTemperatureH));
    }

    // Families with samples, each as one group under its HELP and TYPE.
    bool print(FILE *out) const
    {
        for (int f = 0; f < FamilyCount; ++f) {
            if (samples_[f].empty())
                continue;
            fprintf(out, "# HELP %s %s\n# TYPE %s gauge\n", kFamilies[f].first, kFamilies[f].second,
                    kFamilies[f].first);
            fwrite(samples_[f].data(), 1, samples_[f].size(), out);
        }
        return fflush(out) == 0 && !ferror(out);
    }

private:
    void sample(Family f, const Labels &l, const std::string &value)
    {
        std::string &s = samples_[f];
        s += kFamilies[f].first;
        if (!l.text().empty())
            s += "{" + l.text() + "}";
        s += " " + value + "\n";
    }
    void put(Family f, const Labels &l, int64_t v) { sample(f, l, std::to_string(v)); }
    // Sizes (scale MiB) below 0 are record junk, not sizes.
    void put(Family f, const Labels &l, const health::Value &v, int64_t scale = 1)
    {
        if (v.known && (scale == 1 || v.value >= 0))
            put(f, l, v.value * scale);
    }

    std::string samples_[FamilyCount];
};

// Only a regular file is replaced (or a new one made): a device node, a
// FIFO, a directory or a symbolic link at `path` is someone else's, and the
// rename would take its name away.
bool replaceable(const std::string &path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) {
        if (S_ISREG(st.st_mode))
            return true;
        fail("%s is not a regular file; not replacing it", path.c_str());
    } else if (errno == ENOENT) {
        return true;
    } else {
        fail("cannot examine %s: %s", path.c_str(), strerror(errno));
    }
    return false;
}

// Writes to a temporary file beside `path` and renames it over `path`, so
// that a reader sees the old file or the new one, never a part. The
// temporary name does not end in ".prom", so the textfile collector skips it.
bool writeAtomically(const std::string &path, const Metrics &m)
{
    if (!replaceable(path))
        return false;
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    std::string tmp = dir + "/." + path.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0) {
        fail("cannot create a temporary file in %s: %s", dir.c_str(), strerror(errno));
        return false;
    }
    mode_t mask = umask(0);
    umask(mask);
    FILE *out = fdopen(fd, "w");
    bool ok = out && fchmod(fd, 0644 & ~mask) == 0 && m.print(out) && fsync(fd) == 0;
    ok = (out ? fclose(out) : close(fd)) == 0 && ok;
    if (!ok) {
        int err = errno;
        unlink(tmp.c_str());
        fail("cannot write %s: %s", path.c_str(), strerror(err));
        return false;
    }
    // Looked at again right before the rename: the write took a while.
    if (!replaceable(path)) {
        unlink(tmp.c_str());
        return false;
    }
    if (rename(tmp.c_str(), path.c_str()) != 0) {
        int err = errno;
        unlink(tmp.c_str());
        fail("cannot write %s: %s", path.c_str(), strerror(err));
        return false;
    }
    return true;
}

int metrics(const Args &a)
{
    if (!a.pos.empty() || a.json || a.asInt || a.pretty || !a.strings.empty())
        return usageError(a, "metrics takes only --output FILE");
    const char *output = nullptr;
    for (const auto &[name, value] : a.options) {
        if (name != "output" || value.empty())
            return usageError(a, "unknown option --%s", name.c_str());
        output = value.c_str();
    }
    Metrics m;
    std::string why;
    bool readable = health::walk(m, &why);
    int64_t controllers = 0;
    if (readable)
        RaidC_getCtrlsNumber(&controllers);
    else
        fprintf(stderr, "raidc: %s\n", why.c_str());
    m.up(readable, controllers);
    if (output ? !writeAtomically(output, m) : !m.print(stdout))
        return EXIT_FAIL;
    return readable ? EXIT_OK : EXIT_FAIL;
}

Register r({"metrics", "[--output FILE]", "RAID state in the Prometheus text format", metrics, "output="});

} // namespace
