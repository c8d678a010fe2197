// Component queries, counts, maximum temperatures, the enclosure record tree
// and the fixed-layout records. The exported raidInternal_ workers are
// declared in the public header; these are the bodies of the public
// functions that lock and work inline.
#pragma once

#include "../cache/cache.h"

namespace raidc::query {

// The checks every device query makes before its lookup, in their order:
// cache present (5), controller index (4), the device entry (7, or
// `pastEndStatus` for an index outside the list), a controller element with
// at least one attribute (4). 0 with *elem set when all pass.
inline int pickDevice(NodeList **lists, int ctrlIdx, int devIdx, int pastEndStatus, XMLNode **elem) noexcept
{
    if (!cacheHasControllers() || !lists)
        return RAIDC_CACHE_EMPTY;
    if (!ctrlInRange(ctrlIdx))
        return RAIDC_PARAM_NOT_FOUND;
    NodeList *l = lists[ctrlIdx];
    if (devIdx < 0 || devIdx >= countOf(l))
        return pastEndStatus;
    if (!l->nodes[devIdx])
        return RAIDC_DEVICE_NOT_FOUND;
    XMLNode *ctrl = ctrlList->nodes[ctrlIdx];
    if (!ctrl || !ctrl->attributes)
        return RAIDC_PARAM_NOT_FOUND;
    *elem = l->nodes[devIdx];
    return 0;
}

int getPDInfoSnmpExt(const char *paramName, int ctrlIdx, int pdNumber, unsigned int portNumber,
                     unsigned int deviceNumber, char *strBuf, unsigned int bufLen, int64_t *intOut) noexcept;
int highestPdNum(int ctrlIdx, int64_t *intOut) noexcept;
int statusInfo(const char *paramName, char *strBuf, unsigned int bufLen) noexcept;

int ctrlsNumber(int64_t *intOut) noexcept;
int ldsTotal(int64_t *intOut) noexcept;
int ldsForCtrl(int ctrlIdx, int64_t *intOut) noexcept;
int encTotal(int64_t *intOut) noexcept;
int pdsTotal(int64_t *intOut) noexcept;
int nvmeTotal(int64_t *intOut) noexcept;
int nvmeForCtrl(int ctrlIdx, int64_t *intOut) noexcept;
int ctrlHasBBU(int ctrlIdx) noexcept;
int ctrlCanBeConfigured(int ctrlIdx) noexcept;
int cacheStatus() noexcept;

int ctrlMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept;
int pdMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept;
int hddMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept;
int ssdMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept;
int nvmeMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept;
int bbuMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept;
int procMaxTemperature(int ctrlIdx, int64_t *maxOut) noexcept;

RaidCEncInfo *encInfoStructure(int ctrlIdx, int encIdx) noexcept;
void freeEncInfoStructure(RaidCEncInfo *info) noexcept;

int32_t loadCtrlInfo(int ctrlIdx, RaidCCtrlInfo *info) noexcept;
int32_t loadPdInfo(int ctrlIdx, int devIdx, RaidCPdInfo *info) noexcept;
int32_t loadLdInfo(int ctrlIdx, int devIdx, RaidCLdInfo *info) noexcept;
int32_t loadEncInfo(int ctrlIdx, int encIdx, RaidCEncInfo *info) noexcept;
int32_t loadBbuInfo(int ctrlIdx, RaidCBbuInfo *info) noexcept;

} // namespace raidc::query
