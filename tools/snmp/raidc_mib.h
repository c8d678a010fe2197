// RAIDC-MIB as the subagent serves it: tables of rows addressed by 1-based
// indices, read from the library's cache on demand.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstddef>
#include <cstdint>

namespace raidcsnmp {

// The deepest index: controller, enclosure, processor, sensor.
constexpr unsigned kMaxDepth = 4;
using Index = long[kMaxDepth];

struct Value {
    bool isText = false;
    long number = 0;
    char text[256]; // DisplayString: at most 255 characters
    size_t textLen = 0;

    void setText(const char *field, size_t fieldSize);
    template <size_t N> void setText(const char (&field)[N]) { setText(field, N); }
    void setNumber(long n) { isText = false, number = n; }
};

// One group of objects below raidcObjects: the scalars (arc 1, one instance
// with index 0) or a table (arc N, entry 1).
struct Table {
    oid arc;
    bool scalars;
    unsigned depth;                  // index levels
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

// Registers the handler for raidcObjects with the agent.
bool registerRaidcMib();

} // namespace raidcsnmp
