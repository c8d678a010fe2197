// RAIDC-MIB as the subagent serves it: tables of rows addressed by 1-based
// indices, read from the library's cache on demand.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstddef>
#include <cstdint>

namespace raidcsnmp {

// enterprises.32473: raidcMIB. The subagent names its enterprise number
// here only; a product build changes it here and in RAIDC-MIB.
inline constexpr oid kEnterprise = 32473;
inline constexpr oid kRaidcMib[] = {1, 3, 6, 1, 4, 1, kEnterprise};
inline constexpr size_t kRaidcMibLen = sizeof kRaidcMib / sizeof kRaidcMib[0];

// The deepest index: controller, enclosure, processor, sensor.
constexpr unsigned kMaxDepth = 4;
using Index = long[kMaxDepth];

struct Value {
    bool isText = false;
    bool isUnsigned = false; // Unsigned32
    long number = 0;
    char text[256]; // DisplayString: at most 255 characters
    size_t textLen = 0;

    void setText(const char *field, size_t fieldSize);
    template <size_t N> void setText(const char (&field)[N]) { setText(field, N); }
    void setNumber(long n) { isText = isUnsigned = false, number = n; }
    void setUnsigned(unsigned long n) { isText = false, isUnsigned = true, number = static_cast<long>(n); }
};

// One group of objects below raidcObjects: the scalars (arc 1, one instance
// with index 0) or a table (arc N, entry 1).
struct Table {
    oid arc;
    bool scalars;
    unsigned depth;                   // index levels
    unsigned firstColumn, lastColumn; // accessible columns
    // Rows at index level `level` below the indices idx[0 .. level-1].
    long (*size)(unsigned level, const Index &idx);
    // Whether a complete index names a row (null: all do).
    bool (*exists)(const Index &idx);
    void (*value)(const Index &idx, unsigned column, Value &out);
};

// The tables in OID order.
extern const Table kTables[];
extern const size_t kTableCount;

// Forgets the rows remembered from the previous cache state.
void forgetRows();

// Registers the handler for raidcObjects with the agent, and the module
// in the master's sysORTable.
bool registerRaidcMib();
void registerSysOr();

// Agent status, tree modification time and age: raidcSystem 16 to 18.
void healthValue(unsigned column, Value &out);

// Looks for changes every intervalMs and reads the trap pipe; the state
// found at start is the baseline.
bool startNotifications(long intervalMs);
void stopNotifications();
// One raidcTestNotification per controller.
void sendTestNotifications();

} // namespace raidcsnmp
