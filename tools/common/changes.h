// Change detection over the device tree, shared by `raidc watch` and
// raidc-snmp: a snapshot of every device read from whole fixed-layout
// records, the events between two snapshots, and a watcher that adds the
// agent's liveness and the tree's readability.
#pragma once

#include "liveness.h"
#include "names.h"

#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace raidchealth {

// The version of the event's JSON keys and environment variables.
inline constexpr int kEventFormatVersion = raidcnames::kJsonFormatVersion;

enum class Kind { Controller, LogicalDrive, PhysicalDrive, Battery, Enclosure, Agent, Tree };
const char *kindName(Kind k); // snake_case, as in the JSON

// One device as two snapshots compare it.
struct Device {
    Kind kind = Kind::Controller;
    int ctrl = -1;   // controller index
    int index = -1;  // device index within the controller (-1: the controller or its battery)
    int id = -1;     // the tree's identifier of the drive or enclosure, -1 if none
    std::string key; // identity across snapshots
    std::string name;
    std::string status;
    std::string state;     // a drive's power state
    int temperature = -1;  // degrees, -1 when not reported
    std::string tempClass; // "normal", "warning", "critical" or "" (no reading)
    int rebuild = -1;      // a drive's rebuild progress in percent
    int mappedStatus = 0;  // the status as its MIB integer
};

struct Snapshot {
    int updateResult = -1; // RaidC_updateCache's result
    int controllers = 0;
    std::vector<Device> devices; // in tree order
};

// Refreshes the cache and reads every device. Each record is filled under
// one hold of the library lock, and the whole walk holds it too, so one
// snapshot is one state of the cache.
Snapshot takeSnapshot();

struct Event {
    std::string type; // device_added, status_changed, agent_down, ...
    Kind kind = Kind::Controller;
    int ctrl = -1, index = -1, id = -1;
    std::string name;
    std::string field; // what changed: status, power_state, temperature_class, ...
    std::string oldValue, newValue;
    int oldMapped = 0, newMapped = 0; // MIB status integers; 0: not there
    time_t time = 0;
    std::string message; // one human line without the time
};

// The events from `before` to `after`, stamped with `now`.
std::vector<Event> diff(const Snapshot &before, const Snapshot &after, time_t now);

// One "test" event per controller (one without a controller if there are none).
std::vector<Event> testEvents(const Snapshot &s, time_t now);

// The event as key/value pairs in a fixed order; `numeric` tells which
// values are numbers in the JSON.
struct Field {
    const char *key;
    std::string value;
    bool numeric;
};
std::vector<Field> fields(const Event &e);
std::string toJson(const Event &e);
std::string toText(const Event &e);

// Polls the tree and the agent and tells what changed since the last poll.
// The first poll only takes the baseline.
class Watcher {
public:
    std::vector<Event> poll();
    const Snapshot &snapshot() const { return last_; }
    AgentState agent() const { return agent_; }
    bool treeReadable() const { return treeOk_; }

private:
    bool started_ = false;
    bool haveDevices_ = false; // last_ holds a state that was read
    bool treeOk_ = false;
    AgentState agent_ = AgentState::Unknown;
    time_t walkedMtime_ = 0; // the file's time when last_ was walked
    Snapshot last_;
};

} // namespace raidchealth
