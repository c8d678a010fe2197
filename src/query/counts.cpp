// Counts of devices and of devices in a given state, the two controller
// predicates and the controller family flags.
#include "readtext.h"

using namespace raidc;
using namespace raidc::query;

namespace {

// The cache checks of every count: a tree with controllers and the lists of
// the kind being counted.
bool listsPresent(NodeList **lists) noexcept
{
    return cacheHasControllers() && lists;
}

// Number of devices over all controllers; `out` untouched on 5.
int totalOf(NodeList **lists, int64_t *out) noexcept
{
    if (!out)
        return RAIDC_INPUT_NOT_INITIALIZED;
    if (!listsPresent(lists))
        return RAIDC_CACHE_EMPTY;
    int64_t n = 0;
    for (int c = 0; c < countOf(ctrlList); ++c)
        n += countOf(lists[c]);
    *out = n;
    return RAIDC_SUCCESS_INT;
}

// Cache and controller checks (5, then 4) before a per-controller count.
int checkCtrl(NodeList **lists, int ctrlIdx) noexcept
{
    if (!listsPresent(lists))
        return RAIDC_CACHE_EMPTY;
    return ctrlInRange(ctrlIdx) ? 0 : RAIDC_PARAM_NOT_FOUND;
}

// Number of one controller's devices; `out` untouched on 4 and 5.
int countFor(NodeList **lists, int ctrlIdx, int64_t *out) noexcept
{
    if (!out)
        return RAIDC_INPUT_NOT_INITIALIZED;
    if (int st = checkCtrl(lists, ctrlIdx))
        return st;
    *out = countOf(lists[ctrlIdx]);
    return RAIDC_SUCCESS_INT;
}

// The enclosure at `encIdx` of a controller for the component counts: 0 with
// *enc set (null when the position names no enclosure), else the status.
int pickEnclosure(int ctrlIdx, int encIdx, int64_t *out, const XMLNode **enc) noexcept
{
    if (!out)
        return RAIDC_INPUT_NOT_INITIALIZED;
    *out = 0;
    if (int st = checkCtrl(encCtrlList, ctrlIdx))
        return st;
    *enc = entryOf(encCtrlList[ctrlIdx], encIdx);
    return 0;
}

// Walks one controller's drives (physical or logical) reading one text each;
// `visit` sees every text that reads as 2. With `stopOnUnreadable` the first
// drive whose text does not read ends the walk with 4, keeping the counts
// reached so far.
template <typename Visit>
int walkDriveTexts(NodeList **lists, DriveQuery query, const char *param, int ctrlIdx, bool stopOnUnreadable,
                   Visit &&visit) noexcept
{
    if (int st = checkCtrl(lists, ctrlIdx))
        return st;
    for (int d = 0; d < countOf(lists[ctrlIdx]); ++d) {
        Text128 t = driveText(query, param, ctrlIdx, d);
        if (t.status == RAIDC_SUCCESS_STRING)
            visit(t);
        else if (stopOnUnreadable)
            return RAIDC_PARAM_NOT_FOUND;
    }
    return RAIDC_SUCCESS_INT;
}

// Adds the controller's drives whose "Type" text is exactly "NVMe" to *out.
int addNvme(int ctrlIdx, int64_t *out) noexcept
{
    return walkDriveTexts(pdCtrlList, raidInternal_getPDInfo, "Type", ctrlIdx, false,
                          [&](const Text128 &t) { *out += t.is("NVMe"); });
}

} // namespace

extern "C" {

int raidinternal_getEnclNumberForCtrl(int ctrlIdx, int64_t *intOut) noexcept
{
    return countFor(encCtrlList, ctrlIdx, intOut);
}

int raidInternal_getPdsNumberForCtrl(int ctrlIdx, int64_t *intOut) noexcept
{
    return countFor(pdCtrlList, ctrlIdx, intOut);
}

int raidInternal_getArraysNumberForCtrl(int ctrlIdx, int64_t *intOut) noexcept
{
    return countFor(arrayCtrlList, ctrlIdx, intOut);
}

int raidInternal_getPortsNumberForCtrl(int ctrlIdx, int64_t *intOut) noexcept
{
    return countFor(portCtrlList, ctrlIdx, intOut);
}

int raidinternal_getProcNumberForEncl(int ctrlIdx, int encIdx, int64_t *intOut) noexcept
{
    const XMLNode *enc = nullptr;
    if (int st = pickEnclosure(ctrlIdx, encIdx, intOut, &enc))
        return st;
    *intOut = countChildrenNamed(enc, "Processor");
    return RAIDC_SUCCESS_INT;
}

int raidinternal_getTempNumberForProc(int ctrlIdx, int encIdx, int procIdx, int64_t *intOut) noexcept
{
    const XMLNode *enc = nullptr;
    if (int st = pickEnclosure(ctrlIdx, encIdx, intOut, &enc))
        return st;
    *intOut = countChildrenNamed(nthChildNamed(enc, "Processor", procIdx), "TemperatureSensor");
    return RAIDC_SUCCESS_INT;
}

int raidInternal_getEncryptedPdsNumberForCtrl(int ctrlIdx, int64_t *intOut) noexcept
{
    if (!intOut)
        return RAIDC_INPUT_NOT_INITIALIZED;
    *intOut = 0;
    return walkDriveTexts(pdCtrlList, raidInternal_getPDInfo, "Secured", ctrlIdx, false,
                          [&](const Text128 &t) { *intOut += t.is("true"); });
}

int raidInternal_getFailedPdsNumberForCtrl(int ctrlIdx, int64_t *failedOut, int64_t *smartOut) noexcept
{
    if (!failedOut || !smartOut)
        return RAIDC_INPUT_NOT_INITIALIZED;
    *failedOut = *smartOut = 0;
    return walkDriveTexts(pdCtrlList, raidInternal_getPDInfo, "Status", ctrlIdx, true, [&](const Text128 &t) {
        *failedOut += t.has("Failed");
        *smartOut += t.has("SMART Error") || t.has("smart");
    });
}

int raidInternal_getDegradedLdsNumberForCtrl(int ctrlIdx, int64_t *intOut) noexcept
{
    if (!intOut)
        return RAIDC_INPUT_NOT_INITIALIZED;
    *intOut = 0;
    return walkDriveTexts(ldCtrlList, raidInternal_getLDInfo, "Status", ctrlIdx, true,
                          [&](const Text128 &t) { *intOut += t.has("egraded"); });
}

} // extern "C"

namespace raidc::query {

int ctrlsNumber(int64_t *intOut) noexcept
{
    if (!intOut)
        return RAIDC_INPUT_NOT_INITIALIZED;
    if (!cacheHasControllers())
        return RAIDC_CACHE_EMPTY;
    *intOut = countOf(ctrlList);
    return RAIDC_SUCCESS_INT;
}

int ldsTotal(int64_t *intOut) noexcept
{
    return totalOf(ldCtrlList, intOut);
}

int ldsForCtrl(int ctrlIdx, int64_t *intOut) noexcept
{
    return countFor(ldCtrlList, ctrlIdx, intOut);
}

int encTotal(int64_t *intOut) noexcept
{
    return totalOf(encCtrlList, intOut);
}

int pdsTotal(int64_t *intOut) noexcept
{
    if (intOut)
        *intOut = 0;
    return totalOf(pdCtrlList, intOut);
}

int nvmeTotal(int64_t *intOut) noexcept
{
    if (!intOut)
        return RAIDC_INPUT_NOT_INITIALIZED;
    *intOut = 0;
    if (!listsPresent(pdCtrlList))
        return RAIDC_CACHE_EMPTY;
    for (int c = 0; c < countOf(ctrlList); ++c)
        addNvme(c, intOut);
    return RAIDC_SUCCESS_INT;
}

int nvmeForCtrl(int ctrlIdx, int64_t *intOut) noexcept
{
    if (!intOut)
        return RAIDC_INPUT_NOT_INITIALIZED;
    *intOut = 0;
    return addNvme(ctrlIdx, intOut);
}

int ctrlHasBBU(int ctrlIdx) noexcept
{
    if (!cacheHasControllers())
        return RAIDC_CACHE_EMPTY;
    return firstChildNamed(entryOf(ctrlList, ctrlIdx), "Battery") != nullptr;
}

int ctrlCanBeConfigured(int ctrlIdx) noexcept
{
    return cacheHasControllers() && firstChildNamed(entryOf(ctrlList, ctrlIdx), "RAIDCapabilities") != nullptr;
}

int cacheStatus() noexcept
{
    if (!cacheHasControllers())
        return 0;
    int flags = RAIDC_CACHE_PRESENT;
    for (int c = 0; c < countOf(ctrlList); ++c) {
        const XMLNode *ctrl = ctrlList->nodes[c];
        for (const XMLNode *p = ctrl ? ctrl->firstChild : nullptr; p; p = p->nextSibling) {
            const char *v = textOf(p);
            if (!v)
                continue;
            if (isNamed(p, "Source")) {
                flags |= strcmp(v, "IB") == 0 ? RAIDC_CACHE_SOURCE_IB : 0;
            } else if (isNamed(p, "ControllerFamily")) {
                flags |= strcmp(v, "MR") == 0 ? RAIDC_CACHE_FAMILY_MR : 0;
                flags |= strstr(v, "PCIeSSD") ? RAIDC_CACHE_FAMILY_PCIESSD : 0;
                flags |= strcmp(v, "MSCC") == 0 ? RAIDC_CACHE_FAMILY_MSCC : 0;
            }
        }
    }
    return flags;
}

} // namespace raidc::query
