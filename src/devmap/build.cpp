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
    return strtol32(v);
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

// An identifier list holds what will be stored in it: the references the
// element makes, up to the room its record states. The room itself stays
// as stated (the controller's counts), but a drive refers to a handful of
// logical drives, not to every one of them, and lists sized to the room
// alone would make the map of a large controller weigh as much as a good
// part of its tree. Readers read no further than counter and room allow,
// and filling stores no more. Lists are only read up to their counters: no
// need to clear.
bool allocIds(int32_t **ids, int32_t refs, int32_t room)
{
    int32_t n = std::min(refs, room);
    if (n > 0)
        *ids = static_cast<int32_t *>(plat_malloc(static_cast<size_t>(n) * sizeof(int32_t)));
    return n <= 0 || *ids;
}

// The children of `parent` that `pick` takes, and of its children named
// `name` (null: all of them) those that `pickBelow` takes.
template <typename P> int32_t countChildren(const XMLNode *parent, P &&pick)
{
    int32_t n = 0;
    for (const XMLNode *x = parent ? parent->firstChild : nullptr; x; x = x->nextSibling)
        n += pick(x) ? 1 : 0;
    return n;
}

template <typename P> int32_t countInLayouts(const XMLNode *elem, const char *name, P &&pick)
{
    int32_t n = 0;
    for (const XMLNode *layout = elem ? elem->firstChild : nullptr; layout; layout = layout->nextSibling) {
        if (!isNamed(layout, "Layout"))
            continue;
        for (const XMLNode *x = layout->firstChild; x; x = x->nextSibling) {
            if (!name)
                n += pick(x) ? 1 : 0;
            else if (isNamed(x, name))
                n += countChildren(x, pick);
        }
    }
    return n;
}

// Calls f(record number, element) for each element of the list named
// `name` that gets a record: the same pairing the fill makes.
template <typename F> void forEachRecord(const NodeList *elems, const char *name, int32_t room, F &&f)
{
    int32_t k = 0;
    for (int i = 0; i < countOf(elems); ++i) {
        const XMLNode *e = elems->nodes[i];
        if (e && isNamed(e, name) && k < room)
            if (!f(k++, e))
                return;
    }
}

// Each container of a logical drive gets room for every member reference of
// that logical drive: the drive references that are children of any child
// of its layouts; its list holds its own members.
bool allocContainers(RaidCLdDev *ld, const XMLNode *elem)
{
    int32_t containers = countInLayouts(elem, nullptr, [](const XMLNode *x) { return isNamed(x, "Container"); });
    int32_t members = 0;
    for (const XMLNode *layout = elem->firstChild; layout; layout = layout->nextSibling) {
        if (isNamed(layout, "Layout")) {
            for (const XMLNode *c = layout->firstChild; c; c = c->nextSibling)
                members += countChildren(c, isPdRef);
        }
    }
    ld->containerMax = containers;
    if (!allocRecords(&ld->containerList, containers))
        return false;
    int32_t j = 0;
    for (const XMLNode *layout = elem->firstChild; layout; layout = layout->nextSibling) {
        if (!isNamed(layout, "Layout"))
            continue;
        for (const XMLNode *c = layout->firstChild; c; c = c->nextSibling) {
            if (!isNamed(c, "Container"))
                continue;
            RaidCContainerDev &ct = ld->containerList[j++];
            ct.pdMax = members;
            if (!allocIds(&ct.pdIdList, countChildren(c, isPdRef), members))
                return false;
        }
    }
    return true;
}

bool allocCtrl(RaidCCtrlDev *cd, int c)
{
    const NodeList *pdl = ctrlSlot(pdCtrlList, c), *lds = ctrlSlot(ldCtrlList, c), *al = ctrlSlot(arrayCtrlList, c);
    int32_t pds = countOf(pdl), ldn = countOf(lds), arrays = countOf(al);
    cd->ctrlId = -1;
    cd->pdMax = pds;
    cd->ldMax = ldn;
    cd->arrayMax = arrays;
    if (!allocRecords(&cd->pdList, pds) || !allocRecords(&cd->ldList, ldn) || !allocRecords(&cd->arrayList, arrays))
        return false;
    for (int32_t k = 0; k < pds; ++k) {
        cd->pdList[k].arrayNumber = -1;
        cd->pdList[k].ldMax = ldn;
    }
    for (int32_t k = 0; k < ldn; ++k)
        cd->ldList[k].arrayNumber = -1;
    for (int32_t k = 0; k < arrays; ++k) {
        cd->arrayList[k].pdMax = pds;
        cd->arrayList[k].ldMax = ldn;
    }
    bool ok = true;
    forEachRecord(pdl, "PhysicalDrive", pds, [&](int32_t k, const XMLNode *e) {
        RaidCPdDev &pd = cd->pdList[k];
        return ok = allocIds(&pd.ldIdList, countInLayouts(e, nullptr, isLdRef), pd.ldMax);
    });
    forEachRecord(lds, "LogicalDrive", ldn,
                  [&](int32_t k, const XMLNode *e) { return ok = ok && allocContainers(&cd->ldList[k], e); });
    forEachRecord(al, "Array", arrays, [&](int32_t k, const XMLNode *e) {
        RaidCArrayDev &a = cd->arrayList[k];
        return ok = ok && allocIds(&a.pdIdList, countInLayouts(e, "Container", isPdRef), a.pdMax) &&
                    allocIds(&a.ldIdList, countInLayouts(e, nullptr, isLdRef), a.ldMax);
    });
    return ok;
}

void addPdRefs(const XMLNode *parent, int32_t *ids, int32_t *cnt, int32_t room)
{
    for (const XMLNode *m = parent->firstChild; m; m = m->nextSibling) {
        if (isPdRef(m))
            addId(ids, cnt, room, idOf(m));
    }
}

// Each record type reads its own element: identifier, layouts, array number.
void fill(RaidCPdDev *pd, const XMLNode *elem)
{
    pd->pdId = idOf(elem);
    pd->ldCnt = 0;
    pd->arrayNumber = -1;
    for (const XMLNode *x = elem->firstChild; x; x = x->nextSibling) {
        if (isNamed(x, "Layout")) {
            for (const XMLNode *r = x->firstChild; r; r = r->nextSibling) {
                if (isLdRef(r))
                    addId(pd->ldIdList, &pd->ldCnt, pd->ldMax, idOf(r));
            }
        } else if (isNamed(x, "ArrayNumber")) {
            takeArrayNumber(x, &pd->arrayNumber);
        }
    }
}

void fill(RaidCLdDev *ld, const XMLNode *elem)
{
    ld->ldId = idOf(elem);
    ld->containerCnt = 0;
    ld->arrayNumber = -1;
    for (const XMLNode *x = elem->firstChild; x; x = x->nextSibling) {
        if (isNamed(x, "Layout")) {
            for (const XMLNode *c = x->firstChild; c; c = c->nextSibling) {
                if (!isNamed(c, "Container"))
                    continue;
                int32_t j = ld->containerCnt++;
                if (j >= ld->containerMax)
                    continue;
                RaidCContainerDev &ct = ld->containerList[j];
                ct.containerId = idOf(c);
                ct.pdCnt = 0;
                addPdRefs(c, ct.pdIdList, &ct.pdCnt, ct.pdMax);
            }
        } else if (isNamed(x, "ArrayNumber")) {
            takeArrayNumber(x, &ld->arrayNumber);
        }
    }
}

void fill(RaidCArrayDev *a, const XMLNode *elem)
{
    a->arrayId = idOf(elem);
    a->pdCnt = a->ldCnt = 0;
    for (const XMLNode *x = elem->firstChild; x; x = x->nextSibling) {
        if (!isNamed(x, "Layout"))
            continue;
        for (const XMLNode *r = x->firstChild; r; r = r->nextSibling) {
            if (isLdRef(r))
                addId(a->ldIdList, &a->ldCnt, a->ldMax, idOf(r));
            else if (isNamed(r, "Container"))
                addPdRefs(r, a->pdIdList, &a->pdCnt, a->pdMax);
        }
    }
}

// Fills the next record for each element of the list named `name`; the
// counter counts every element, records past the room stay untouched.
template <typename Rec> void fillRecords(const NodeList *elems, const char *name, Rec *recs, int32_t *cnt, int32_t room)
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
        fillRecords(ctrlSlot(pdCtrlList, c), "PhysicalDrive", cd.pdList, &cd.pdCnt, cd.pdMax);
        fillRecords(ctrlSlot(ldCtrlList, c), "LogicalDrive", cd.ldList, &cd.ldCnt, cd.ldMax);
        fillRecords(ctrlSlot(arrayCtrlList, c), "Array", cd.arrayList, &cd.arrayCnt, cd.arrayMax);
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
