// Building and releasing the relation map. It holds numbers only (identifiers
// read from the tree, sizes taken from the per-controller lists), so nothing
// in it points into the cached tree and a re-read can drop the tree freely.
#include "devmap.h"

#include "../cache/cache.h"

#include "../../platform/unix/libunix.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

RaidCDevMap ctrlDevStructure = {0, 0, nullptr};

using namespace raidc;

namespace {

// An element's identifier: its first attribute, decimal; -1 without one.
int32_t idOf(const XMLNode *elem)
{
    const char *v = firstAttrValue(elem);
    if (!v)
        return -1;
    // Saturate like a 32-bit strtol, so that the same tree gives the same
    // identifiers on every target and a huge one never wraps to -1.
    return static_cast<int32_t>(std::clamp<long>(strtol(v, nullptr, 10), INT32_MIN, INT32_MAX));
}

bool isPdRef(const XMLNode *n)
{
    return isNamed(n, "PhysicalDrive") || isNamed(n, "PhysDrive");
}

bool isLdRef(const XMLNode *n)
{
    return isNamed(n, "LogicalDrive") || isNamed(n, "LogDrive");
}

// Counts every reference, stores it only while there is room.
void addId(int32_t *ids, int32_t *cnt, int32_t room, int32_t id)
{
    if (*cnt < room)
        ids[*cnt] = id;
    ++*cnt;
}

// An "ArrayNumber" child that holds a number sets the field.
void takeArrayNumber(const XMLNode *child, int32_t *field)
{
    int64_t v;
    if (numberOf(textOf(child), &v))
        *field = static_cast<int32_t>(v);
}

// Record blocks are zero-filled so that a half-built map can be released.
template <typename T> bool allocRecords(T **recs, int32_t n)
{
    if (n > 0)
        *recs = static_cast<T *>(plat_calloc(static_cast<size_t>(n), sizeof(T)));
    return n <= 0 || *recs;
}

// Identifier lists are only read up to their counters: no need to clear.
bool allocIds(int32_t **ids, int32_t room)
{
    if (room > 0)
        *ids = static_cast<int32_t *>(plat_malloc(static_cast<size_t>(room) * sizeof(int32_t)));
    return room <= 0 || *ids;
}

// Each container of a logical drive gets room for every member reference of
// that logical drive.
bool allocLd(RaidCLdDev *ld, const XMLNode *elem)
{
    int32_t containers = 0, members = 0;
    for (const XMLNode *lay = elem ? elem->firstChild : nullptr; lay; lay = lay->nextSibling) {
        if (!isNamed(lay, "Layout"))
            continue;
        for (const XMLNode *c = lay->firstChild; c; c = c->nextSibling) {
            containers += isNamed(c, "Container");
            for (const XMLNode *m = c->firstChild; m; m = m->nextSibling)
                members += isPdRef(m);
        }
    }
    ld->arrayNumber = -1;
    ld->containerMax = containers;
    if (!allocRecords(&ld->containerList, containers))
        return false;
    for (int32_t j = 0; j < containers; ++j) {
        ld->containerList[j].pdMax = members;
        if (!allocIds(&ld->containerList[j].pdIdList, members))
            return false;
    }
    return true;
}

bool allocCtrl(RaidCCtrlDev *cd, int c)
{
    const NodeList *lds = ctrlSlot(ldCtrlList, c);
    int32_t pds = countOf(ctrlSlot(pdCtrlList, c)), ldn = countOf(lds), arrays = countOf(ctrlSlot(arrayCtrlList, c));
    cd->ctrlId = -1;
    cd->pdMax = pds;
    cd->ldMax = ldn;
    cd->arrayMax = arrays;
    if (!allocRecords(&cd->pdList, pds) || !allocRecords(&cd->ldList, ldn) || !allocRecords(&cd->arrayList, arrays))
        return false;
    for (int32_t k = 0; k < pds; ++k) {
        RaidCPdDev &pd = cd->pdList[k];
        pd.arrayNumber = -1;
        pd.ldMax = ldn;
        if (!allocIds(&pd.ldIdList, ldn))
            return false;
    }
    for (int32_t k = 0; k < ldn; ++k) {
        if (!allocLd(&cd->ldList[k], entryOf(lds, k)))
            return false;
    }
    for (int32_t k = 0; k < arrays; ++k) {
        RaidCArrayDev &a = cd->arrayList[k];
        a.pdMax = pds;
        a.ldMax = ldn;
        if (!allocIds(&a.pdIdList, pds) || !allocIds(&a.ldIdList, ldn))
            return false;
    }
    return true;
}

void fillPd(RaidCPdDev *pd, const XMLNode *elem)
{
    pd->pdId = idOf(elem);
    pd->ldCnt = 0;
    pd->arrayNumber = -1;
    for (const XMLNode *ch = elem->firstChild; ch; ch = ch->nextSibling) {
        if (isNamed(ch, "Layout")) {
            for (const XMLNode *r = ch->firstChild; r; r = r->nextSibling) {
                if (isLdRef(r))
                    addId(pd->ldIdList, &pd->ldCnt, pd->ldMax, idOf(r));
            }
        } else if (isNamed(ch, "ArrayNumber")) {
            takeArrayNumber(ch, &pd->arrayNumber);
        }
    }
}

void fillLd(RaidCLdDev *ld, const XMLNode *elem)
{
    ld->ldId = idOf(elem);
    ld->containerCnt = 0;
    ld->arrayNumber = -1;
    for (const XMLNode *ch = elem->firstChild; ch; ch = ch->nextSibling) {
        if (isNamed(ch, "ArrayNumber")) {
            takeArrayNumber(ch, &ld->arrayNumber);
            continue;
        }
        if (!isNamed(ch, "Layout"))
            continue;
        for (const XMLNode *c = ch->firstChild; c; c = c->nextSibling) {
            if (!isNamed(c, "Container"))
                continue;
            int32_t j = ld->containerCnt++;
            if (j >= ld->containerMax)
                continue;
            RaidCContainerDev &ct = ld->containerList[j];
            ct.containerId = idOf(c);
            ct.pdCnt = 0;
            for (const XMLNode *m = c->firstChild; m; m = m->nextSibling) {
                if (isPdRef(m))
                    addId(ct.pdIdList, &ct.pdCnt, ct.pdMax, idOf(m));
            }
        }
    }
}

void fillArray(RaidCArrayDev *a, const XMLNode *elem)
{
    a->arrayId = idOf(elem);
    a->pdCnt = a->ldCnt = 0;
    for (const XMLNode *ch = elem->firstChild; ch; ch = ch->nextSibling) {
        if (!isNamed(ch, "Layout"))
            continue;
        for (const XMLNode *x = ch->firstChild; x; x = x->nextSibling) {
            if (isLdRef(x)) {
                addId(a->ldIdList, &a->ldCnt, a->ldMax, idOf(x));
            } else if (isNamed(x, "Container")) {
                for (const XMLNode *m = x->firstChild; m; m = m->nextSibling) {
                    if (isPdRef(m))
                        addId(a->pdIdList, &a->pdCnt, a->pdMax, idOf(m));
                }
            }
        }
    }
}

// Fills the next record for each element of the list named `name`; the
// counter counts every element, records past the room stay untouched.
template <typename Rec, typename Fill>
void fillRecords(const NodeList *elems, const char *name, Rec *recs, int32_t *cnt, int32_t room, Fill fill)
{
    *cnt = 0;
    for (int i = 0; i < countOf(elems); ++i) {
        const XMLNode *e = elems->nodes[i];
        if (!e || !isNamed(e, name))
            continue;
        int32_t k = (*cnt)++;
        if (k < room)
            fill(&recs[k], e);
    }
}

} // namespace

extern "C" {

int raidInternal_dynAllocDeviceMapStructure(RaidCDevMap *map) noexcept
{
    int n = countOf(ctrlList);
    if (!map || !ctrlList || n < 1 || map->ctrlList)
        return 0;
    map->ctrlNum = n;
    map->ctrlCnt = 0;
    bool ok = allocRecords(&map->ctrlList, n);
    for (int c = 0; ok && c < n; ++c)
        ok = allocCtrl(&map->ctrlList[c], c);
    // All or nothing: a map with holes would answer some queries wrongly.
    if (!ok)
        raidInternal_freeDeviceMapStructure(map);
    return 0;
}

int raidInternal_getDeviceStructure(RaidCDevMap *map) noexcept
{
    if (!map || !map->ctrlList)
        return 1;
    // Counters restart, so that filling the same allocation twice gives the
    // same map rather than counts past the room.
    map->ctrlCnt = 0;
    for (int c = 0; c < map->ctrlNum; ++c) {
        RaidCCtrlDev &cd = map->ctrlList[c];
        ++map->ctrlCnt;
        int64_t id = -1;
        raidInternal_getCtrlInfo("CtrlId", c, nullptr, 0, &id);
        cd.ctrlId = static_cast<int32_t>(id);
        fillRecords(ctrlSlot(pdCtrlList, c), "PhysicalDrive", cd.pdList, &cd.pdCnt, cd.pdMax, fillPd);
        fillRecords(ctrlSlot(ldCtrlList, c), "LogicalDrive", cd.ldList, &cd.ldCnt, cd.ldMax, fillLd);
        fillRecords(ctrlSlot(arrayCtrlList, c), "Array", cd.arrayList, &cd.arrayCnt, cd.arrayMax, fillArray);
    }
    return 0;
}

void raidInternal_freeDeviceMapStructure(RaidCDevMap *map) noexcept
{
    if (!map)
        return;
    for (int c = 0; map->ctrlList && c < map->ctrlNum; ++c) {
        RaidCCtrlDev &cd = map->ctrlList[c];
        for (int32_t k = 0; cd.pdList && k < cd.pdMax; ++k)
            free(cd.pdList[k].ldIdList);
        free(cd.pdList);
        cd.pdList = nullptr;
        for (int32_t k = 0; cd.ldList && k < cd.ldMax; ++k) {
            RaidCLdDev &ld = cd.ldList[k];
            for (int32_t j = 0; ld.containerList && j < ld.containerMax; ++j)
                free(ld.containerList[j].pdIdList);
            free(ld.containerList);
        }
        free(cd.ldList);
        cd.ldList = nullptr;
        for (int32_t k = 0; cd.arrayList && k < cd.arrayMax; ++k) {
            free(cd.arrayList[k].pdIdList);
            free(cd.arrayList[k].ldIdList);
        }
        free(cd.arrayList);
        cd.arrayList = nullptr;
    }
    free(map->ctrlList);
    map->ctrlList = nullptr;
    map->ctrlCnt = 0;
}

} // extern "C"
