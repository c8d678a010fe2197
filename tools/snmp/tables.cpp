// The rows of RAIDC-MIB, read through the library's public interface. A row
// comes from one fixed-layout record where one fits, filled under one hold
// of the library lock, and is kept until the next refresh so that a request
// asking several columns of a row reads the cache once.
#include "raidc_mib.h"

#include "names.h"
#include "raidcommon.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <pthread.h>

namespace raidcsnmp {

namespace {

unsigned long generation = 1;

template <class Row, unsigned Keys> class RowCache {
public:
    template <class Load> const Row &get(const Index &idx, Load load)
    {
        if (gen_ != generation || !std::equal(key_, key_ + Keys, idx)) {
            row_ = Row{};
            load(row_);
            gen_ = generation;
            std::copy(idx, idx + Keys, key_);
        }
        return row_;
    }

private:
    unsigned long gen_ = 0;
    long key_[Keys] = {};
    Row row_{};
};

// Record texts may fill their field without a terminator.
template <size_t N> long mapped(int (*mapper)(const char *, int32_t *), const char (&field)[N], int32_t preset)
{
    char text[N + 1];
    memcpy(text, field, N);
    text[N] = '\0';
    int32_t v = preset;
    mapper(text, &v);
    return v;
}

long ctrlCount()
{
    int64_t n = 0;
    return RaidC_getCtrlsNumber(&n) == RAIDC_SUCCESS_INT ? static_cast<long>(n) : 0;
}

long perCtrl(int (*count)(int, int64_t *), long ctrl)
{
    int64_t n = 0;
    return count(static_cast<int>(ctrl - 1), &n) == RAIDC_SUCCESS_INT ? static_cast<long>(n) : 0;
}

long truth(int answer)
{
    return answer == 1 ? 1 : 2; // TruthValue
}

// --- scalars --------------------------------------------------------------

struct MaxTemp {
    long value = 0;
    long status = 17;
};

int rank(long status)
{
    switch (status) {
    case 1: return 3; // measured
    case 8: return 2; // external
    case 7: return 1; // no reading
    default: return 0;
    }
}

// The highest temperature of one class over all controllers, with the most
// telling of their statuses.
MaxTemp systemMax(int (*query)(int, int64_t *))
{
    MaxTemp m;
    int64_t n = 0;
    if (RaidC_getCtrlsNumber(&n) != RAIDC_SUCCESS_INT)
        return m;
    m.status = 7;
    for (int c = 0; c < n; ++c) {
        int64_t t = 0;
        int r = query(c, &t);
        if ((r == 1 || r == 8) && t > m.value)
            m.value = static_cast<long>(t);
        if (rank(r) > rank(m.status))
            m.status = r;
    }
    return m;
}

void scalarValue(const Index &, unsigned column, Value &out)
{
    static MaxTemp memo[raidcnames::kTempClassCount];
    static unsigned long memoGen[raidcnames::kTempClassCount];
    if (column == 1) {
        out.setNumber(ctrlCount());
        return;
    }
    if (column >= 16) {
        healthValue(column, out);
        return;
    }
    // Each class's maximum and its status, at the arcs the tools' table gives.
    int k = 0;
    while (k + 1 < raidcnames::kTempClassCount && raidcnames::kTempClasses[k].mibArc != (column & ~1u))
        ++k;
    if (memoGen[k] != generation) {
        memo[k] = systemMax(raidcnames::kTempClasses[k].query);
        memoGen[k] = generation;
    }
    out.setNumber(column % 2 ? memo[k].status : memo[k].value);
}

long scalarSize(unsigned, const Index &)
{
    return 1;
}

// --- controllers ----------------------------------------------------------

long ctrlSize(unsigned, const Index &)
{
    return ctrlCount();
}

struct CtrlRow {
    RaidCCtrlInfo info;
    char family[RAIDC_TEXT_LEN];
    int64_t failed, smart;
    long pds, lds, degraded;
    int battery, configurable;
};

void ctrlValue(const Index &idx, unsigned column, Value &out)
{
    static RowCache<CtrlRow, 1> cache;
    const CtrlRow &r = cache.get(idx, [&](CtrlRow &row) {
        int c = static_cast<int>(idx[0] - 1);
        RaidC_LoadCtrlInfo(c, &row.info);
        RaidC_getCtrlInfo("ControllerFamily", c, row.family, sizeof row.family, nullptr);
        row.pds = perCtrl(RaidC_getPdsNumberForCtrl, idx[0]);
        row.lds = perCtrl(RaidC_getLdsNumberForCtrl, idx[0]);
        row.degraded = perCtrl(RaidC_getDegradedLdsNumberForCtrl, idx[0]);
        RaidC_getFailedPdsNumberForCtrl(c, &row.failed, &row.smart);
        row.battery = RaidC_CtrlHasBBU(c);
        row.configurable = RaidC_CtrlCanBeConfigured(c);
    });
    switch (column) {
    case 2: out.setText(r.info.Name); break;
    case 3: out.setNumber(mapped(mibMapper_getCtrlStatus, r.info.Status, 4)); break;
    case 4: out.setText(r.family); break;
    case 5: out.setNumber(mapped(mibMapper_getCtrlInterface, r.info.Protocol, 1)); break;
    case 6: out.setNumber(r.info.ChipTemperature); break;
    case 7: out.setNumber(r.pds); break;
    case 8: out.setNumber(r.lds); break;
    case 9: out.setNumber(static_cast<long>(r.failed)); break;
    case 10: out.setNumber(static_cast<long>(r.smart)); break;
    case 11: out.setNumber(r.degraded); break;
    case 12: out.setNumber(truth(r.battery)); break;
    default: out.setNumber(truth(r.configurable)); break;
    }
}

// --- physical drives ------------------------------------------------------

long pdSize(unsigned level, const Index &idx)
{
    return level == 0 ? ctrlCount() : perCtrl(RaidC_getPdsNumberForCtrl, idx[0]);
}

struct PdRow {
    RaidCPdInfo info;
    int number;
};

void pdValue(const Index &idx, unsigned column, Value &out)
{
    static RowCache<PdRow, 2> cache;
    const PdRow &r = cache.get(idx, [&](PdRow &row) {
        int c = static_cast<int>(idx[0] - 1), d = static_cast<int>(idx[1] - 1);
        RaidC_LoadPdlInfo(c, d, &row.info);
        row.number = -1;
        RaidC_convert_PdIdx_2_PdId(c, d, &row.number);
    });
    const RaidCPdInfo &i = r.info;
    switch (column) {
    case 2: out.setNumber(r.number); break;
    case 3: out.setNumber(i.PortNumber); break;
    case 4: out.setNumber(i.DeviceNumber); break;
    case 5: out.setNumber(mapped(mibMapper_getPdInterface, i.Type, 1)); break;
    case 6: out.setNumber(mapped(mibMapper_getPdDeviceType, i.MediaType, 99)); break;
    case 7: out.setNumber(mapped(mibMapper_getPdStatusEx, i.Status, 1)); break;
    case 8: out.setNumber(mapped(mibMapper_getPdPowerStatus, i.PowerStatus, 4)); break;
    case 9: out.setNumber(mapped(mibMapper_getPdForeignConfig, i.ForeignConfig, 3)); break;
    case 10: out.setNumber(i.PhysicalSize); break;
    case 11: out.setNumber(i.Temperature); break;
    case 12: out.setText(i.RPM); break;
    case 13: out.setText(i.SerialNumber); break;
    case 14: out.setText(i.Vendor); break;
    default: out.setText(i.Product); break;
    }
}

// --- logical drives -------------------------------------------------------

long ldSize(unsigned level, const Index &idx)
{
    return level == 0 ? ctrlCount() : perCtrl(RaidC_getLdsNumberForCtrl, idx[0]);
}

int stripeMapper(const char *text, int32_t *value)
{
    return mibMapper_getLdStripeSize(const_cast<char *>(text), value); // it only reads the text
}

void ldValue(const Index &idx, unsigned column, Value &out)
{
    static RowCache<RaidCLdInfo, 2> cache;
    const RaidCLdInfo &i = cache.get(idx, [&](RaidCLdInfo &row) {
        RaidC_LoadLdInfo(static_cast<int>(idx[0] - 1), static_cast<int>(idx[1] - 1), &row);
    });
    switch (column) {
    case 2: out.setNumber(i.LogDriveNumber); break;
    case 3: out.setText(i.Name); break;
    case 4: out.setNumber(mapped(mibMapper_getLdRaidLevelNum, i.RAIDLevel, 1)); break;
    case 5: out.setNumber(mapped(mibMapper_getLdStatusEx, i.Status, 1)); break;
    case 6: out.setNumber(mapped(stripeMapper, i.Stripesize, 0)); break;
    case 7: out.setNumber(mapped(mibMapper_getLdReadMode, i.ReadMode, 1)); break;
    case 8: out.setNumber(mapped(mibMapper_getLdWriteMode, i.WriteMode, 1)); break;
    case 9: out.setNumber(mapped(mibMapper_getLdCacheMode, i.CacheMode, 1)); break;
    case 10: out.setNumber(mapped(mibMapper_getLdDiskCacheMode, i.DiskCacheMode, 1)); break;
    case 11: out.setNumber(mapped(mibMapper_getLdInitStatus, i.InitState, 1)); break;
    default: out.setNumber(i.LogicalSize); break;
    }
}

// --- enclosures and their sensors -----------------------------------------

struct EncMemo {
    unsigned long gen = 0;
    long ctrl = 0, enc = 0;
    RaidCEncInfo *tree = nullptr;
} encMemo;

// The whole record tree of one enclosure. Its shape and its contents are
// taken under one hold of the library lock, so they describe one state.
const RaidCEncInfo *encTree(long ctrl, long enc)
{
    EncMemo &m = encMemo;
    if (m.gen == generation && m.ctrl == ctrl && m.enc == enc)
        return m.tree;
    RaidC_freeEncInfoStructure(m.tree);
    pthread_mutex_lock(&RaidC_ThreadMutex);
    int c = static_cast<int>(ctrl - 1), e = static_cast<int>(enc - 1);
    m.tree = RaidC_getEncInfoStructure(c, e);
    if (m.tree && RaidC_LoadEncInfo(c, e, m.tree) != 1) {
        RaidC_freeEncInfoStructure(m.tree);
        m.tree = nullptr;
    }
    pthread_mutex_unlock(&RaidC_ThreadMutex);
    m.gen = generation, m.ctrl = ctrl, m.enc = enc;
    return m.tree;
}

long encSize(unsigned level, const Index &idx)
{
    return level == 0 ? ctrlCount() : perCtrl(RaidC_getEncNumberForCtrl, idx[0]);
}

void encValue(const Index &idx, unsigned column, Value &out)
{
    const RaidCEncInfo *t = encTree(idx[0], idx[1]);
    if (!t) {
        if (column == 2 || column == 8)
            out.setNumber(column == 2 ? -1 : 0);
        else
            out.setText("-");
        return;
    }
    switch (column) {
    case 2: out.setNumber(t->EnclosureNumber); break;
    case 3: out.setText(t->Name); break;
    case 4: out.setText(t->Product); break;
    case 5: out.setText(t->Vendor); break;
    case 6: out.setText(t->SerialNumber); break;
    case 7: out.setText(t->Status); break;
    default: out.setNumber(std::max(t->ProcessorCount, 0)); break;
    }
}

const RaidCEncProcInfo *processor(const Index &idx)
{
    const RaidCEncInfo *t = encTree(idx[0], idx[1]);
    return t && idx[2] <= t->ProcessorCount ? &t->Processors[idx[2] - 1] : nullptr;
}

long tempSize(unsigned level, const Index &idx)
{
    if (level < 2)
        return encSize(level, idx);
    if (level == 2) {
        const RaidCEncInfo *t = encTree(idx[0], idx[1]);
        return t ? std::max(t->ProcessorCount, 0) : 0;
    }
    const RaidCEncProcInfo *p = processor(idx);
    return p ? std::max(p->TempSensorCount, 0) : 0;
}

void tempValue(const Index &idx, unsigned column, Value &out)
{
    const RaidCEncProcInfo *p = processor(idx);
    if (!p || idx[3] > p->TempSensorCount) { // the tree could not be rebuilt
        out.setText("-");
        return;
    }
    const RaidCEncTempInfo &s = p->TempSensors[idx[3] - 1];
    switch (column) {
    case 3: out.setText(s.Name); break;
    case 4: out.setText(s.Location); break;
    case 5: out.setNumber(s.Temperature); break;
    case 6: out.setNumber(s.WarningTemperatureH); break;
    case 7: out.setNumber(s.CriticalTemperatureH); break;
    case 8: out.setNumber(s.WarningTemperatureL); break;
    case 9: out.setNumber(s.CriticalTemperatureL); break;
    default: out.setText(s.Status); break;
    }
}

// --- batteries ------------------------------------------------------------

bool hasBattery(const Index &idx)
{
    return RaidC_CtrlHasBBU(static_cast<int>(idx[0] - 1)) == 1;
}

void bbuValue(const Index &idx, unsigned column, Value &out)
{
    static RowCache<RaidCBbuInfo, 1> cache;
    const RaidCBbuInfo &b =
        cache.get(idx, [&](RaidCBbuInfo &row) { RaidC_LoadBbuInfo(static_cast<int>(idx[0] - 1), &row); });
    switch (column) {
    case 1: out.setText(b.Name); break;
    case 2: out.setText(b.Type); break;
    case 3: out.setText(b.Status); break;
    case 4: out.setNumber(b.Temperature); break;
    case 5: out.setText(b.Voltage); break;
    case 6: out.setNumber(b.DesignCapacity); break;
    case 7: out.setNumber(b.RemainingCapacity); break;
    default: out.setText(b.SerialNumber); break;
    }
}

} // namespace

void Value::setText(const char *field, size_t fieldSize)
{
    isText = true;
    textLen = std::min(strnlen(field, fieldSize), sizeof text - 1);
    memcpy(text, field, textLen);
}

void forgetRows()
{
    ++generation;
    RaidC_freeEncInfoStructure(encMemo.tree);
    encMemo.tree = nullptr;
}

const Table kTables[] = {
    {1, true, 1, 1, 18, scalarSize, nullptr, scalarValue}, {2, false, 1, 2, 13, ctrlSize, nullptr, ctrlValue},
    {3, false, 2, 2, 15, pdSize, nullptr, pdValue},        {4, false, 2, 2, 12, ldSize, nullptr, ldValue},
    {5, false, 2, 2, 8, encSize, nullptr, encValue},       {6, false, 4, 3, 10, tempSize, nullptr, tempValue},
    {7, false, 1, 1, 8, ctrlSize, hasBattery, bbuValue},
};
const size_t kTableCount = std::size(kTables);

} // namespace raidcsnmp
