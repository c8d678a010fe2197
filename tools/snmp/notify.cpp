// The subagent's notifications: changes found by the same watcher as
// `raidc watch`, the agent going down and coming back, every event read
// from the trap pipe, and test notifications on request. All go through
// the master agent (AgentX) to its trap sinks.
#include "raidc_mib.h"

#include "changes.h"
#include "raidcommon.h"

#include <net-snmp/agent/net-snmp-agent-includes.h>

#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace raidcsnmp {

namespace {

using namespace raidchealth;

constexpr const oid *kMib = kRaidcMib;
constexpr size_t kMibLen = kRaidcMibLen;
constexpr oid kSnmpTrapOid[] = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};

// raidcNotifications (raidcMIB 0).
enum Notification : oid {
    kCtrlStatusChange = 1,
    kLdStatusChange,
    kPdStatusChange,
    kBbuStatusChange,
    kEncStatusChange,
    kAgentDown,
    kAgentUp,
    kTrapEvent,
    kTestNotification,
};

// raidcNotifyObjects (raidcMIB 3) and raidcAgentStatus (raidcSystem 16).
enum Object : oid {
    kCtrlIndex = 1,
    kDevIndex,
    kOldStatus,
    kNewStatus,
    kName,
    kTrapWord3,
    kTrapWord4,
    kTrapStringCount,
    kTrapStringTable,
};

class Notify {
public:
    explicit Notify(oid which)
    {
        std::vector<oid> name(kMib, kMib + kMibLen);
        name.push_back(0);
        name.push_back(which);
        snmp_varlist_add_variable(&vars_, kSnmpTrapOid, std::size(kSnmpTrapOid), ASN_OBJECT_ID,
                                  reinterpret_cast<const u_char *>(name.data()), name.size() * sizeof(oid));
    }
    ~Notify() { snmp_free_varbind(vars_); }
    Notify(const Notify &) = delete;
    Notify &operator=(const Notify &) = delete;

    // raidcNotifyObjects.column.0, or the given instance below a column.
    Notify &add(std::vector<oid> arcs, u_char type, const void *value, size_t len)
    {
        std::vector<oid> name(kMib, kMib + kMibLen);
        name.insert(name.end(), arcs.begin(), arcs.end());
        snmp_varlist_add_variable(&vars_, name.data(), name.size(), type, static_cast<const u_char *>(value), len);
        return *this;
    }
    Notify &integer(Object o, long v) { return add({3, o, 0}, ASN_INTEGER, &v, sizeof v); }
    Notify &word(Object o, unsigned long v) { return add({3, o, 0}, ASN_UNSIGNED, &v, sizeof v); }
    Notify &text(std::vector<oid> arcs, const std::string &s)
    {
        std::string t = s.substr(0, 255); // DisplayString
        return add(std::move(arcs), ASN_OCTET_STR, t.data(), t.size());
    }
    void send() { send_v2trap(vars_); }

private:
    netsnmp_variable_list *vars_ = nullptr;
};

oid statusNotification(Kind k)
{
    switch (k) {
    case Kind::Controller: return kCtrlStatusChange;
    case Kind::LogicalDrive: return kLdStatusChange;
    case Kind::PhysicalDrive: return kPdStatusChange;
    case Kind::Battery: return kBbuStatusChange;
    case Kind::Enclosure: return kEncStatusChange;
    default: return 0;
    }
}

void notify(const Event &e)
{
    if (e.type == "agent_down" || e.type == "agent_up") {
        bool up = e.type == "agent_up";
        long state = up ? 1 : 2;
        Notify(up ? kAgentUp : kAgentDown).add({1, 1, 16, 0}, ASN_INTEGER, &state, sizeof state).send();
        return;
    }
    bool status = e.type == "status_changed" || e.type == "rebuild_finished" || e.type == "device_added" ||
                  e.type == "device_removed";
    oid which = e.type == "test" ? kTestNotification : status ? statusNotification(e.kind) : 0;
    if (!which)
        return; // progress, power state and temperature classes are for `raidc watch`
    Notify n(which);
    n.integer(kCtrlIndex, e.ctrl + 1);
    if (status && e.index >= 0)
        n.integer(kDevIndex, e.index + 1);
    if (status)
        n.integer(kOldStatus, e.oldMapped).integer(kNewStatus, e.newMapped);
    n.text({3, kName, 0}, e.name).send();
}

Watcher watcher;

void pollChanges(unsigned int, void *)
{
    for (const Event &e : watcher.poll())
        notify(e);
    forgetRows(); // the cache may hold a new state now
}

// --- the trap pipe ---------------------------------------------------------

TrapEventPipe pipe;
bool pipeOpen = false, pipeFailureLogged = false;

void sendTrapEvent(const TrapEventData &r)
{
    // A received record holds strings[0] .. strings[stringCount], or none.
    unsigned long n = r.strings[0] ? std::min<unsigned long>(r.stringCount + 1, RAIDC_TRAP_MAX_STRINGS) : 0;
    Notify t(kTrapEvent);
    t.word(kTrapWord3, r.word3).word(kTrapWord4, r.word4).word(kTrapStringCount, n);
    for (unsigned long i = 0; i < n; ++i)
        t.text({3, kTrapStringTable, 1, 2, i + 1}, r.strings[i] ? r.strings[i] : "");
    t.send();
}

void readTraps(int, void *)
{
    // A bounded batch per wake-up, so that a flood cannot starve requests.
    for (int i = 0; i < 64; ++i) {
        openTrapEventPipe(&pipe); // keeps a quiet pipe from timing out; it stays open
        int r = RaidC_GetTrapEventData(&pipe);
        if (r == RAIDC_TRAP_DONE) {
            sendTrapEvent(*pipe.record);
            RaidC_FreeTrapEventData(&pipe);
            continue;
        }
        if (r == RAIDC_TRAP_NO_MEMORY) {
            snmp_log(LOG_WARNING, "raidc-snmp: dropped a malformed trap event\n");
            continue;
        }
        if (r != RAIDC_TRAP_NO_MESSAGE && r != RAIDC_TRAP_IDLE) {
            snmp_log(LOG_WARNING, "raidc-snmp: reading the trap pipe failed (%d); opening it again\n", r);
            unregister_readfd(pipe.Id);
            closeTrapEventPipe(&pipe);
            pipeOpen = false;
        }
        return;
    }
}

// Opens the trap pipe when it is not open yet (its folder may come later).
void openPipe(unsigned int = 0, void * = nullptr)
{
    if (pipeOpen)
        return;
    // Without its folder the pipe cannot be made; the library would say so
    // on standard error at every try.
    std::string path = RAIDC_TRAP_PIPE_PATH;
    struct stat st;
    if (stat(path.substr(0, path.rfind('/')).c_str(), &st) != 0 || openTrapEventPipe(&pipe) != RAIDC_TRAP_DONE) {
        if (!pipeFailureLogged)
            snmp_log(LOG_WARNING, "raidc-snmp: cannot open the trap pipe %s; trying again\n", RAIDC_TRAP_PIPE_PATH);
        pipeFailureLogged = true;
        return;
    }
    pipeOpen = register_readfd(pipe.Id, readTraps, nullptr) == FD_REGISTERED_OK;
    if (!pipeOpen)
        closeTrapEventPipe(&pipe);
    pipeFailureLogged = false;
}

void tick(unsigned int reg, void *arg)
{
    openPipe();
    pollChanges(reg, arg);
}

} // namespace

bool startNotifications(long intervalMs)
{
    initTrapEventPipe(&pipe, 1);
    openPipe();
    watcher.poll(); // the baseline: no notification for the state found at start
    forgetRows();
    timeval t = {intervalMs / 1000, static_cast<suseconds_t>((intervalMs % 1000) * 1000)};
    return snmp_alarm_register_hr(t, SA_REPEAT, tick, nullptr) != 0;
}

void stopNotifications()
{
    if (pipeOpen)
        unregister_readfd(pipe.Id);
    RaidC_FreeTrapEventData(&pipe);
    closeTrapEventPipe(&pipe);
    pipeOpen = false;
}

void sendTestNotifications()
{
    pollChanges(0, nullptr); // changes found on the way are not lost
    for (const Event &e : testEvents(watcher.snapshot(), time(nullptr)))
        notify(e);
}

void healthValue(unsigned column, Value &out)
{
    TreeAge age = treeAge();
    switch (column) {
    case 16:
        switch (probeAgent(200)) {
        case AgentState::Up: out.setNumber(1); break;
        case AgentState::Down: out.setNumber(2); break;
        default: out.setNumber(3); break;
        }
        break;
    case 17: out.setUnsigned(age.exists && age.mtime > 0 ? static_cast<unsigned long>(age.mtime) : 0); break;
    default: out.setNumber(static_cast<long>(age.ageSeconds)); break;
    }
}

} // namespace raidcsnmp
