// The raidcObjects subtree: finds the instance a get names or the one that
// follows a getnext, refreshing the library's cache at most once a second.
#include "raidc_mib.h"

#include "raidcommon.h"

#include <net-snmp/agent/net-snmp-agent-includes.h>

// Needs the types of the one above.
#include <net-snmp/agent/agent_sysORTable.h>

#include <algorithm>
#include <ctime>
#include <iterator>

namespace raidcsnmp {

namespace {

// raidcMIB.raidcObjects, as RAIDC-MIB defines it.
constexpr oid kObjectsArc[] = {1, 3, 6, 1, 4, 1, kEnterprise, 1};
constexpr size_t kObjectsArcLen = std::size(kObjectsArc);

constexpr size_t kMaxName = kObjectsArcLen + 3 + kMaxDepth; // table, entry, column, indices

struct Column {
    const Table &table;
    oid name[kMaxName];
    size_t len;

    Column(const Table &t, unsigned column) : table(t)
    {
        std::copy(kObjectsArc, kObjectsArc + kObjectsArcLen, name);
        len = kObjectsArcLen;
        name[len++] = t.arc;
        if (!t.scalars)
            name[len++] = 1;
        name[len++] = column;
    }
    long first() const { return table.scalars ? 0 : 1; }
};

long rows(const Column &col, unsigned level, const Index &idx)
{
    return std::max(col.table.size(level, idx), 0L);
}

// The smallest complete index from `level` on below idx[0 .. level-1].
bool firstFrom(const Column &col, unsigned level, Index &idx)
{
    const Table &t = col.table;
    if (level >= t.depth || level >= kMaxDepth)
        return !t.exists || t.exists(idx);
    long n = rows(col, level, idx);
    for (long i = 0; i < n; ++i) {
        idx[level] = col.first() + i;
        if (firstFrom(col, level + 1, idx))
            return true;
    }
    return false;
}

// The smallest complete index whose sub-identifiers from `level` on come
// after s[0 .. len-1] in OID order.
bool nextAfter(const Column &col, unsigned level, Index &idx, const oid *s, size_t len)
{
    const Table &t = col.table;
    if (level >= t.depth || level >= kMaxDepth)
        return false; // equal to s, or a prefix of it
    if (len == 0)
        return firstFrom(col, level, idx);
    unsigned long long end = static_cast<unsigned long long>(col.first() + rows(col, level, idx));
    unsigned long long begin = static_cast<unsigned long long>(col.first());
    if (s[0] >= begin) {
        if (s[0] < end) {
            idx[level] = static_cast<long>(s[0]);
            if (nextAfter(col, level + 1, idx, s + 1, len - 1))
                return true;
        }
        begin = static_cast<unsigned long long>(s[0]) + 1;
    }
    for (unsigned long long i = begin; i < end; ++i) {
        idx[level] = static_cast<long>(i);
        if (firstFrom(col, level + 1, idx))
            return true;
    }
    return false;
}

bool existing(const Column &col, Index &idx, const oid *s, size_t len)
{
    const Table &t = col.table;
    if (len != t.depth)
        return false;
    for (unsigned level = 0; level < t.depth; ++level) {
        if (s[level] < static_cast<unsigned long>(col.first()) ||
            s[level] >= static_cast<unsigned long>(col.first() + rows(col, level, idx)))
            return false;
        idx[level] = static_cast<long>(s[level]);
    }
    return !t.exists || t.exists(idx);
}

void setValue(netsnmp_variable_list *vb, const Value &v)
{
    if (v.isText) {
        snmp_set_var_typed_value(vb, ASN_OCTET_STR, v.text, v.textLen);
    } else {
        long n = v.number;
        snmp_set_var_typed_value(vb, v.isUnsigned ? ASN_UNSIGNED : ASN_INTEGER, &n, sizeof n);
    }
}

// 0 with the value, or the exception to answer.
int get(netsnmp_variable_list *vb)
{
    for (size_t t = 0; t < kTableCount; ++t) {
        for (unsigned c = kTables[t].firstColumn; c <= kTables[t].lastColumn; ++c) {
            Column col(kTables[t], c);
            if (vb->name_length < col.len || !std::equal(col.name, col.name + col.len, vb->name))
                continue;
            Index idx = {};
            if (!existing(col, idx, vb->name + col.len, vb->name_length - col.len))
                return SNMP_NOSUCHINSTANCE;
            Value v;
            kTables[t].value(idx, c, v);
            setValue(vb, v);
            return 0;
        }
    }
    return SNMP_NOSUCHOBJECT;
}

// Moves the varbind to the next instance of the subtree; false past its end.
bool getNext(netsnmp_variable_list *vb)
{
    for (size_t t = 0; t < kTableCount; ++t) {
        for (unsigned c = kTables[t].firstColumn; c <= kTables[t].lastColumn; ++c) {
            Column col(kTables[t], c);
            size_t common = std::min(vb->name_length, col.len);
            auto diff = std::mismatch(vb->name, vb->name + common, col.name);
            Index idx = {};
            bool found;
            if (diff.first != vb->name + common) {
                if (*diff.first > *diff.second)
                    continue; // the request lies beyond this column
                found = firstFrom(col, 0, idx);
            } else if (vb->name_length < col.len) {
                found = firstFrom(col, 0, idx);
            } else {
                found = nextAfter(col, 0, idx, vb->name + col.len, vb->name_length - col.len);
            }
            if (!found)
                continue;
            oid name[kMaxName];
            std::copy(col.name, col.name + col.len, name);
            std::copy(idx, idx + kTables[t].depth, name + col.len);
            snmp_set_var_objid(vb, name, col.len + kTables[t].depth);
            Value v;
            kTables[t].value(idx, c, v);
            setValue(vb, v);
            return true;
        }
    }
    return false;
}

const char *updateText(int r)
{
    switch (r) {
    case RAIDC_UPDATE_UNUSABLE: return "the file is empty, truncated or malformed";
    case RAIDC_UPDATE_OPEN_FAILED: return "the file cannot be opened or locked";
    default: return "unexpected result";
    }
}

// Requests come in bursts (a walk is thousands of them): the cache is asked
// to refresh at most once a second. A failed refresh leaves the previous
// state in the cache; it is logged when it starts failing, not per request.
void refreshIfDue()
{
    static timespec last;
    static bool started = false;
    static int lastResult = RAIDC_UPDATE_OK;
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    double elapsed =
        static_cast<double>(now.tv_sec - last.tv_sec) + static_cast<double>(now.tv_nsec - last.tv_nsec) / 1e9;
    if (started && elapsed < 1.0)
        return;
    started = true;
    last = now;
    int r = RaidC_updateCache();
    forgetRows();
    if (r == lastResult)
        return;
    if (r == RAIDC_UPDATE_OK)
        snmp_log(LOG_NOTICE, "raidc-snmp: device tree %s read again\n", RAIDC_DEVICE_TREE_PATH);
    else
        snmp_log(LOG_WARNING, "raidc-snmp: cannot refresh from %s (%d: %s); answering from the last state read\n",
                 RAIDC_DEVICE_TREE_PATH, r, updateText(r));
    lastResult = r;
}

int handle(netsnmp_mib_handler *, netsnmp_handler_registration *, netsnmp_agent_request_info *reqinfo,
           netsnmp_request_info *requests)
{
    refreshIfDue();
    for (netsnmp_request_info *r = requests; r; r = r->next) {
        if (r->processed)
            continue;
        if (reqinfo->mode == MODE_GET) {
            if (int e = get(r->requestvb))
                netsnmp_set_request_error(reqinfo, r, e);
        } else if (reqinfo->mode == MODE_GETNEXT) {
            getNext(r->requestvb); // past the end the agent goes on to the next subtree
        }
    }
    return SNMP_ERR_NOERROR;
}

} // namespace

bool registerRaidcMib()
{
    netsnmp_handler_registration *reg =
        netsnmp_create_handler_registration("raidc", handle, kObjectsArc, kObjectsArcLen, HANDLER_CAN_RONLY);
    return reg && netsnmp_register_handler(reg) == MIB_REGISTERED_OK;
}

void registerSysOr()
{
    static oid mib[kRaidcMibLen];
    std::copy(kRaidcMib, kRaidcMib + kRaidcMibLen, mib);
    register_sysORTable(mib, kRaidcMibLen, "RAIDC-MIB: RAID controllers, drives, enclosures and batteries");
}

} // namespace raidcsnmp
