// The record loaders: each record is described once as a table of fields in
// the order they are queried, and one routine fills any record from its
// table and a query bound to the device. The caller (the public wrapper)
// holds the cache lock for the whole record, so one record shows one cache
// state.
#include "query.h"

#include <cstddef>
#include <span>
#include <type_traits>

using namespace raidc;

namespace {

struct Field {
    uint16_t offset;
    uint16_t textLen;     // 0: a signed 32-bit integer
    const char *param;
    bool needsInt;        // an integer field that takes -1 unless the query answered with an integer...
    const char *fallback; // ...or, when given, the answer for this parameter instead
};

// A field whose parameter is named like the field, or given explicitly.
#define FIELD_AS(m, param, needsInt, fallback)                                                               \
    Field{offsetof(REC, m), std::is_array_v<decltype(REC::m)> ? uint16_t(sizeof(REC::m)) : uint16_t(0), param, \
          needsInt, fallback}
#define F(m) FIELD_AS(m, #m, false, nullptr)

#define REC RaidCCtrlInfo
constexpr Field ctrlFields[] = {
    F(AdapterNumber), F(CtrlId), F(Type), F(Name), F(Vendor), F(Product), F(SerialNumber), F(SASAddress),
    F(PCIBus), F(PCIDevice), F(PCIFunction), F(DriverName), F(DriverVersion), F(UEFIDriverVersion), F(Protocol),
    F(FWPackageVersion), F(FirmwareVersion), F(FirmwareBuildTime), F(BIOSVersion), F(BIOSBuildTime),
    F(MemorySize), F(PortCount), F(Status), F(HostName), F(PCISegment), F(ChipTemperature), F(NVRAMSize),
    FIELD_AS(MemorySize2, "MemorySize", false, nullptr), F(FlashROMSize), F(AlarmPresent), F(PatrolReadMode),
    F(PatrolRdIterations), F(SMARTSupport), F(CoercionMode), F(CorrErrorCount), F(UncorrErrorCount), F(VendorID),
    F(SubVendorID), F(DeviceID), F(SubDeviceID),
};
#undef REC

#define REC RaidCPdInfo
constexpr Field pdFields[] = {
    F(Product), F(PdAllowedLocate), F(PortNumber), FIELD_AS(DeviceNumber, "DeviceNumber", true, "Slot"),
    F(Vendor), F(TransferSpeed), F(Type), F(MediaType), F(MediaErrorCount), F(MiscErrors), F(Status),
    F(FirmwareVersion), F(SerialNumber), F(ForeignConfig), F(PhysicalSize),
    FIELD_AS(EnclosureNumber, "EnclosureNumber", true, nullptr), F(Slot), F(Name), F(RemainingTime),
    F(RebuildProgress), F(PowerStatus), F(Temperature), F(RPM),
};
#undef REC

#define REC RaidCLdInfo
constexpr Field ldFields[] = {
    F(RAIDLevel), F(LogDriveNumber), F(LdAllowedLocate), F(Stripesize), F(WriteMode), F(Status), F(Name),
    F(LogicalSize), F(PhysicalSize), F(OSDevice), F(ReadMode), F(CacheMode), F(DiskCacheMode), F(InitState),
};
#undef REC

#define REC RaidCBbuInfo
constexpr Field bbuFields[] = {
    F(Status), F(DesignCapacity), F(AutoLearnPeriod), F(Temperature), F(Capacitance), F(RemainingCapacity),
    F(Voltage), F(Name), F(Vendor), F(ManufactureDate), F(DesignVoltage), F(Type), F(IntelligentBBU),
    F(SerialNumber), F(NextLearnTime), F(DeviceName), F(ModuleVersion), F(AutoLearnMode),
};
#undef REC

#define REC RaidCEncInfo
constexpr Field encFields[] = {
    F(EnclosureNumber), F(EnclosureChainNumber), F(Product), F(SerialNumber), F(Vendor),
    F(HardwareVersion), F(Name), F(Status), F(LogicalID), F(EncAllowedLocate),
};
#undef REC

#define REC RaidCEncProcInfo
constexpr Field procFields[] = {
    F(PortNumber), F(DeviceNumber), F(EnclosureNumber), F(Name), F(Type), F(Vendor), F(Product),
    F(SerialNumber), F(PartNumber), F(HardwareVersion), F(FirmwareVersion), F(SASAddress), F(Status),
};
#undef REC

#define REC RaidCEncFanInfo
constexpr Field fanFields[] = {F(Name), F(Location), F(FanSpeed), F(Status)};
#undef REC

#define REC RaidCEncPwrInfo
constexpr Field pwrFields[] = {F(SerialNumber), F(HardwareVersion), F(Name), F(PartNumber), F(Status)};
#undef REC

#define REC RaidCEncTempInfo
constexpr Field tempFields[] = {
    F(Name), F(Location), F(WarningTemperatureH), F(CriticalTemperatureH), F(WarningTemperatureL),
    F(CriticalTemperatureL), F(Temperature), F(Status),
};
#undef REC

#undef F
#undef FIELD_AS

// A table must name every byte of its record exactly once (apart from the
// enclosure tree's counts and pointers, which the loaders never touch).
template <size_t N> constexpr size_t bytesCovered(const Field (&table)[N])
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

template <typename Query> void fillFields(void *record, std::span<const Field> fields, const Query &query) noexcept
{
    for (const Field &f : fields)
        fillField(record, f, query);
}

// The loader frame: the first field is the probe; a device that does not
// exist leaves the record as the probe left it and gives 0.
template <typename Query> int32_t loadRecord(void *record, std::span<const Field> fields, const Query &query) noexcept
{
    if (!record || fillField(record, fields.front(), query) == RAIDC_DEVICE_NOT_FOUND)
        return 0;
    fillFields(record, fields.subspan(1), query);
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
    return loadRecord(info, ctrlFields, bindQuery(raidInternal_getCtrlInfo, ctrlIdx));
}

int32_t loadPdInfo(int ctrlIdx, int devIdx, RaidCPdInfo *info) noexcept
{
    return loadRecord(info, pdFields, bindQuery(raidInternal_getPDInfo, ctrlIdx, devIdx));
}

int32_t loadLdInfo(int ctrlIdx, int devIdx, RaidCLdInfo *info) noexcept
{
    return loadRecord(info, ldFields, bindQuery(raidInternal_getLDInfo, ctrlIdx, devIdx));
}

int32_t loadBbuInfo(int ctrlIdx, RaidCBbuInfo *info) noexcept
{
    return loadRecord(info, bbuFields, bindQuery(raidInternal_getBBUInfo, ctrlIdx));
}

// The enclosure and then as many processors and components as the tree's
// counts say; counts and pointers are never changed.
int32_t loadEncInfo(int ctrlIdx, int encIdx, RaidCEncInfo *info) noexcept
{
    if (!loadRecord(info, encFields, bindQuery(raidInternal_getEncInfo, ctrlIdx, encIdx)))
        return 0;
    for (int32_t p = 0; info->Processors && p < info->ProcessorCount; ++p) {
        RaidCEncProcInfo &proc = info->Processors[p];
        const int procIdx = static_cast<int>(p);
        fillFields(&proc, procFields, bindQuery(raidInternal_getEncProcInfo, ctrlIdx, encIdx, procIdx));
        fillComponents(proc.Fans, proc.FanCount, fanFields, raidInternal_getEncFanInfo, ctrlIdx, encIdx, procIdx);
        fillComponents(proc.PowerSupplies, proc.PowerSupplyCount, pwrFields, raidInternal_getEncPwrInfo, ctrlIdx,
                       encIdx, procIdx);
        fillComponents(proc.TempSensors, proc.TempSensorCount, tempFields, raidInternal_getEncTempInfo, ctrlIdx,
                       encIdx, procIdx);
    }
    return 1;
}

} // namespace raidc::query
