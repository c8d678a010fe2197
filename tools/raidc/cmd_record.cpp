// record: one whole fixed-layout record, field by field.
#include "cli.h"

#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <span>
#include <type_traits>

using namespace cli;

namespace {

// One printed field: width 0 is an int32, else a text of that many bytes
// (not terminated when the value filled it).
struct Col {
    const char *name;
    size_t offset;
    size_t width;
};

// The public header lists each record's fields in record order.
#define COL(m) Col{#m, offsetof(REC, m), std::is_array_v<decltype(REC::m)> ? sizeof(REC::m) : 0},

#define REC RaidCCtrlInfo
const Col ctrlCols[] = {RAIDC_CTRL_INFO_FIELDS(COL)};
#undef REC
#define REC RaidCPdInfo
const Col pdCols[] = {RAIDC_PD_INFO_FIELDS(COL)};
#undef REC
#define REC RaidCLdInfo
const Col ldCols[] = {RAIDC_LD_INFO_FIELDS(COL)};
#undef REC
#define REC RaidCBbuInfo
const Col bbuCols[] = {RAIDC_BBU_INFO_FIELDS(COL)};
#undef REC
#define REC RaidCEncInfo
const Col encCols[] = {RAIDC_ENC_INFO_FIELDS(COL)};
#undef REC
#define REC RaidCEncProcInfo
const Col procCols[] = {RAIDC_ENC_PROC_INFO_FIELDS(COL)};
#undef REC
#define REC RaidCEncFanInfo
const Col fanCols[] = {RAIDC_ENC_FAN_INFO_FIELDS(COL)};
#undef REC
#define REC RaidCEncPwrInfo
const Col pwrCols[] = {RAIDC_ENC_PWR_INFO_FIELDS(COL)};
#undef REC
#define REC RaidCEncTempInfo
const Col tempCols[] = {RAIDC_ENC_TEMP_INFO_FIELDS(COL)};
#undef REC
#undef COL

// A record field's name as a JSON key: snake_case ("PCIBus" is "pci_bus",
// "FWPackageVersion" "fw_package_version"), with the unit where the field
// has one.
std::string jsonKey(const char *field)
{
    // The enclosure's temperature sensors are "sensors" everywhere else.
    if (!strcmp(field, "TempSensors"))
        return raidcnames::name(raidcnames::Device::Sensor).plural;
    if (!strcmp(field, "TempSensorCount"))
        return "sensor_count";
    std::string k;
    for (const char *p = field; *p; ++p) {
        bool upper = isupper(static_cast<unsigned char>(*p));
        bool afterWord =
            p > field && (islower(static_cast<unsigned char>(p[-1])) || isdigit(static_cast<unsigned char>(p[-1])));
        bool endsAcronym =
            p > field && isupper(static_cast<unsigned char>(p[-1])) && islower(static_cast<unsigned char>(p[1]));
        if (upper && (afterWord || endsAcronym))
            k += '_';
        k += static_cast<char>(tolower(static_cast<unsigned char>(*p)));
    }
    static const char *const celsius[] = {"ChipTemperature",      "Temperature",         "WarningTemperatureL",
                                          "CriticalTemperatureL", "WarningTemperatureH", "CriticalTemperatureH"};
    static const char *const mib[] = {"MemorySize", "MemorySize2", "PhysicalSize", "LogicalSize"};
    for (const char *c : celsius)
        if (!strcmp(field, c))
            return k + "_celsius";
    for (const char *m : mib)
        if (!strcmp(field, m))
            return k + "_mib";
    return k;
}

// Writes "name: value" lines (nested records get a "List[i]." prefix) or
// one JSON object.
class Emitter {
public:
    explicit Emitter(bool json) : json_(json) {}

    void record(const std::string &prefix, const void *rec, std::span<const Col> cols)
    {
        for (const Col &c : cols) {
            const char *at = static_cast<const char *>(rec) + c.offset;
            if (c.width) {
                std::string text(at, strnlen(at, c.width));
                member(prefix, c.name, json_ ? jsonString(text.c_str()) : text);
            } else {
                int32_t v;
                memcpy(&v, at, sizeof v);
                member(prefix, c.name, std::to_string(v));
            }
        }
    }

    // A count field and the records it counts, each printed by `each`.
    template <typename Rec, typename Each>
    void list(const std::string &prefix, const char *countName, const char *name, const Rec *recs, int32_t count,
              Each each)
    {
        member(prefix, countName, std::to_string(count));
        if (json_)
            open(name, '[');
        for (int32_t i = 0; recs && i < count; ++i) {
            if (json_)
                open(nullptr, '{');
            each(prefix + name + "[" + std::to_string(i) + "].", recs[i]);
            if (json_)
                out_ += '}';
        }
        if (json_)
            out_ += ']';
    }

    void print()
    {
        if (json_)
            printf("%s,%s}\n", jsonStart().c_str(), out_.c_str());
        else
            fputs(out_.c_str(), stdout);
    }

private:
    // The separator and, inside an object, the member name.
    void key(const char *name)
    {
        if (!out_.empty() && out_.back() != '{' && out_.back() != '[')
            out_ += ',';
        if (name)
            out_ += jsonString(jsonKey(name).c_str()) + ":";
    }

    void open(const char *name, char bracket)
    {
        key(name);
        out_ += bracket;
    }

    void member(const std::string &prefix, const char *name, const std::string &value)
    {
        if (json_) {
            key(name);
            out_ += value;
        } else {
            out_ += prefix + name + ": " + value + "\n";
        }
    }

    bool json_;
    std::string out_;
};

void emitEnclosure(Emitter &e, const RaidCEncInfo &enc)
{
    e.record("", &enc, encCols);
    e.list("", "ProcessorCount", "Processors", enc.Processors, enc.ProcessorCount,
           [&](const std::string &p, const RaidCEncProcInfo &proc) {
               e.record(p, &proc, procCols);
               e.list(p, "FanCount", "Fans", proc.Fans, proc.FanCount,
                      [&](const std::string &q, const RaidCEncFanInfo &r) { e.record(q, &r, fanCols); });
               e.list(p, "PowerSupplyCount", "PowerSupplies", proc.PowerSupplies, proc.PowerSupplyCount,
                      [&](const std::string &q, const RaidCEncPwrInfo &r) { e.record(q, &r, pwrCols); });
               e.list(p, "TempSensorCount", "TempSensors", proc.TempSensors, proc.TempSensorCount,
                      [&](const std::string &q, const RaidCEncTempInfo &r) { e.record(q, &r, tempCols); });
           });
}

int notFound(const Args &a)
{
    std::string what;
    for (const std::string &w : a.pos)
        what += (what.empty() ? "" : " ") + w;
    fprintf(stderr, "raidc: %s: %s\n", what.c_str(), RaidC_AccessStatusToString(RAIDC_DEVICE_NOT_FOUND));
    return EXIT_NO_DATA;
}

// Loads a flat record with `load` and prints it.
template <typename Rec, typename Load> int printFlat(const Args &a, std::span<const Col> cols, Load load)
{
    Rec rec;
    memset(&rec, 0, sizeof rec);
    if (!load(&rec))
        return notFound(a);
    Emitter e(a.json);
    e.record("", &rec, cols);
    e.print();
    return EXIT_OK;
}

int printEnclosure(const Args &a, int ctrl, int enc)
{
    // Built and filled under two lock holds: a refresh in between only
    // leaves fields of vanished components at "-" / -1.
    RaidCEncInfo *info = RaidC_getEncInfoStructure(ctrl, enc);
    if (!info || !RaidC_LoadEncInfo(ctrl, enc, info)) {
        RaidC_freeEncInfoStructure(info);
        return notFound(a);
    }
    Emitter e(a.json);
    emitEnclosure(e, *info);
    e.print();
    RaidC_freeEncInfoStructure(info);
    return EXIT_OK;
}

int record(const Args &a)
{
    static const char *const kinds[] = {"ctrl", "bbu", "pd", "ld", "enc"};
    if (a.pos.empty())
        return usageError(a, "expected a record kind");
    const std::string &kind = a.pos[0];
    size_t k = 0;
    while (k < std::size(kinds) && kind != kinds[k])
        ++k;
    if (k == std::size(kinds))
        return usageError(a, "unknown record kind '%s'", kind.c_str());
    const size_t want = k < 2 ? 2 : 3; // ctrl and bbu take no device index
    if (a.pos.size() != want)
        return usageError(a, "%s takes %s", kind.c_str(), want == 2 ? "CTRL" : "CTRL DEV");
    int ctrl = 0, dev = 0;
    if (!toInt(a.pos[1], &ctrl) || (want == 3 && !toInt(a.pos[2], &dev)))
        return usageError(a, "indices must be whole numbers");
    if (!loadCache())
        return EXIT_FAIL;
    if (int rc = findController(ctrl))
        return rc;
    switch (k) {
    case 0: return printFlat<RaidCCtrlInfo>(a, ctrlCols, [&](RaidCCtrlInfo *r) { return RaidC_LoadCtrlInfo(ctrl, r); });
    case 1:
        // The loader fills a record of "-" for a controller without one.
        return printFlat<RaidCBbuInfo>(
            a, bbuCols, [&](RaidCBbuInfo *r) { return RaidC_CtrlHasBBU(ctrl) == 1 && RaidC_LoadBbuInfo(ctrl, r); });
    case 2: return printFlat<RaidCPdInfo>(a, pdCols, [&](RaidCPdInfo *r) { return RaidC_LoadPdlInfo(ctrl, dev, r); });
    case 3: return printFlat<RaidCLdInfo>(a, ldCols, [&](RaidCLdInfo *r) { return RaidC_LoadLdInfo(ctrl, dev, r); });
    default: return printEnclosure(a, ctrl, dev);
    }
}

Register reg({"record", "ctrl|pd|ld|enc|bbu CTRL [DEV] [--json]", "print a whole record, field by field", record,
              "json", 2, 3});

} // namespace
