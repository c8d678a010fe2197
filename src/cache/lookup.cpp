// The controller parameter lookup and the pieces of it that every other
// query family reuses: output presets, the bounded copy, the letter test and
// the walk over an element's children.
#include "cache.h"

#include <cctype>
#include <cstdlib>

namespace raidc {

XMLNode *firstChildNamed(const XMLNode *parent, const char *name) noexcept
{
    return nthChildNamed(parent, name, 0);
}

XMLNode *nthChildNamed(const XMLNode *parent, const char *name, int ordinal) noexcept
{
    if (!parent || !name || ordinal < 0)
        return nullptr;
    int seen = 0;
    for (XMLNode *c = parent->firstChild; c; c = c->nextSibling) {
        if (isNamed(c, name) && seen++ == ordinal)
            return c;
    }
    return nullptr;
}

int countChildrenNamed(const XMLNode *parent, const char *name) noexcept
{
    int n = 0;
    if (parent && name) {
        for (XMLNode *c = parent->firstChild; c; c = c->nextSibling)
            n += isNamed(c, name);
    }
    return n;
}

int pickController(int ctrlIdx, XMLNode **ctrl) noexcept
{
    if (!cacheHasControllers())
        return RAIDC_CACHE_EMPTY;
    if (!ctrlInRange(ctrlIdx))
        return RAIDC_PARAM_NOT_FOUND;
    *ctrl = ctrlList->nodes[ctrlIdx];
    return *ctrl ? 0 : RAIDC_DEVICE_NOT_FOUND;
}

void presetOutputs(char *strBuf, int64_t *intOut) noexcept
{
    if (intOut)
        *intOut = -1;
    if (strBuf) {
        strBuf[0] = '-';
        strBuf[1] = '\0';
    }
}

int copyValue(char *strBuf, const char *value, unsigned int bufLen) noexcept
{
    strncpy(strBuf, value, bufLen);
    return strlen(value) > bufLen ? RAIDC_BUFFER_TOO_SMALL : RAIDC_SUCCESS_STRING;
}

bool numberOf(const char *text, int64_t *out) noexcept
{
    if (!text || raidInternal_checkIfContainsLetters(text))
        return false;
    *out = strtoll(text, nullptr, 0);
    return true;
}

int lookupParam(const XMLNode *elem, const char *paramName, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept
{
    if (!elem || !paramName)
        return RAIDC_PARAM_NOT_FOUND;
    for (XMLNode *c = elem->firstChild; c; c = c->nextSibling) {
        if (!isNamed(c, paramName))
            continue;
        const char *value = textOf(c);
        if (!value)
            return RAIDC_PARAM_NOT_FOUND;
        if (strBuf)
            return copyValue(strBuf, value, bufLen);
        if (intOut && numberOf(value, intOut))
            return RAIDC_SUCCESS_INT;
    }
    return RAIDC_PARAM_NOT_FOUND;
}

} // namespace raidc

using namespace raidc;

namespace {

int hostName(const XMLNode *ctrl, char *strBuf, unsigned int bufLen)
{
    if (!strBuf)
        return RAIDC_INPUT_NOT_INITIALIZED;
    const char *value = textOf(firstChildNamed(ctrl->parentNode, "Name"));
    if (!value)
        return RAIDC_PARAM_NOT_FOUND;
    strncpy(strBuf, value, bufLen);
    return RAIDC_SUCCESS_STRING;
}

// The highest "PortNumber" over the controller's drives.
int maxChannelInUse(int ctrlIdx, int64_t *intOut)
{
    if (!intOut)
        return RAIDC_INPUT_NOT_INITIALIZED;
    *intOut = -1;
    if (!pdCtrlList)
        return RAIDC_CACHE_EMPTY;
    const NodeList *pds = pdCtrlList[ctrlIdx];
    if (countOf(pds) <= 0)
        return RAIDC_PARAM_NOT_FOUND;
    int64_t max = -1, current = 0;
    for (int i = 0; i < pds->count; ++i) {
        if (!pds->nodes[i])
            continue;
        for (XMLNode *c = pds->nodes[i]->firstChild; c; c = c->nextSibling) {
            if (!isNamed(c, "PortNumber"))
                continue;
            if (const char *v = textOf(c))
                current = strtoll(v, nullptr, 0);
            if (current > max)
                max = current;
        }
    }
    *intOut = max;
    return RAIDC_SUCCESS_INT;
}

int chipTemperature(const XMLNode *ctrl, int64_t *intOut)
{
    if (!intOut)
        return RAIDC_INPUT_NOT_INITIALIZED;
    for (XMLNode *c = ctrl->firstChild; c; c = c->nextSibling) {
        if (!isNamed(c, "ChipTemperature"))
            continue;
        const char *v = textOf(c);
        if (!v)
            return RAIDC_PARAM_NOT_FOUND;
        if (numberOf(v, intOut))
            return *intOut == 0 ? RAIDC_PARAM_NOT_FOUND : RAIDC_SUCCESS_INT;
    }
    return RAIDC_PARAM_NOT_FOUND;
}

} // namespace

extern "C" int raidInternal_checkIfContainsLetters(const char *text) noexcept
{
    if (!text)
        return 1; // nothing to convert
    if (text[0] == '\0')
        return 0;
    for (const char *p = text + 1; *p; ++p) {
        if (isalpha(static_cast<unsigned char>(*p)) || *p == '-' || *p == '.')
            return 1;
    }
    return 0;
}

extern "C" int raidInternal_getCtrlInfo(const char *paramName, int ctrlIdx, char *strBuf, unsigned int bufLen,
                                        int64_t *intOut) noexcept
{
    if (!strBuf && !intOut)
        return RAIDC_INPUT_NOT_INITIALIZED;
    presetOutputs(strBuf, intOut);
    XMLNode *ctrl = nullptr;
    if (int st = pickController(ctrlIdx, &ctrl))
        return st;
    if (textIs(paramName, "HostName"))
        return hostName(ctrl, strBuf, bufLen);
    if (textIs(paramName, "Spec_MaxChannelInUse"))
        return maxChannelInUse(ctrlIdx, intOut);
    if (textIs(paramName, "RAIDCapabilities"))
        return RAIDC_PARAM_NOT_FOUND;
    if (textIs(paramName, "ChipTemperature"))
        return chipTemperature(ctrl, intOut);
    return lookupParam(ctrl, paramName, strBuf, bufLen, intOut);
}
