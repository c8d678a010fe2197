// Parameter queries below the controller other than the drives: enclosures
// and their processors, fans, power supplies and temperature sensors, the
// battery, arrays, ports and the system-wide "Multiplexer" status.
#include "query.h"

#include <initializer_list>

using namespace raidc;

namespace {

// One step down from an element: its child number `ordinal` among those
// named `name`.
struct Step {
    const char *name;
    int ordinal;
};

// The checks of a device in a per-controller list, then the walk down `path`
// and the parameter lookup at its end. A component without children on the
// path answers nothing (4), yet still holds its place in the numbering.
int deviceParam(NodeList **lists, int pastEndStatus, std::initializer_list<Step> path, const char *paramName,
                int ctrlIdx, int devIdx, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept
{
    presetOutputs(strBuf, intOut);
    XMLNode *elem = nullptr;
    if (int st = query::pickDevice(lists, ctrlIdx, devIdx, pastEndStatus, &elem))
        return st;
    for (const Step &s : path)
        elem = nthChildNamed(elem, s.name, s.ordinal);
    return lookupParam(elem, paramName, strBuf, bufLen, intOut);
}

int encComponent(const char *compName, const char *paramName, int ctrlIdx, int encIdx, int procIdx, int compIdx,
                 char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept
{
    return deviceParam(encCtrlList, RAIDC_DEVICE_NOT_FOUND, {{"Processor", procIdx}, {compName, compIdx}}, paramName,
                       ctrlIdx, encIdx, strBuf, bufLen, intOut);
}

} // namespace

extern "C" {

int raidInternal_getEncInfo(const char *paramName, int ctrlIdx, int encIdx, char *strBuf, unsigned int bufLen,
                            int64_t *intOut) noexcept
{
    return deviceParam(encCtrlList, RAIDC_DEVICE_NOT_FOUND, {}, paramName, ctrlIdx, encIdx, strBuf, bufLen, intOut);
}

int raidInternal_getEncProcInfo(const char *paramName, int ctrlIdx, int encIdx, int procIdx, char *strBuf,
                                unsigned int bufLen, int64_t *intOut) noexcept
{
    return deviceParam(encCtrlList, RAIDC_DEVICE_NOT_FOUND, {{"Processor", procIdx}}, paramName, ctrlIdx, encIdx,
                       strBuf, bufLen, intOut);
}

int raidInternal_getEncFanInfo(const char *paramName, int ctrlIdx, int encIdx, int procIdx, int compIdx, char *strBuf,
                               unsigned int bufLen, int64_t *intOut) noexcept
{
    return encComponent("Fan", paramName, ctrlIdx, encIdx, procIdx, compIdx, strBuf, bufLen, intOut);
}

int raidInternal_getEncPwrInfo(const char *paramName, int ctrlIdx, int encIdx, int procIdx, int compIdx, char *strBuf,
                               unsigned int bufLen, int64_t *intOut) noexcept
{
    return encComponent("PowerSupply", paramName, ctrlIdx, encIdx, procIdx, compIdx, strBuf, bufLen, intOut);
}

int raidInternal_getEncTempInfo(const char *paramName, int ctrlIdx, int encIdx, int procIdx, int compIdx, char *strBuf,
                                unsigned int bufLen, int64_t *intOut) noexcept
{
    return encComponent("TemperatureSensor", paramName, ctrlIdx, encIdx, procIdx, compIdx, strBuf, bufLen, intOut);
}

// Arrays and ports answer 4, not 7, for a position past their list.
int raidInternal_getArrayInfo(const char *paramName, int ctrlIdx, int devIdx, char *strBuf, unsigned int bufLen,
                              int64_t *intOut) noexcept
{
    return deviceParam(arrayCtrlList, RAIDC_PARAM_NOT_FOUND, {}, paramName, ctrlIdx, devIdx, strBuf, bufLen, intOut);
}

int raidInternal_getPortInfo(const char *paramName, int ctrlIdx, int devIdx, char *strBuf, unsigned int bufLen,
                             int64_t *intOut) noexcept
{
    return deviceParam(portCtrlList, RAIDC_PARAM_NOT_FOUND, {}, paramName, ctrlIdx, devIdx, strBuf, bufLen, intOut);
}

// Only the controller's first "Battery" is ever read.
int raidInternal_getBBUInfo(const char *paramName, int ctrlIdx, char *strBuf, unsigned int bufLen,
                            int64_t *intOut) noexcept
{
    presetOutputs(strBuf, intOut);
    XMLNode *ctrl = nullptr;
    if (int st = pickController(ctrlIdx, &ctrl))
        return st;
    if (!ctrl->attributes)
        return RAIDC_PARAM_NOT_FOUND;
    return lookupParam(firstChildNamed(ctrl, "Battery"), paramName, strBuf, bufLen, intOut);
}

} // extern "C"

namespace raidc::query {

// Text only: the first match across all "Multiplexer" elements answers, and
// a value longer than bufLen is cut without being reported.
int statusInfo(const char *paramName, char *strBuf, unsigned int bufLen) noexcept
{
    if (!cacheHasControllers())
        return RAIDC_CACHE_EMPTY;
    if (!paramName)
        return RAIDC_PARAM_NOT_FOUND;
    for (const XMLNode *mux = systemNode->firstChild; mux; mux = mux->nextSibling) {
        if (!isNamed(mux, "Multiplexer"))
            continue;
        if (const XMLNode *param = firstChildNamed(mux, paramName)) {
            const char *value = textOf(param);
            if (!value)
                return RAIDC_PARAM_NOT_FOUND;
            if (!strBuf)
                return RAIDC_INPUT_NOT_INITIALIZED;
            strncpy(strBuf, value, bufLen);
            return RAIDC_SUCCESS_STRING;
        }
    }
    return RAIDC_PARAM_NOT_FOUND;
}

} // namespace raidc::query
