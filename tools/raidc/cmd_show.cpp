// show, temps: the overview a person wants first, and the maximum
// temperatures. Both gather everything into one JSON document first; the
// text form is rendered from that same document.
#include "cli.h"
#include "health.h"
#include "liveness.h"
#include "names.h"

#include <json-c/json.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

using namespace cli;

namespace {

// How a parameter is read and shown.
enum class As {
    Text,
    Int,
    MiB, // an integer in MiB, shown in bytes
    Rpm, // a text that starts with revolutions per minute, shown as the number
};

// One parameter shown: its JSON key, the device tree name, how it is read.
struct Field {
    const char *key;
    const char *param;
    As as;
};

constexpr As T = As::Text, I = As::Int;

const Field kCtrlFields[] = {{"name", "Name", T},
                             {"product", "Product", T},
                             {"status", "Status", T},
                             {"family", "ControllerFamily", T},
                             {"port_type", "PortType", T}};
const Field kLdFields[] = {{"number", "LogDriveNumber", I}, {"name", "Name", T},
                           {"raid_level", "RAIDLevel", T},  {"size_bytes", "LogicalSize", As::MiB},
                           {"status", "Status", T},         {"os_device", "OSDevice", T}};
const Field kPdFields[] = {{"port", "PortNumber", I},
                           {"device", "DeviceNumber", I},
                           {"type", "Type", T},
                           {"media", "MediaType", T},
                           {"size_bytes", "PhysicalSize", As::MiB},
                           {"status", "Status", T},
                           {"temperature_celsius", "Temperature", I}};
const Field kEncFields[] = {
    {"number", "EnclosureNumber", I}, {"name", "Name", T}, {"product", "Product", T}, {"status", "Status", T}};
const Field kProcFields[] = {
    {"name", "Name", T}, {"type", "Type", T}, {"product", "Product", T}, {"status", "Status", T}};
const Field kFanFields[] = {
    {"name", "Name", T}, {"location", "Location", T}, {"speed_rpm", "FanSpeed", As::Rpm}, {"status", "Status", T}};
const Field kPwrFields[] = {{"name", "Name", T}, {"part_number", "PartNumber", T}, {"status", "Status", T}};
const Field kTempFields[] = {{"name", "Name", T},
                             {"location", "Location", T},
                             {"temperature_celsius", "Temperature", I},
                             {"status", "Status", T}};
const Field kBbuFields[] = {{"name", "Name", T},
                            {"type", "Type", T},
                            {"status", "Status", T},
                            {"temperature_celsius", "Temperature", I},
                            {"remaining_capacity", "RemainingCapacity", I}};

// The JSON key of a list of devices of one kind.
const char *listKey(raidcnames::Device d)
{
    return raidcnames::name(d).plural;
}

// An object that starts with its position, unless that is negative.
json_object *indexed(int i)
{
    json_object *o = json_object_new_object();
    if (i >= 0)
        json_object_object_add(o, "index", json_object_new_int(i));
    return o;
}

// One of the library's parameter queries with its positions bound:
// at(RaidC_getPDInfo, c, d)(param, strBuf, bufLen, intOut).
template <typename Fn, typename... Pos> auto at(Fn fn, Pos... pos)
{
    return [=](const char *param, char *s, unsigned int n, int64_t *i) { return fn(param, pos..., s, n, i); };
}

constexpr int64_t kMiB = 1024 * 1024;

// "5075 RPM" as 5075; null when it does not start with a number.
json_object *rpm(const char *text)
{
    char *end = nullptr;
    errno = 0;
    long long n = strtoll(text, &end, 10);
    return end != text && !errno && n >= 0 ? json_object_new_int64(n) : nullptr;
}

// The device at position `index`, each field read through `q`; a value that
// does not read is null.
template <typename Q> json_object *record(int index, std::span<const Field> fields, Q &&q)
{
    json_object *o = indexed(index);
    for (const Field &f : fields) {
        char buf[512];
        int64_t v = -1;
        bool isInt = f.as == As::Int || f.as == As::MiB;
        int st = isInt ? q(f.param, nullptr, 0u, &v) : q(f.param, buf, unsigned(sizeof buf - 1), nullptr);
        buf[sizeof buf - 1] = '\0';
        bool text = st == RAIDC_SUCCESS_STRING || st == RAIDC_BUFFER_TOO_SMALL;
        json_object *val = nullptr;
        if (st == RAIDC_SUCCESS_INT && (f.as == As::Int || v >= 0))
            val = json_object_new_int64(f.as == As::MiB && v <= INT64_MAX / kMiB ? v * kMiB : v);
        else if (text && f.as == As::Rpm)
            val = rpm(buf);
        else if (text)
            val = json_object_new_string(buf);
        json_object_object_add(o, f.key, val);
    }
    return o;
}

// A list of `n` records, the i-th built by make(i).
template <typename Make> json_object *listOf(int64_t n, Make &&make)
{
    json_object *a = json_object_new_array();
    for (int i = 0; i < n; ++i)
        json_object_array_add(a, make(i));
    return a;
}

void add(json_object *o, const char *key, json_object *val)
{
    json_object_object_add(o, key, val);
}

// The controller's count of something; null unless it read.
json_object *countOf(int st, int64_t n)
{
    return st == RAIDC_SUCCESS_INT ? json_object_new_int64(n) : nullptr;
}

int64_t countOr0(int (*fn)(int, int64_t *), int c)
{
    int64_t n = 0;
    return fn(c, &n) == RAIDC_SUCCESS_INT ? n : 0;
}

// The library's maximum per temperature class, keyed by the class's name.
json_object *temperatures(int c)
{
    json_object *o = json_object_new_object();
    for (const raidcnames::TempClass &t : raidcnames::kTempClasses) {
        int64_t v = 0;
        int st = t.query(c, &v);
        json_object *e = json_object_new_object();
        add(e, "status", json_object_new_int(st));
        add(e, "status_text", json_object_new_string(RaidC_AccessStatusToString(st)));
        add(e, "temperature_celsius",
            st == RAIDC_SUCCESS_INT || st == RAIDC_DEVICE_EXTERN ? json_object_new_int64(v) : nullptr);
        add(o, t.key, e);
    }
    return o;
}

json_object *counts(int c)
{
    json_object *o = json_object_new_object();
    struct {
        const char *key;
        int (*fn)(int, int64_t *);
    } const plain[] = {{listKey(raidcnames::Device::PhysicalDrive), RaidC_getPdsNumberForCtrl},
                       {listKey(raidcnames::Device::LogicalDrive), RaidC_getLdsNumberForCtrl},
                       {listKey(raidcnames::Device::Enclosure), RaidC_getEncNumberForCtrl},
                       {"arrays", RaidC_getArraysNumberForCtrl},
                       {"ports", RaidC_getPortsNumberForCtrl},
                       {"nvme_drives", RaidC_getCtrlNvmePdsTotalNumber},
                       {"encrypted_drives", RaidC_getEncryptedPdsNumberForCtrl},
                       {"degraded_logical_drives", RaidC_getDegradedLdsNumberForCtrl}};
    for (const auto &p : plain) {
        int64_t n = 0;
        int st = p.fn(c, &n);
        add(o, p.key, countOf(st, n));
    }
    int64_t failed = 0, smart = 0;
    int st = RaidC_getFailedPdsNumberForCtrl(c, &failed, &smart);
    add(o, "failed_drives", countOf(st, failed));
    add(o, "smart_error_drives", countOf(st, smart));
    return o;
}

// Processors and their components, shaped by the library's enclosure record
// tree and read parameter by parameter.
json_object *processors(int c, int e)
{
    RaidCEncInfo *shape = RaidC_getEncInfoStructure(c, e);
    json_object *list = listOf(shape ? shape->ProcessorCount : 0, [&](int p) {
        const RaidCEncProcInfo &pi = shape->Processors[p];
        json_object *o = record(p, kProcFields, at(RaidC_getEncProcInfo, c, e, p));
        auto comps = [&](int count, std::span<const Field> fields, auto query) {
            return listOf(count, [&](int k) { return record(k, fields, at(query, c, e, p, k)); });
        };
        add(o, listKey(raidcnames::Device::Fan), comps(pi.FanCount, kFanFields, RaidC_getEncFanInfo));
        add(o, listKey(raidcnames::Device::PowerSupply), comps(pi.PowerSupplyCount, kPwrFields, RaidC_getEncPwrInfo));
        add(o, listKey(raidcnames::Device::Sensor), comps(pi.TempSensorCount, kTempFields, RaidC_getEncTempInfo));
        return o;
    });
    RaidC_freeEncInfoStructure(shape);
    return list;
}

json_object *physicalDrive(int c, int d)
{
    json_object *pd = record(d, kPdFields, at(RaidC_getPDInfo, c, d));
    int id = -1;
    bool known = RaidC_convert_PdIdx_2_PdId(c, d, &id) == 0 && id >= 0;
    add(pd, "number", known ? json_object_new_int(id) : nullptr);
    return pd;
}

json_object *enclosure(int c, int e)
{
    json_object *enc = record(e, kEncFields, at(RaidC_getEncInfo, c, e));
    add(enc, listKey(raidcnames::Device::Processor), processors(c, e));
    return enc;
}

json_object *controller(int c)
{
    json_object *o = record(c, kCtrlFields, at(RaidC_getCtrlInfo, c));
    add(o, "max_temperatures", temperatures(c));
    add(o, "counts", counts(c));
    add(o, listKey(raidcnames::Device::LogicalDrive), listOf(countOr0(RaidC_getLdsNumberForCtrl, c), [&](int d) {
            return record(d, kLdFields, at(RaidC_getLDInfo, c, d));
        }));
    add(o, listKey(raidcnames::Device::PhysicalDrive),
        listOf(countOr0(RaidC_getPdsNumberForCtrl, c), [&](int d) { return physicalDrive(c, d); }));
    add(o, listKey(raidcnames::Device::Enclosure),
        listOf(countOr0(RaidC_getEncNumberForCtrl, c), [&](int e) { return enclosure(c, e); }));
    add(o, raidcnames::name(raidcnames::Device::Battery).key,
        RaidC_CtrlHasBBU(c) == 1 ? record(-1, kBbuFields, at(RaidC_getBBUInfo, c)) : nullptr);
    return o;
}

// ---- text rendering ---------------------------------------------------------

std::string capitalised(std::string s)
{
    if (!s.empty())
        s[0] = static_cast<char>(toupper(static_cast<unsigned char>(s[0])));
    return s;
}

std::string str(json_object *o, const char *key)
{
    json_object *v = nullptr;
    if (!json_object_object_get_ex(o, key, &v) || !v)
        return "-";
    return json_object_get_string(v);
}

json_object *get(json_object *o, const char *key)
{
    json_object *v = nullptr;
    json_object_object_get_ex(o, key, &v);
    return v;
}

struct Column {
    const char *header;
    const char *key;
    int64_t unit = 1; // a number shown in this many of its JSON unit
};

// A cell: the value, or a whole number of `unit`s.
std::string cell(json_object *row, const Column &c)
{
    json_object *v = get(row, c.key);
    if (c.unit == 1 || !v || !json_object_is_type(v, json_type_int))
        return str(row, c.key);
    return std::to_string(json_object_get_int64(v) / c.unit);
}

void printTable(const char *title, json_object *rows, std::span<const Column> cols)
{
    size_t n = json_object_array_length(rows);
    printf("\n  %s: %zu\n", title, n);
    if (n == 0)
        return;
    std::vector<size_t> width;
    for (const Column &c : cols) {
        size_t w = strlen(c.header);
        for (size_t r = 0; r < n; ++r)
            w = std::max(w, cell(json_object_array_get_idx(rows, r), c).size());
        width.push_back(w);
    }
    auto line = [&](auto cell) {
        printf("   ");
        for (size_t i = 0; i < cols.size(); ++i)
            printf(" %-*s", i + 1 < cols.size() ? int(width[i]) : 0, cell(i).c_str());
        printf("\n");
    };
    line([&](size_t i) { return std::string(cols[i].header); });
    for (size_t r = 0; r < n; ++r)
        line([&](size_t i) { return cell(json_object_array_get_idx(rows, r), cols[i]); });
}

// "name, field, field" from the keys given, leaving out what is missing.
std::string summary(json_object *o, std::initializer_list<const char *> keys)
{
    std::string s;
    for (const char *k : keys) {
        std::string v = str(o, k);
        if (v != "-")
            s += (s.empty() ? "" : ", ") + v;
    }
    return s.empty() ? "-" : s;
}

std::string temperatureText(json_object *t)
{
    int st = json_object_get_int(get(t, "status"));
    if (st == RAIDC_SUCCESS_INT)
        return str(t, "temperature_celsius");
    if (st == RAIDC_DEVICE_EXTERN)
        return str(t, "temperature_celsius") + " (extern)";
    return "-";
}

void printTemperatures(json_object *temps)
{
    printf("  Maximum temperatures:");
    const char *sep = " ";
    for (const raidcnames::TempClass &t : raidcnames::kTempClasses) {
        printf("%s%s %s", sep, t.label, temperatureText(get(temps, t.key)).c_str());
        sep = ", ";
    }
    printf("\n");
}

void printEnclosures(json_object *encs)
{
    size_t n = json_object_array_length(encs);
    printf("\n  Enclosures: %zu\n", n);
    for (size_t e = 0; e < n; ++e) {
        json_object *enc = json_object_array_get_idx(encs, e);
        printf("    Enclosure %zu (number %s): %s\n", e, str(enc, "number").c_str(),
               summary(enc, {"name", "product", "status"}).c_str());
        json_object *procs = get(enc, listKey(raidcnames::Device::Processor));
        for (size_t p = 0; p < json_object_array_length(procs); ++p) {
            json_object *pr = json_object_array_get_idx(procs, p);
            printf("      Processor %zu: %s\n", p, summary(pr, {"name", "type", "product", "status"}).c_str());
            const struct {
                raidcnames::Device kind;
                std::initializer_list<const char *> shown;
            } parts[] = {{raidcnames::Device::Fan, {"name", "location", "speed_rpm", "status"}},
                         {raidcnames::Device::PowerSupply, {"name", "part_number", "status"}},
                         {raidcnames::Device::Sensor, {"name", "location", "temperature_celsius", "status"}}};
            for (const auto &part : parts) {
                json_object *items = get(pr, listKey(part.kind));
                for (size_t k = 0; k < json_object_array_length(items); ++k)
                    printf("        %s %zu: %s\n", capitalised(raidcnames::name(part.kind).text).c_str(), k,
                           summary(json_object_array_get_idx(items, k), part.shown).c_str());
            }
        }
    }
}

void printController(json_object *c)
{
    json_object *n = get(c, "counts");
    printf("Controller %s: %s\n", str(c, "index").c_str(), str(c, "name").c_str());
    printf("  Status %s, family %s, product %s, port type %s\n", str(c, "status").c_str(), str(c, "family").c_str(),
           str(c, "product").c_str(), str(c, "port_type").c_str());
    printTemperatures(get(c, "max_temperatures"));
    printf("  Drives: %s physical (%s NVMe, %s encrypted), %s logical; %s enclosures, %s arrays, %s ports\n",
           str(n, "physical_drives").c_str(), str(n, "nvme_drives").c_str(), str(n, "encrypted_drives").c_str(),
           str(n, "logical_drives").c_str(), str(n, "enclosures").c_str(), str(n, "arrays").c_str(),
           str(n, "ports").c_str());
    printf("  Failed drives %s, drives with SMART errors %s, degraded logical drives %s\n",
           str(n, "failed_drives").c_str(), str(n, "smart_error_drives").c_str(),
           str(n, "degraded_logical_drives").c_str());
    static const Column ldCols[] = {{"#", "index"},
                                    {"Nr", "number"},
                                    {"Name", "name"},
                                    {"RAID", "raid_level"},
                                    {"MiB", "size_bytes", kMiB},
                                    {"Status", "status"},
                                    {"Device", "os_device"}};
    static const Column pdCols[] = {{"#", "index"},
                                    {"Nr", "number"},
                                    {"Port", "port"},
                                    {"Dev", "device"},
                                    {"Type", "type"},
                                    {"Media", "media"},
                                    {"MiB", "size_bytes", kMiB},
                                    {"Status", "status"},
                                    {"Temp", "temperature_celsius"}};
    printTable("Logical drives", get(c, listKey(raidcnames::Device::LogicalDrive)), ldCols);
    printTable("Physical drives", get(c, listKey(raidcnames::Device::PhysicalDrive)), pdCols);
    printEnclosures(get(c, listKey(raidcnames::Device::Enclosure)));
    json_object *bbu = get(c, raidcnames::name(raidcnames::Device::Battery).key);
    printf("\n  Battery: %s\n\n",
           bbu ? summary(bbu, {"name", "type", "status", "temperature_celsius"}).c_str() : "none");
}

// ---- commands ---------------------------------------------------------------

// The controllers to show: all, or the one named by the optional argument.
// Returns EXIT_OK with the range set, or the exit code.
int pickControllers(const Args &a, int *first, int *last)
{
    int idx = -1;
    if (a.pos.size() > 1 || (a.pos.size() == 1 && (!toInt(a.pos[0], &idx) || idx < 0)))
        return usageError(a, "expected at most one controller index");
    if (!loadCache())
        return EXIT_FAIL;
    int64_t n = 0;
    if (idx >= 0) {
        if (int rc = findController(idx))
            return rc;
    } else if (int st = RaidC_getCtrlsNumber(&n); st != RAIDC_SUCCESS_INT) {
        return fail("controllers cannot be counted: %s", RaidC_AccessStatusToString(st));
    }
    *first = idx < 0 ? 0 : idx;
    *last = idx < 0 ? int(n) - 1 : idx;
    return EXIT_OK;
}

// Whether the agent answers on its command socket and when it last wrote
// the tree: a healthy looking tree says little if nobody keeps it current.
void addLiveness(json_object *root)
{
    add(root, "agent_liveness", json_object_new_string(raidchealth::agentStateName(raidchealth::probeAgent())));
    raidchealth::TreeAge t = raidchealth::treeAge();
    json_object *tree = json_object_new_object();
    add(tree, "modified", t.exists ? json_object_new_string(health::utcText(t.mtime).c_str()) : nullptr);
    add(tree, "modified_timestamp", t.exists ? json_object_new_int64(t.mtime) : nullptr);
    add(tree, "age_seconds", t.exists ? json_object_new_int64(t.ageSeconds) : nullptr);
    add(root, "device_tree", tree);
}

// Builds {"controllers": [...]} with make(c) per controller and prints it as
// JSON, or hands it to `text`.
template <typename Make, typename Text> int run(const Args &a, Make &&make, Text &&text, bool live = false)
{
    int first, last;
    if (int rc = pickControllers(a, &first, &last))
        return rc;
    json_object *root = json_object_new_object();
    add(root, "format_version", json_object_new_int(raidcnames::kJsonFormatVersion));
    char agent[128] = {}; // the copy leaves the last byte as terminator
    bool known = RaidC_getStatusInfo("Status", agent, sizeof agent - 1) == RAIDC_SUCCESS_STRING;
    add(root, "agent_status", known ? json_object_new_string(agent) : nullptr);
    json_object *ctrls = json_object_new_array();
    for (int c = first; c <= last; ++c)
        json_object_array_add(ctrls, make(c));
    add(root, "controllers", ctrls);
    if (live)
        addLiveness(root);
    if (a.json) {
        int flags = JSON_C_TO_STRING_NOSLASHESCAPE | (a.pretty ? JSON_C_TO_STRING_PRETTY : JSON_C_TO_STRING_PLAIN);
        printf("%s\n", json_object_to_json_string_ext(root, flags));
    } else {
        text(root);
    }
    json_object_put(root);
    return EXIT_OK;
}

int show(const Args &a)
{
    return run(
        a, controller,
        [](json_object *root) {
            json_object *tree = get(root, "device_tree");
            std::string age = str(tree, "age_seconds");
            printf("Agent status: %s\nAgent: %s\nDevice tree: written %s%s\n\n", str(root, "agent_status").c_str(),
                   str(root, "agent_liveness").c_str(), str(tree, "modified").c_str(),
                   age == "-" ? "" : (", " + health::ageText(std::stoll(age)) + " ago").c_str());
            json_object *ctrls = get(root, "controllers");
            for (size_t i = 0; i < json_object_array_length(ctrls); ++i)
                printController(json_object_array_get_idx(ctrls, i));
        },
        true);
}

int temps(const Args &a)
{
    auto make = [](int c) {
        json_object *o = indexed(c);
        char name[128] = {};
        int st = RaidC_getCtrlInfo("Name", c, name, sizeof name - 1, nullptr);
        add(o, "name",
            st == RAIDC_SUCCESS_STRING || st == RAIDC_BUFFER_TOO_SMALL ? json_object_new_string(name) : nullptr);
        add(o, "max_temperatures", temperatures(c));
        return o;
    };
    return run(a, make, [](json_object *root) {
        json_object *ctrls = get(root, "controllers");
        for (size_t i = 0; i < json_object_array_length(ctrls); ++i) {
            json_object *c = json_object_array_get_idx(ctrls, i);
            printf("Controller %s: %s\n", str(c, "index").c_str(), str(c, "name").c_str());
            json_object *t = get(c, "max_temperatures");
            for (const raidcnames::TempClass &q : raidcnames::kTempClasses) {
                json_object *e = get(t, q.key);
                printf("  %-22s %-12s %s (status %s)\n", q.label, temperatureText(e).c_str(),
                       str(e, "statusText").c_str(), str(e, "status").c_str());
            }
        }
    });
}

Register r1({"show", "[CTRL] [--json [--pretty]]", "overview of controllers, drives, enclosures, battery", show,
             "json pretty", 0, 1});
Register r2({"temps", "[CTRL] [--json [--pretty]]", "maximum temperatures per controller", temps, "json pretty", 0, 1});

} // namespace
