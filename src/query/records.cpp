// The record loaders: each record's table of fields comes from the public
// header's list of them, and one routine fills any record from its table and
// a query bound to the device: the probe first, then the other fields in
// record order. The caller (the public wrapper) holds the cache lock for the
// whole record, so one record shows one cache state, whatever the order.
#include "query.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

using namespace raidc;

namespace {

struct Field {
    uint16_t offset;
    uint16_t textLen; // 0: a signed 32-bit integer
    const char *param;
    bool needsInt;        // an integer field that takes -1 unless the query answered with an integer...
    const char *fallback; // ...or, when given, the answer for this parameter instead
};

// A field whose parameter is named like the field, or given explicitly.
// clang-format off
#define FIELD_AS(m, param, needsInt, fallback)                                                               \
    Field{offsetof(REC, m), std::is_array_v<decltype(REC::m)> ? uint16_t(sizeof(REC::m)) : uint16_t(0), param, \
          needsInt, fallback}
#define F(m) FIELD_AS(m, #m, false, nullptr),
// clang-format on

// A record's fields, from the public list in record order.
template <size_t N> constexpr std::array<Field, N> fields(const Field (&plain)[N])
{
    std::array<Field, N> out{};
    for (size_t i = 0; i < N; ++i)
        out[i] = plain[i];
    return out;
}

// The same with the few fields whose parameter or rule is not the plain one
// put in their place.
template <size_t N, size_t M> constexpr std::array<Field, N> fields(const Field (&plain)[N], const Field (&special)[M])
{
    std::array<Field, N> out = fields(plain);
    for (Field &f : out) {
        for (const Field &s : special) {
            if (s.offset == f.offset)
                f = s;
        }
    }
    return out;
}

#define REC RaidCCtrlInfo
constexpr auto ctrlFields = fields({RAIDC_CTRL_INFO_FIELDS(F)}, {FIELD_AS(MemorySize2, "MemorySize", false, nullptr)});
#undef REC
#define REC RaidCPdInfo
constexpr auto pdFields =
    fields({RAIDC_PD_INFO_FIELDS(F)}, {
                                          FIELD_AS(DeviceNumber, "DeviceNumber", true, "Slot"),
                                          FIELD_AS(EnclosureNumber, "EnclosureNumber", true, nullptr),
                                      });
#undef REC
#define REC RaidCLdInfo
constexpr auto ldFields = fields({RAIDC_LD_INFO_FIELDS(F)});
#undef REC
#define REC RaidCBbuInfo
constexpr auto bbuFields = fields({RAIDC_BBU_INFO_FIELDS(F)});
#undef REC
#define REC RaidCEncInfo
constexpr auto encFields = fields({RAIDC_ENC_INFO_FIELDS(F)});
#undef REC
#define REC RaidCEncProcInfo
constexpr auto procFields = fields({RAIDC_ENC_PROC_INFO_FIELDS(F)});
#undef REC
#define REC RaidCEncFanInfo
constexpr auto fanFields = fields({RAIDC_ENC_FAN_INFO_FIELDS(F)});
#undef REC
#define REC RaidCEncPwrInfo
constexpr auto pwrFields = fields({RAIDC_ENC_PWR_INFO_FIELDS(F)});
#undef REC
#define REC RaidCEncTempInfo
constexpr auto tempFields = fields({RAIDC_ENC_TEMP_INFO_FIELDS(F)});
#undef REC

#undef F
#undef FIELD_AS

// A table must name every byte of its record exactly once (apart from the
// enclosure tree's counts and pointers, which the loaders never touch).
template <size_t N> constexpr size_t bytesCovered(const std::array<Field, N> &table)
{
    size_t sum = 0;
    for (const Field &f : table) {
        for (const Field &g : table) {
            if (&f != &g && f.offset == g.offset)
                return 0;
        }
        sum += f.textLen ? f.textLen : sizeof(int32_t);
    }
    return sum;
}
static_assert(bytesCovered(ctrlFields) == sizeof(RaidCCtrlInfo));
static_assert(bytesCovered(pdFields) == sizeof(RaidCPdInfo));
static_assert(bytesCovered(ldFields) == sizeof(RaidCLdInfo));
static_assert(bytesCovered(bbuFields) == sizeof(RaidCBbuInfo));
static_assert(bytesCovered(encFields) == offsetof(RaidCEncInfo, ProcessorCount));
static_assert(bytesCovered(procFields) == offsetof(RaidCEncProcInfo, FanCount));
static_assert(bytesCovered(fanFields) == sizeof(RaidCEncFanInfo));
static_assert(bytesCovered(pwrFields) == sizeof(RaidCEncPwrInfo));
static_assert(bytesCovered(tempFields) == sizeof(RaidCEncTempInfo));

// A query worker with its device indices bound: (param, strBuf, bufLen, intOut) -> status.
template <typename Worker, typename... Idx> auto bindQuery(Worker worker, Idx... idx)
{
    return [=](const char *param, char *strBuf, unsigned int bufLen, int64_t *intOut) {
        return worker(param, idx..., strBuf, bufLen, intOut);
    };
}

// One field: texts take a bounded copy of the field's width, integers the
// low 32 bits of the 64-bit answer (-1 when the query found none).
template <typename Query> int fillField(void *record, const Field &f, const Query &query) noexcept
{
    char *at = static_cast<char *>(record) + f.offset;
    if (f.textLen)
        return query(f.param, at, f.textLen, nullptr);
    int64_t value = -1;
    int status = query(f.param, nullptr, 0, &value);
    if (f.needsInt && status != RAIDC_SUCCESS_INT) {
        value = -1;
        if (f.fallback)
            status = query(f.fallback, nullptr, 0, &value);
    }
    const int32_t low = static_cast<int32_t>(value);
    memcpy(at, &low, sizeof low);
    return status;
}

// Every field but the one at offset `skip`, in record order.
template <typename Query>
void fillFields(void *record, std::span<const Field> fields, const Query &query, size_t skip = SIZE_MAX) noexcept
{
    for (const Field &f : fields) {
        if (f.offset != skip)
            fillField(record, f, query);
    }
}

// The loader frame: the field at offset `probe` is queried first; a device
// that does not exist leaves the record as the probe left it and gives 0.
template <typename Query>
int32_t loadRecord(void *record, std::span<const Field> fields, size_t probe, const Query &query) noexcept
{
    const Field *first = nullptr;
    for (const Field &f : fields)
        first = f.offset == probe ? &f : first;
    if (!record || !first || fillField(record, *first, query) == RAIDC_DEVICE_NOT_FOUND)
        return 0;
    fillFields(record, fields, query, probe);
    return 1;
}

// Fills `count` component records; the count comes from the caller's tree.
template <typename Rec, typename Worker>
void fillComponents(Rec *recs, int32_t count, std::span<const Field> fields, Worker worker, int ctrlIdx, int encIdx,
                    int procIdx) noexcept
{
    for (int32_t k = 0; recs && k < count; ++k)
        fillFields(&recs[k], fields, bindQuery(worker, ctrlIdx, encIdx, procIdx, static_cast<int>(k)));
}

} // namespace

namespace raidc::query {

int32_t loadCtrlInfo(int ctrlIdx, RaidCCtrlInfo *info) noexcept
{
    return loadRecord(info, ctrlFields, offsetof(RaidCCtrlInfo, AdapterNumber),
                      bindQuery(raidInternal_getCtrlInfo, ctrlIdx));
}

int32_t loadPdInfo(int ctrlIdx, int devIdx, RaidCPdInfo *info) noexcept
{
    return loadRecord(info, pdFields, offsetof(RaidCPdInfo, Product),
                      bindQuery(raidInternal_getPDInfo, ctrlIdx, devIdx));
}

int32_t loadLdInfo(int ctrlIdx, int devIdx, RaidCLdInfo *info) noexcept
{
    return loadRecord(info, ldFields, offsetof(RaidCLdInfo, RAIDLevel),
                      bindQuery(raidInternal_getLDInfo, ctrlIdx, devIdx));
}

int32_t loadBbuInfo(int ctrlIdx, RaidCBbuInfo *info) noexcept
{
    return loadRecord(info, bbuFields, offsetof(RaidCBbuInfo, Status), bindQuery(raidInternal_getBBUInfo, ctrlIdx));
}

// The enclosure and then as many processors and components as the tree's
// counts say; counts and pointers are never changed.
int32_t loadEncInfo(int ctrlIdx, int encIdx, RaidCEncInfo *info) noexcept
{
    if (!loadRecord(info, encFields, offsetof(RaidCEncInfo, EnclosureNumber),
                    bindQuery(raidInternal_getEncInfo, ctrlIdx, encIdx)))
        return 0;
    for (int32_t p = 0; info->Processors && p < info->ProcessorCount; ++p) {
        RaidCEncProcInfo &proc = info->Processors[p];
        const int procIdx = static_cast<int>(p);
        fillFields(&proc, procFields, bindQuery(raidInternal_getEncProcInfo, ctrlIdx, encIdx, procIdx));
        fillComponents(proc.Fans, proc.FanCount, fanFields, raidInternal_getEncFanInfo, ctrlIdx, encIdx, procIdx);
        fillComponents(proc.PowerSupplies, proc.PowerSupplyCount, pwrFields, raidInternal_getEncPwrInfo, ctrlIdx,
                       encIdx, procIdx);
        fillComponents(proc.TempSensors, proc.TempSensorCount, tempFields, raidInternal_getEncTempInfo, ctrlIdx, encIdx,
                       procIdx);
    }
    return 1;
}

} // namespace raidc::query
