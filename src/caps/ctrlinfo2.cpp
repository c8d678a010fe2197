// Controller parameters into a growable string: no truncation, and the
// capabilities list as JSON.
#include "caps.h"

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
    XMLNode *ctrl = nullptr;
    if (int st = pickController(ctrlIdx, &ctrl))
        return st;
    // Served by the fixed-buffer lookup only.
    if (!paramName || textIs(paramName, "HostName") || textIs(paramName, "Spec_MaxChannelInUse"))
        return RAIDC_PARAM_NOT_FOUND;
    if (textIs(paramName, "RAIDCapabilities"))
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
