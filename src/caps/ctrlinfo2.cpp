// Controller parameters into a growable string: no truncation, and the
// capabilities list as JSON.
#include "caps.h"

namespace {

bool is(const char *a, const char *b) noexcept
{
    return a && strcmp(a, b) == 0;
}

} // namespace

using namespace raidc;

extern "C" int raidInternal_getCtrlInfo2(const char *paramName, int ctrlIdx, string_ptr strOut,
                                         int64_t *intOut) noexcept
{
    if (!strOut && !intOut)
        return RAIDC_INPUT_NOT_INITIALIZED;
    if (intOut)
        *intOut = -1;
    if (strOut)
        string_set_str(strOut, "-");
    if (!cacheHasControllers())
        return RAIDC_CACHE_EMPTY;
    if (!ctrlInRange(ctrlIdx))
        return RAIDC_PARAM_NOT_FOUND;
    const XMLNode *ctrl = ctrlList->nodes[ctrlIdx];
    if (!ctrl)
        return RAIDC_DEVICE_NOT_FOUND;
    // Served by the fixed-buffer lookup only.
    if (!paramName || is(paramName, "HostName") || is(paramName, "Spec_MaxChannelInUse"))
        return RAIDC_PARAM_NOT_FOUND;
    if (is(paramName, "RAIDCapabilities"))
        return strOut ? caps::raidInternal_buildRaidCapabilities(ctrl, strOut) : RAIDC_INPUT_NOT_INITIALIZED;
    if (!strOut)
        return lookupParam(ctrl, paramName, nullptr, 0, intOut);
    // The first child of that name answers, whatever its text holds.
    const char *value = textOf(firstChildNamed(ctrl, paramName));
    if (!value)
        return RAIDC_PARAM_NOT_FOUND;
    string_set_str(strOut, value);
    return RAIDC_SUCCESS_STRING;
}
