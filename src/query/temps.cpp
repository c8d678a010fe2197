// Highest temperature per controller and device class. The public wrappers
// hold the cache lock around each of these, so every reading of one answer
// comes from one cache state.
#include "readtext.h"

using namespace raidc;
using namespace raidc::query;

namespace {

// A reading counts when it is at least the running maximum, which starts at
// 0: negative readings never count, a reading of 0 does.
bool raiseMax(int64_t value, int64_t *maxOut) noexcept
{
    if (value < *maxOut)
        return false;
    *maxOut = value;
    return true;
}

// Controller chip and battery: one reading.
template <typename Read> int singleMax(int64_t *maxOut, Read &&read) noexcept
{
    if (!maxOut)
        return RAIDC_INPUT_NOT_INITIALIZED;
    *maxOut = 0;
    int64_t value = -1;
    if (read(&value) != RAIDC_SUCCESS_INT)
        return RAIDC_DEVICE_NOT_FOUND;
    return raiseMax(value, maxOut) ? RAIDC_SUCCESS_INT : RAIDC_DEVICE_NOT_FOUND;
}

// A count below the controller as a loop bound; false when it cannot be read.
template <typename Count> bool boundOf(int64_t *n, Count &&count) noexcept
{
    *n = 0;
    return count(n) == RAIDC_SUCCESS_INT && *n > 0;
}

enum class DriveClass { AnyButNvme, Hdd, Ssd, Nvme };

bool inClass(int ctrlIdx, int devIdx, DriveClass cls) noexcept
{
    Text128 type = driveText(raidInternal_getPDInfo, "Type", ctrlIdx, devIdx);
    if (type.status != RAIDC_SUCCESS_STRING)
        return false;
    bool nvme = type.is("NVMe");
    if (cls == DriveClass::Nvme || cls == DriveClass::AnyButNvme)
        return nvme == (cls == DriveClass::Nvme);
    if (nvme)
        return false;
    return driveText(raidInternal_getPDInfo, "MediaType", ctrlIdx, devIdx).is(cls == DriveClass::Hdd ? "HDD" : "SSD");
}

int driveMax(int ctrlIdx, int64_t *maxOut, DriveClass cls) noexcept
{
    if (!maxOut)
        return RAIDC_INPUT_NOT_INITIALIZED;
    *maxOut = 0;
    int64_t drives = 0;
    if (raidInternal_getPdsNumberForCtrl(ctrlIdx, &drives) != RAIDC_SUCCESS_INT)
        return RAIDC_MAXTEMP_NO_COUNT;
    int result = RAIDC_DEVICE_NOT_FOUND;
    for (int d = 0; d < drives; ++d) {
        int64_t value = -1;
        if (raidInternal_getPDInfo("Temperature", ctrlIdx, d, nullptr, 0, &value) != RAIDC_SUCCESS_INT)
            continue;
        if (inClass(ctrlIdx, d, cls) && raiseMax(value, maxOut))
            result = RAIDC_SUCCESS_INT;
    }
    Text128 portType;
    portType.status = raidInternal_getCtrlInfo("PortType", ctrlIdx, portType.s, RAIDC_TEXT_LEN, nullptr);
    return portType.is("Extern") ? RAIDC_DEVICE_EXTERN : result;
}

// The sensors of one processor, when its product matches the pattern.
bool processorMax(int ctrlIdx, int enc, int proc, int64_t *maxOut) noexcept
{
    Text128 product;
    product.status = raidInternal_getEncProcInfo("Product", ctrlIdx, enc, proc, product.s, RAIDC_TEXT_LEN, nullptr);
    if (product.status != RAIDC_SUCCESS_STRING || !matchesProcessorPattern(product.s))
        return false;
    int64_t sensors;
    if (!boundOf(&sensors, [&](int64_t *n) { return raidinternal_getTempNumberForProc(ctrlIdx, enc, proc, n); }))
        return false;
    bool counted = false;
    for (int s = 0; s < sensors; ++s) {
        int64_t value = -1;
        if (raidInternal_getEncTempInfo("Temperature", ctrlIdx, enc, proc, s, nullptr, 0, &value) == RAIDC_SUCCESS_INT)
            counted |= raiseMax(value, maxOut);
    }
    return counted;
}

} // namespace

namespace raidc::query {

int ctrlMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept
{
    return singleMax(maxOut,
                     [&](int64_t *v) { return raidInternal_getCtrlInfo("ChipTemperature", ctrlIdx, nullptr, 0, v); });
}

int bbuMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept
{
    return singleMax(maxOut,
                     [&](int64_t *v) { return raidInternal_getBBUInfo("Temperature", ctrlIdx, nullptr, 0, v); });
}

int pdMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept
{
    return driveMax(ctrlIdx, maxOut, DriveClass::AnyButNvme);
}

int hddMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept
{
    return driveMax(ctrlIdx, maxOut, DriveClass::Hdd);
}

int ssdMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept
{
    return driveMax(ctrlIdx, maxOut, DriveClass::Ssd);
}

int nvmeMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept
{
    return driveMax(ctrlIdx, maxOut, DriveClass::Nvme);
}

int procMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept
{
    if (!maxOut)
        return RAIDC_INPUT_NOT_INITIALIZED;
    *maxOut = 0;
    int64_t enclosures = 0;
    if (raidinternal_getEnclNumberForCtrl(ctrlIdx, &enclosures) != RAIDC_SUCCESS_INT)
        return RAIDC_MAXTEMP_NO_COUNT;
    int result = RAIDC_DEVICE_NOT_FOUND;
    for (int e = 0; e < enclosures; ++e) {
        // An enclosure without a numeric number is not one the agent manages.
        int64_t number, procs;
        if (raidInternal_getEncInfo("EnclosureNumber", ctrlIdx, e, nullptr, 0, &number) != RAIDC_SUCCESS_INT ||
            !boundOf(&procs, [&](int64_t *n) { return raidinternal_getProcNumberForEncl(ctrlIdx, e, n); }))
            continue;
        for (int p = 0; p < procs; ++p) {
            if (processorMax(ctrlIdx, e, p, maxOut))
                result = RAIDC_SUCCESS_INT;
        }
    }
    return result;
}

} // namespace raidc::query
