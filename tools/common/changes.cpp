#include "changes.h"
#include "names.h"

#include "raidcommon.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <pthread.h>
#include <set>
#include <strings.h>

namespace raidchealth {

namespace {
// The device kinds of an event are the first kinds of the tools' table.
raidcnames::Device device(Kind k)
{
    static_assert(int(Kind::Enclosure) == int(raidcnames::Device::Enclosure));
    return static_cast<raidcnames::Device>(k);
}
} // namespace

const char *kindName(Kind k)
{
    switch (k) {
    case Kind::Agent: return "agent";
    case Kind::Tree: return "tree";
    default: return raidcnames::name(device(k)).key;
    }
}

namespace {

// A record's text field: it is not terminated when the text filled it.
template <size_t N> std::string text(const char (&field)[N])
{
    return std::string(field, strnlen(field, N));
}

template <size_t N> int mapped(int (*mapper)(const char *, int32_t *), const char (&field)[N], int32_t preset)
{
    std::string t = text(field);
    int32_t v = preset;
    mapper(t.c_str(), &v);
    return v;
}

// The states without a MIB status of their own: 1 OK, 2 anything else.
int okMapped(const std::string &status)
{
    return strcasecmp(status.c_str(), "OK") == 0 ? 1 : 2;
}

bool contains(const std::string &s, const char *what)
{
    return strcasestr(s.c_str(), what) != nullptr;
}

bool rebuilding(const Device &d)
{
    return d.kind == Kind::PhysicalDrive && contains(d.status, "rebuild");
}

// Warning thresholds in degrees per class of device, the defaults of
// `raidc check`; critical lies 10 degrees above.
int warnAt(const char *key)
{
    return static_cast<int>(raidcnames::tempClass(key)->warnDefault);
}

std::string tempClass(int degrees, int warn)
{
    if (degrees <= 0)
        return "";
    return degrees >= warn + 10 ? "critical" : degrees >= warn ? "warning" : "normal";
}

int pdWarn(const RaidCPdInfo &pd)
{
    std::string type = text(pd.Type), media = text(pd.MediaType);
    if (strcasecmp(type.c_str(), "NVMe") == 0)
        return warnAt("nvme");
    if (strcasecmp(media.c_str(), "HDD") == 0)
        return warnAt("hdd");
    if (strcasecmp(media.c_str(), "SSD") == 0)
        return warnAt("ssd");
    return warnAt("pd");
}

std::string orIndex(int id, int idx)
{
    if (id >= 0)
        return std::to_string(id);
    // Appended rather than "#" + string: GCC 12 at -O3 warns falsely on that.
    std::string s = "#";
    return s += std::to_string(idx);
}

// Identifiers given twice cannot tell devices apart: those fall back to
// positions.
void uniqueKeys(std::vector<Device> &devs, size_t from)
{
    std::map<std::string, int> seen;
    for (size_t i = from; i < devs.size(); ++i)
        seen[devs[i].key]++;
    for (size_t i = from; i < devs.size(); ++i)
        if (seen[devs[i].key] > 1)
            (devs[i].key += '@') += std::to_string(devs[i].index);
}

void readController(int c, std::vector<Device> &out)
{
    RaidCCtrlInfo ci;
    if (RaidC_LoadCtrlInfo(c, &ci) != 1)
        return;
    std::string ck = "c" + std::to_string(c);
    Device ctrl;
    ctrl.kind = Kind::Controller;
    ctrl.ctrl = c;
    ctrl.key = ck;
    ctrl.name = text(ci.Name);
    ctrl.status = text(ci.Status);
    ctrl.mappedStatus = mapped(mibMapper_getCtrlStatus, ci.Status, 4);
    ctrl.temperature = ci.ChipTemperature;
    ctrl.tempClass = tempClass(ci.ChipTemperature, warnAt("ctrl"));
    out.push_back(ctrl);

    int64_t n = 0;
    size_t first = out.size();
    if (RaidC_getLdsNumberForCtrl(c, &n) == RAIDC_SUCCESS_INT)
        for (int d = 0; d < n; ++d) {
            RaidCLdInfo ld;
            if (RaidC_LoadLdInfo(c, d, &ld) != 1)
                continue;
            Device dev;
            dev.kind = Kind::LogicalDrive;
            dev.ctrl = c, dev.index = d, dev.id = ld.LogDriveNumber;
            dev.key = ck + "/ld/" + orIndex(ld.LogDriveNumber, d);
            dev.name = text(ld.Name);
            dev.status = text(ld.Status);
            dev.mappedStatus = mapped(mibMapper_getLdStatusEx, ld.Status, 1);
            out.push_back(dev);
        }
    uniqueKeys(out, first);

    first = out.size();
    n = 0;
    if (RaidC_getPdsNumberForCtrl(c, &n) == RAIDC_SUCCESS_INT)
        for (int d = 0; d < n; ++d) {
            RaidCPdInfo pd;
            if (RaidC_LoadPdlInfo(c, d, &pd) != 1)
                continue;
            Device dev;
            dev.kind = Kind::PhysicalDrive;
            dev.ctrl = c, dev.index = d;
            if (RaidC_convert_PdIdx_2_PdId(c, d, &dev.id) != 0)
                dev.id = -1;
            dev.key = ck + "/pd/" + orIndex(dev.id, d);
            dev.name = text(pd.Name);
            dev.status = text(pd.Status);
            dev.state = text(pd.PowerStatus);
            dev.mappedStatus = mapped(mibMapper_getPdStatusEx, pd.Status, 1);
            dev.temperature = pd.Temperature;
            dev.tempClass = tempClass(pd.Temperature, pdWarn(pd));
            dev.rebuild = pd.RebuildProgress;
            out.push_back(dev);
        }
    uniqueKeys(out, first);

    RaidCBbuInfo bbu;
    if (RaidC_CtrlHasBBU(c) == 1 && RaidC_LoadBbuInfo(c, &bbu) == 1) {
        Device dev;
        dev.kind = Kind::Battery;
        dev.ctrl = c;
        dev.key = ck + "/bbu";
        dev.name = text(bbu.Name);
        dev.status = text(bbu.Status);
        dev.mappedStatus = okMapped(dev.status);
        dev.temperature = bbu.Temperature;
        dev.tempClass = tempClass(bbu.Temperature, warnAt("bbu"));
        out.push_back(dev);
    }

    first = out.size();
    n = 0;
    if (RaidC_getEncNumberForCtrl(c, &n) == RAIDC_SUCCESS_INT)
        for (int e = 0; e < n; ++e) {
            std::unique_ptr<RaidCEncInfo, void (*)(RaidCEncInfo *)> enc(RaidC_getEncInfoStructure(c, e),
                                                                        RaidC_freeEncInfoStructure);
            if (!enc || RaidC_LoadEncInfo(c, e, enc.get()) != 1)
                continue;
            Device dev;
            dev.kind = Kind::Enclosure;
            dev.ctrl = c, dev.index = e, dev.id = enc->EnclosureNumber;
            dev.key = ck + "/enc/" + orIndex(enc->EnclosureNumber, e);
            dev.name = text(enc->Name);
            dev.status = text(enc->Status);
            dev.mappedStatus = okMapped(dev.status);
            out.push_back(dev);
        }
    uniqueKeys(out, first);
}

std::string where(const Device &d)
{
    if (d.kind > Kind::Enclosure || d.ctrl < 0)
        return {};
    std::string s = "controller " + std::to_string(d.ctrl);
    if (d.kind != Kind::Controller)
        s += std::string(" ") + raidcnames::name(device(d.kind)).text;
    if (d.index >= 0)
        s += " " + std::to_string(d.index);
    if (!d.name.empty() && d.name != "-")
        s += " (" + d.name + ")";
    return s;
}

Event make(const char *type, const Device &d, time_t now, const char *field, const std::string &oldValue,
           const std::string &newValue)
{
    Event e;
    e.type = type;
    e.kind = d.kind;
    e.ctrl = d.ctrl, e.index = d.index, e.id = d.id;
    e.name = d.name;
    e.field = field;
    e.oldValue = oldValue;
    e.newValue = newValue;
    e.time = now;
    e.message = where(d) + ": ";
    return e;
}

void compare(const Device &o, const Device &n, time_t now, std::vector<Event> &out)
{
    if (o.status != n.status) {
        bool finished = rebuilding(o) && !rebuilding(n);
        Event e = make(finished ? "rebuild_finished" : "status_changed", n, now, "status", o.status, n.status);
        e.oldMapped = o.mappedStatus, e.newMapped = n.mappedStatus;
        e.message += (finished ? "rebuild finished, status " : "status ") + o.status + " -> " + n.status;
        out.push_back(e);
    } else if (rebuilding(n) && n.rebuild / 10 > o.rebuild / 10) {
        Event e =
            make("rebuild_progress", n, now, "rebuild_progress", std::to_string(o.rebuild), std::to_string(n.rebuild));
        e.oldMapped = e.newMapped = n.mappedStatus;
        e.message += "rebuild at " + std::to_string(n.rebuild) + "%";
        out.push_back(e);
    }
    if (o.state != n.state) {
        Event e = make("state_changed", n, now, "power_state", o.state, n.state);
        e.message += "power state " + o.state + " -> " + n.state;
        out.push_back(e);
    }
    if (o.tempClass != n.tempClass && !o.tempClass.empty() && !n.tempClass.empty()) {
        Event e = make("temperature_changed", n, now, "temperature_class", o.tempClass, n.tempClass);
        e.message += "temperature " + o.tempClass + " -> " + n.tempClass + " (" + std::to_string(o.temperature) +
                     " -> " + std::to_string(n.temperature) + " degrees)";
        out.push_back(e);
    }
}

std::string isoTime(time_t t)
{
    struct tm tm;
    gmtime_r(&t, &tm);
    char buf[32];
    strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

// JSON text; bytes that are not valid UTF-8 become '?', so that a cut or
// foreign name cannot break the line.
std::string jsonQuote(const std::string &s)
{
    std::string out = "\"";
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    for (size_t i = 0, n = s.size(); i < n;) {
        unsigned char b = p[i];
        size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        bool ok = len && i + len <= n && !(len == 2 && b < 0xC2);
        for (size_t k = 1; ok && k < len; ++k)
            ok = (p[i + k] & 0xC0) == 0x80;
        if (!ok) {
            out += '?';
            i++;
            continue;
        }
        if (len > 1) {
            out.append(s, i, len);
        } else if (b == '"' || b == '\\') {
            out += '\\';
            out += static_cast<char>(b);
        } else if (b < 0x20) {
            char buf[8];
            snprintf(buf, sizeof buf, "\\u%04x", b);
            out += buf;
        } else {
            out += static_cast<char>(b);
        }
        i += len;
    }
    return out + "\"";
}

} // namespace

Snapshot takeSnapshot()
{
    Snapshot s;
    s.updateResult = RaidC_updateCache();
    if (s.updateResult != RAIDC_UPDATE_OK)
        return s;
    pthread_mutex_lock(&RaidC_ThreadMutex);
    int64_t n = 0;
    if (RaidC_getCtrlsNumber(&n) == RAIDC_SUCCESS_INT) {
        s.controllers = static_cast<int>(n);
        for (int c = 0; c < n; ++c)
            readController(c, s.devices);
    }
    pthread_mutex_unlock(&RaidC_ThreadMutex);
    return s;
}

std::vector<Event> diff(const Snapshot &before, const Snapshot &after, time_t now)
{
    std::vector<Event> out;
    std::map<std::string, const Device *> old, fresh;
    for (const Device &d : before.devices)
        old[d.key] = &d;
    for (const Device &d : after.devices)
        fresh[d.key] = &d;
    for (const Device &d : before.devices)
        if (!fresh.count(d.key)) {
            Event e = make("device_removed", d, now, "present", "yes", "no");
            e.oldMapped = d.mappedStatus;
            e.message += "removed (status was " + d.status + ")";
            out.push_back(e);
        }
    for (const Device &d : after.devices) {
        auto o = old.find(d.key);
        if (o != old.end()) {
            compare(*o->second, d, now, out);
            continue;
        }
        Event e = make("device_added", d, now, "present", "no", "yes");
        e.newMapped = d.mappedStatus;
        e.message += "added, status " + d.status;
        out.push_back(e);
    }
    return out;
}

std::vector<Event> testEvents(const Snapshot &s, time_t now)
{
    std::vector<Event> out;
    for (const Device &d : s.devices)
        if (d.kind == Kind::Controller) {
            Event e = make("test", d, now, "", "", "");
            e.oldMapped = e.newMapped = d.mappedStatus;
            e.message += "test event, status " + d.status;
            out.push_back(e);
        }
    if (out.empty()) {
        Device none;
        Event e = make("test", none, now, "", "", "");
        e.message = "test event (no controller)";
        out.push_back(e);
    }
    return out;
}

std::vector<Field> fields(const Event &e)
{
    return {
        {"format_version", std::to_string(kEventFormatVersion), true},
        {"time", isoTime(e.time), false},
        {"timestamp", std::to_string(static_cast<long long>(e.time)), true},
        {"event", e.type, false},
        {"device", kindName(e.kind), false},
        {"controller", std::to_string(e.ctrl), true},
        {"device_index", std::to_string(e.index), true},
        {"device_id", std::to_string(e.id), true},
        {"name", e.name, false},
        {"field", e.field, false},
        {"old_value", e.oldValue, false},
        {"new_value", e.newValue, false},
        {"old_mapped", std::to_string(e.oldMapped), true},
        {"new_mapped", std::to_string(e.newMapped), true},
        {"message", e.message, false},
    };
}

std::string toJson(const Event &e)
{
    std::string out = "{";
    for (const Field &f : fields(e)) {
        if (out.size() > 1)
            out += ',';
        out += jsonQuote(f.key) + ":" + (f.numeric ? f.value : jsonQuote(f.value));
    }
    return out + "}";
}

std::string toText(const Event &e)
{
    return isoTime(e.time) + " " + e.type + " " + e.message;
}

std::vector<Event> Watcher::poll()
{
    std::vector<Event> out;
    time_t now = time(nullptr);
    AgentState agent = probeAgent();
    // The library re-reads the file only when its time changed; while it has
    // not, the devices walked last time are still what the cache holds.
    TreeAge age = treeAge();
    bool same = haveDevices_ && treeOk_ && age.exists && age.mtime == walkedMtime_;
    Snapshot s;
    if (same)
        s.updateResult = RaidC_updateCache();
    else
        s = takeSnapshot();
    bool ok = s.updateResult == RAIDC_UPDATE_OK;
    Device tree, daemon;
    tree.kind = Kind::Tree;
    daemon.kind = Kind::Agent;

    if (started_ && agent != AgentState::Unknown && agent_ != AgentState::Unknown && agent != agent_) {
        bool up = agent == AgentState::Up;
        Event e =
            make(up ? "agent_up" : "agent_down", daemon, now, "agent", agentStateName(agent_), agentStateName(agent));
        e.message = up ? "the RAID agent answers again" : "the RAID agent stopped answering on " RAIDC_CMD_SOCKET_PATH;
        out.push_back(e);
    }
    if (agent != AgentState::Unknown || !started_)
        agent_ = agent;

    if (started_ && ok != treeOk_) {
        Event e = make(ok ? "tree_readable" : "tree_unreadable", tree, now, "update_result",
                       std::to_string(last_.updateResult), std::to_string(s.updateResult));
        e.message = std::string(RAIDC_DEVICE_TREE_PATH) + (ok ? " can be read again" : " cannot be read");
        out.push_back(e);
    }
    treeOk_ = ok;
    if (ok && same) {
        last_.updateResult = s.updateResult;
    } else if (ok) {
        walkedMtime_ = age.mtime;
        if (haveDevices_) {
            std::vector<Event> changes = diff(last_, s, now);
            out.insert(out.end(), changes.begin(), changes.end());
        }
        last_ = std::move(s);
        haveDevices_ = true;
    } else {
        last_.updateResult = s.updateResult; // the devices last read stay the baseline
    }
    started_ = true;
    return out;
}

} // namespace raidchealth
