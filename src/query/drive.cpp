// Drive queries: a parameter of a logical or physical drive by list
// position, of a physical drive by its number, port and device number, and
// the highest physical drive number of a controller.
#include "query.h"

#include "../devmap/devmap.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using namespace raidc;

namespace {

// Rotation classes: the highest speed (rpm) of each range and its text in
// thousands of revolutions per minute. Speeds up to kPlainRpm keep the
// agent's own text; beyond the last range the class is kFastestClass.
struct RpmClass {
    double upTo;
    float krpm;
};
constexpr double kPlainRpm = 1000;
constexpr RpmClass kRpmClasses[] = {{5000, 4.2f}, {7000, 5.4f}, {9000, 7.2f}, {14000, 10.0f}, {19000, 15.0f}};
constexpr float kFastestClass = 20.0f;
// The longest class text, "20.0", and its terminator.
constexpr size_t kClassTextSize = 5;

int rpmClass(const XMLNode *drive, char *strBuf, unsigned int bufLen)
{
    if (!strBuf)
        return RAIDC_INPUT_NOT_INITIALIZED;
    const char *value = textOf(firstChildNamed(drive, "RPM"));
    if (!value)
        return RAIDC_PARAM_NOT_FOUND;
    int st = copyValue(strBuf, value, bufLen);
    double rpm = strtod(value, nullptr);
    if (st != RAIDC_SUCCESS_STRING || !(rpm > kPlainRpm)) // NaN too keeps the text
        return st;
    float krpm = kFastestClass;
    for (const RpmClass &c : kRpmClasses) {
        if (rpm <= c.upTo) {
            krpm = c.krpm;
            break;
        }
    }
    // Written whatever bufLen says: callers asking for "RPM" pass room for a class.
    snprintf(strBuf, kClassTextSize, "%.1f", static_cast<double>(krpm));
    return RAIDC_SUCCESS_STRING;
}

// Presets the outputs and picks the drive; 0 with *drive set, else the status.
int pickDrive(NodeList **lists, int ctrlIdx, int devIdx, char *strBuf, int64_t *intOut, XMLNode **drive)
{
    presetOutputs(strBuf, intOut);
    return query::pickDevice(lists, ctrlIdx, devIdx, RAIDC_DEVICE_NOT_FOUND, drive);
}

// The checks of the queries that address a controller's drives as a whole:
// cache present (5), controller in range and with an attribute (4).
int pickDriveController(int ctrlIdx)
{
    if (!cacheHasControllers() || !pdCtrlList)
        return RAIDC_CACHE_EMPTY;
    const XMLNode *ctrl = ctrlInRange(ctrlIdx) ? ctrlList->nodes[ctrlIdx] : nullptr;
    return ctrl && ctrl->attributes ? 0 : RAIDC_PARAM_NOT_FOUND;
}

// A text read as a decimal number the way identifiers are read, compared by
// value with any int or unsigned.
bool decimalIs(const char *text, long long want)
{
    return text && strtol32(text) == want;
}

} // namespace

extern "C" int raidInternal_getLDInfo(const char *paramName, int ctrlIdx, int devIdx, char *strBuf, unsigned int bufLen,
                                      int64_t *intOut) noexcept
{
    XMLNode *drive = nullptr;
    if (int st = pickDrive(ldCtrlList, ctrlIdx, devIdx, strBuf, intOut, &drive))
        return st;
    return lookupParam(drive, paramName, strBuf, bufLen, intOut);
}

extern "C" int raidInternal_getPDInfo(const char *paramName, int ctrlIdx, int devIdx, char *strBuf, unsigned int bufLen,
                                      int64_t *intOut) noexcept
{
    if (!strBuf && !intOut)
        return RAIDC_INPUT_NOT_INITIALIZED;
    XMLNode *drive = nullptr;
    if (int st = pickDrive(pdCtrlList, ctrlIdx, devIdx, strBuf, intOut, &drive))
        return st;
    if (!drive->firstChild)
        return RAIDC_PARAM_NOT_FOUND;
    if (paramName && strcmp(paramName, "RPM") == 0)
        return rpmClass(drive, strBuf, bufLen);
    return lookupParam(drive, paramName, strBuf, bufLen, intOut);
}

namespace raidc::query {

int getPDInfoSnmpExt(const char *paramName, int ctrlIdx, int pdNumber, unsigned int portNumber,
                     unsigned int deviceNumber, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept
{
    presetOutputs(strBuf, intOut);
    if (int st = pickDriveController(ctrlIdx))
        return st;
    // Only the first drive with that number counts, even when its port or
    // device number differ and a later one would match.
    const NodeList *drives = pdCtrlList[ctrlIdx];
    const XMLNode *drive = nullptr;
    for (int i = 0; i < countOf(drives) && !drive; ++i) {
        if (decimalIs(firstAttrValue(drives->nodes[i]), pdNumber))
            drive = drives->nodes[i];
    }
    if (!drive)
        return RAIDC_DEVICE_NOT_FOUND;
    int matches = 0;
    for (const XMLNode *c = drive->firstChild; c; c = c->nextSibling) {
        if (isNamed(c, "PortNumber"))
            matches += decimalIs(textOf(c), portNumber);
        else if (isNamed(c, "DeviceNumber"))
            matches += decimalIs(textOf(c), deviceNumber);
    }
    if (matches != 2)
        return RAIDC_DEVICE_NOT_FOUND;
    return lookupParam(drive, paramName, strBuf, bufLen, intOut);
}

int highestPdNum(int ctrlIdx, int64_t *intOut) noexcept
{
    if (!intOut)
        return RAIDC_INPUT_NOT_INITIALIZED;
    if (int st = pickDriveController(ctrlIdx))
        return st;
    *intOut = 0;
    const NodeList *drives = pdCtrlList[ctrlIdx];
    for (int i = 0; i < countOf(drives); ++i) {
        const XMLNode *nr = drives->nodes[i] ? drives->nodes[i]->attributes : nullptr;
        if (nr && isNamed(nr, "Nr") && nr->nodeValue)
            *intOut = std::max<int64_t>(*intOut, strtoll(nr->nodeValue, nullptr, 0));
    }
    return RAIDC_SUCCESS_INT;
}

} // namespace raidc::query
