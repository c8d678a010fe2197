// Questions answered from the relation map alone: index lists, logical
// drive layouts, identifier and index conversions, and the debug dump.
#include "devmap.h"

#include "../../platform/unix/libunix.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

// The records of one kind that a controller record holds: a counter may run
// past the room, and only the smaller of the two is there.
template <typename Rec> struct Records {
    Rec *recs;
    int n;
};

int stored(int32_t cnt, int32_t room)
{
    return std::min(cnt, room);
}

Records<RaidCPdDev> pds(RaidCCtrlDev &c)
{
    return {c.pdList, stored(c.pdCnt, c.pdMax)};
}

Records<RaidCLdDev> lds(RaidCCtrlDev &c)
{
    return {c.ldList, stored(c.ldCnt, c.ldMax)};
}

Records<RaidCArrayDev> arrays(RaidCCtrlDev &c)
{
    return {c.arrayList, stored(c.arrayCnt, c.arrayMax)};
}

RaidCCtrlDev *ctrlRecord(int ctrlIdx)
{
    const RaidCDevMap &m = ctrlDevStructure;
    return m.ctrlList && ctrlIdx >= 0 && ctrlIdx < stored(m.ctrlCnt, m.ctrlNum) ? &m.ctrlList[ctrlIdx] : nullptr;
}

template <typename Rec> Rec *recordAt(RaidCCtrlDev *c, Records<Rec> (*kind)(RaidCCtrlDev &), int idx)
{
    if (!c)
        return nullptr;
    Records<Rec> r = kind(*c);
    return idx >= 0 && idx < r.n ? &r.recs[idx] : nullptr;
}

// A device record and the controller record that holds it.
template <typename Rec> struct Opened {
    RaidCCtrlDev *ctrl;
    Rec *rec;
};

// The index checks every list makes before it touches the caller's list;
// past them an earlier result is released, so a failure leaves null. A
// failed check gives a null rec.
template <typename Rec>
Opened<Rec> openList(int ctrlIdx, int devIdx, Records<Rec> (*kind)(RaidCCtrlDev &), RaidCIdxList **list)
{
    RaidCCtrlDev *c = list ? ctrlRecord(ctrlIdx) : nullptr;
    Rec *rec = recordAt(c, kind, devIdx);
    if (rec)
        RaidC_freeDeviceList(list);
    return {c, rec};
}

// Hands the caller a list of the indices that `matches` reports, counted
// first and then stored, in the order reported.
template <typename Matches> int makeList(RaidCIdxList **list, Matches matches)
{
    int n = 0;
    matches([&n](int) { ++n; });
    if (n == 0)
        return 1;
    auto *l = static_cast<RaidCIdxList *>(plat_malloc(sizeof(RaidCIdxList)));
    int *idx = l ? static_cast<int *>(plat_malloc(static_cast<size_t>(n) * sizeof(int))) : nullptr;
    if (!idx) {
        free(l);
        return 1;
    }
    int i = 0;
    matches([&](int k) { idx[i++] = k; });
    l->devCnt = n;
    l->devList = idx;
    *list = l;
    return 0;
}

// Indices of the records whose array number is `arrayId`.
template <typename Rec> int onArray(RaidCIdxList **list, Records<Rec> r, int32_t arrayId)
{
    if (arrayId == -1)
        return 1;
    return makeList(list, [&](auto emit) {
        for (int k = 0; k < r.n; ++k) {
            if (r.recs[k].arrayNumber == arrayId)
                emit(k);
        }
    });
}

template <typename Rec>
int idToIdx(int ctrlIdx, Records<Rec> (*kind)(RaidCCtrlDev &), int32_t Rec::*id, int in, int *out)
{
    RaidCCtrlDev *c = ctrlRecord(ctrlIdx);
    if (!c || !out)
        return 1;
    Records<Rec> r = kind(*c);
    for (int k = 0; k < r.n; ++k) {
        if (r.recs[k].*id == in) {
            *out = k;
            return 0;
        }
    }
    return 1;
}

template <typename Rec>
int idxToId(int ctrlIdx, Records<Rec> (*kind)(RaidCCtrlDev &), int32_t Rec::*id, int in, int *out, bool noIdFails)
{
    const Rec *rec = recordAt(ctrlRecord(ctrlIdx), kind, in);
    if (!rec || !out || (noIdFails && rec->*id == -1))
        return 1;
    *out = rec->*id;
    return 0;
}

__attribute__((format(printf, 2, 3))) void dumpLine(int lineNr, const char *fmt, ...)
{
    printf("Debug_lu - %s: %d ", "raidInternal_printDeviceStructure", lineNr);
    va_list ap;
    va_start(ap, fmt);
    vprintf(fmt, ap);
    va_end(ap);
}

void dumpLists(int lineNr, const char *name, int (*get)(int, int, RaidCIdxList **), int c, int count, RaidCIdxList **l)
{
    for (int k = 0; k < count; ++k) {
        if (get(c, k, l) != 0)
            continue;
        for (int i = 0; i < (*l)->devCnt; ++i)
            dumpLine(lineNr, "ctrlIdx %d %s %d pIdxList->devCnt %d pIdxList->devList[%d] %d  \n", c, name, k,
                     (*l)->devCnt, i, (*l)->devList[i]);
    }
}

} // namespace

namespace raidc::devmap {

int ldLayout(int ctrlIdx, int ldIdx, RaidCLdDev **layout) noexcept
{
    RaidCLdDev *ld = recordAt(ctrlRecord(ctrlIdx), lds, ldIdx);
    if (!ld || !layout)
        return 1;
    *layout = ld;
    return 0;
}

int pdIdToIdx(int ctrlIdx, int pdId, int *pdIdx) noexcept
{
    return idToIdx(ctrlIdx, pds, &RaidCPdDev::pdId, pdId, pdIdx);
}

int ldIdToIdx(int ctrlIdx, int ldId, int *ldIdx) noexcept
{
    return idToIdx(ctrlIdx, lds, &RaidCLdDev::ldId, ldId, ldIdx);
}

int arrayIdToIdx(int ctrlIdx, int arrayId, int *arrayIdx) noexcept
{
    return idToIdx(ctrlIdx, arrays, &RaidCArrayDev::arrayId, arrayId, arrayIdx);
}

int pdIdxToId(int ctrlIdx, int pdIdx, int *pdId) noexcept
{
    return idxToId(ctrlIdx, pds, &RaidCPdDev::pdId, pdIdx, pdId, false);
}

int ldIdxToId(int ctrlIdx, int ldIdx, int *ldId) noexcept
{
    return idxToId(ctrlIdx, lds, &RaidCLdDev::ldId, ldIdx, ldId, false);
}

int arrayIdxToId(int ctrlIdx, int arrayIdx, int *arrayId) noexcept
{
    return idxToId(ctrlIdx, arrays, &RaidCArrayDev::arrayId, arrayIdx, arrayId, true);
}

} // namespace raidc::devmap

extern "C" {

void RaidC_freeDeviceList(RaidCIdxList **list) noexcept
{
    if (!list || !*list)
        return;
    free((*list)->devList);
    free(*list);
    *list = nullptr;
}

// Reads the logical drives' containers.
int raidInternal_get_LdIdxList_from_PdIdx(int ctrlIdx, int pdIdx, RaidCIdxList **list) noexcept
{
    auto [c, pd] = openList(ctrlIdx, pdIdx, pds, list);
    if (!pd)
        return 1;
    Records<RaidCLdDev> r = lds(*c);
    // Copied out: clang 14 does not let a lambda capture a structured binding.
    const int32_t pdId = pd->pdId;
    return makeList(list, [&](auto emit) {
        for (int k = 0; k < r.n; ++k) {
            const RaidCLdDev &ld = r.recs[k];
            for (int j = 0; j < stored(ld.containerCnt, ld.containerMax); ++j) {
                const RaidCContainerDev &ct = ld.containerList[j];
                for (int q = 0; q < stored(ct.pdCnt, ct.pdMax); ++q) {
                    if (ct.pdIdList[q] == pdId)
                        emit(k);
                }
            }
        }
    });
}

// Reads the physical drives' own layout references.
int raidInternal_get_PdIdxList_from_LdIdx(int ctrlIdx, int ldIdx, RaidCIdxList **list) noexcept
{
    auto [c, ld] = openList(ctrlIdx, ldIdx, lds, list);
    if (!ld)
        return 1;
    Records<RaidCPdDev> r = pds(*c);
    const int32_t ldId = ld->ldId;
    return makeList(list, [&](auto emit) {
        for (int k = 0; k < r.n; ++k) {
            for (int m = 0; m < stored(r.recs[k].ldCnt, r.recs[k].ldMax); ++m) {
                if (r.recs[k].ldIdList[m] == ldId)
                    emit(k);
            }
        }
    });
}

int raidInternal_get_PdIdxList_from_ArrayIdx(int ctrlIdx, int arrayIdx, RaidCIdxList **list) noexcept
{
    auto [c, a] = openList(ctrlIdx, arrayIdx, arrays, list);
    return a ? onArray(list, pds(*c), a->arrayId) : 1;
}

int raidInternal_get_LdIdxList_from_ArrayIdx(int ctrlIdx, int arrayIdx, RaidCIdxList **list) noexcept
{
    auto [c, a] = openList(ctrlIdx, arrayIdx, arrays, list);
    return a ? onArray(list, lds(*c), a->arrayId) : 1;
}

void raidInternal_printDeviceStructure(RaidCDevMap *map) noexcept
{
    if (!map || !map->ctrlList)
        return;
    int ctrls = stored(map->ctrlCnt, map->ctrlNum);
    for (int c = 0; c < ctrls; ++c) {
        RaidCCtrlDev &cd = map->ctrlList[c];
        dumpLine(1789, "pdev->ctrlList[%d]->ctrlId %d  \n", c, cd.ctrlId);
        Records<RaidCPdDev> r = pds(cd);
        for (int k = 0; k < r.n; ++k) {
            dumpLine(1794, "pdev->ctrlList[%d].pdList[%d].pdId %d \n", c, k, r.recs[k].pdId);
            for (int m = 0; m < stored(r.recs[k].ldCnt, r.recs[k].ldMax); ++m)
                dumpLine(1798, "pdev->ctrlList[%d].pdList[%d].ldIdList[%d] %d  \n", c, k, m, r.recs[k].ldIdList[m]);
        }
    }
    for (int c = 0; c < ctrls; ++c) {
        RaidCCtrlDev &cd = map->ctrlList[c];
        dumpLine(1806, "pdev->ctrlList[%d].ctrlId %d\n", c, cd.ctrlId);
        Records<RaidCLdDev> r = lds(cd);
        for (int k = 0; k < r.n; ++k) {
            const RaidCLdDev &ld = r.recs[k];
            dumpLine(1811, " pdev->ctrlList[%d].ldList[%d].ldId %d\n", c, k, ld.ldId);
            for (int j = 0; j < stored(ld.containerCnt, ld.containerMax); ++j) {
                const RaidCContainerDev &ct = ld.containerList[j];
                dumpLine(1815, "pdev->ctrlList[%d].ldList[%d].containerList[%d].containerId %d\n", c, k, j,
                         ct.containerId);
                for (int q = 0; q < stored(ct.pdCnt, ct.pdMax); ++q)
                    dumpLine(1819, "pdev->ctrlList[%d].ldList[%d].containerList[%d].pdIdList[%d] %d \n", c, k, j, q,
                             ct.pdIdList[q]);
            }
        }
    }
    // One list variable serves every lookup; each call releases the last result.
    RaidCIdxList *l = nullptr;
    for (int c = 0; c < ctrls; ++c) {
        dumpLists(1833, "raidInternal_get_LdIdxList_from_PdIdx", raidInternal_get_LdIdxList_from_PdIdx, c,
                  pds(map->ctrlList[c]).n, &l);
        dumpLists(1843, "raidInternal_get_PdIdxList_from_LdIdx", raidInternal_get_PdIdxList_from_LdIdx, c,
                  lds(map->ctrlList[c]).n, &l);
    }
    RaidC_freeDeviceList(&l);
}

} // extern "C"
