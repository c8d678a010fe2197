// Building and releasing the relation map. It holds numbers only (identifiers
// read from the tree, sizes taken from the per-controller lists), so nothing
// in it points into the cached tree and a re-read can drop the tree freely.
#include "devmap.h"

#include "../cache/cache.h"

#include "../../platform/unix/libunix.h"
#include "../../platform/xml/xmlparser.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <functional>

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

// Sizing and filling run over the document's index of "Layout" and
// "ArrayNumber" elements rather than over every child of every device: a
// large tree is far bigger than the caches, and the children of thousands of
// drives would each be a trip to memory. Each indexed element goes to the
// record of its parent, found in a table sorted by element.
enum class Kind { Pd, Ld, Array };

// The elements come from arrays, so their addresses are known well before
// they are read: ask for them a few steps ahead, together with the bytes
// that follow them (a node's attributes and children are built right after
// it). A device with its attribute fits in 256 bytes, a layout mostly in 1 KiB.
constexpr int kAhead = 8;
constexpr size_t kDeviceBytes = 256, kLayoutBytes = 1024;

void prefetchNode(const XMLNode *n, size_t bytes)
{
    const auto addr = reinterpret_cast<uintptr_t>(n);
    for (size_t off = 0; off < bytes; off += 64)
        __builtin_prefetch(reinterpret_cast<const void *>(addr + off));
}

struct Owner {
    const XMLNode *elem;
    Kind kind;
    void *rec;
    int32_t members; // while sizing: member references of a logical drive
};

bool byElem(const Owner &a, const Owner &b)
{
    return std::less<const XMLNode *>()(a.elem, b.elem);
}

// Hands every indexed element named `name` whose parent owns records to f,
// in document order. A pipeline of three stages, kAhead elements apart: an
// element is asked for; once it is at hand its owners are looked up and,
// only when it has one, the bytes that f will read are asked for; then it
// goes to f. Elements without an owner then cost one line each.
template <typename F> void forEachOwned(Owner *owners, size_t n, const char *name, size_t bytes, F &&f)
{
    int count = 0;
    XMLNode *const *all = elementsByLocalName(owners[0].elem, name, &count);
    std::pair<Owner *, Owner *> found[kAhead];
    for (int i = -2 * kAhead; i < count; ++i) {
        // Element i leaves its slot before element i + kAhead takes it.
        if (i >= 0) {
            for (auto [o, end] = found[i % kAhead]; o != end; ++o)
                f(*o, all[i]);
        }
        if (int k = i + kAhead; k >= 0 && k < count) {
            Owner key{all[k]->parentNode, Kind::Pd, nullptr, 0};
            found[k % kAhead] = std::equal_range(owners, owners + n, key, byElem);
            if (found[k % kAhead].first != found[k % kAhead].second)
                prefetchNode(all[k], bytes);
        }
        if (int k = i + 2 * kAhead; k < count)
            prefetchNode(all[k], sizeof(XMLNode));
    }
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
void sizeLayout(Owner &o, const XMLNode *layout)
{
    auto *ld = static_cast<RaidCLdDev *>(o.rec);
    for (const XMLNode *c = layout->firstChild; c; c = c->nextSibling) {
        ld->containerMax += isNamed(c, "Container");
        for (const XMLNode *m = c->firstChild; m; m = m->nextSibling)
            o.members += isPdRef(m);
    }
}

bool allocContainers(RaidCDevMap *map)
{
    size_t room = 0;
    for (int c = 0; c < map->ctrlNum; ++c)
        room += static_cast<size_t>(std::max(map->ctrlList[c].ldMax, 0));
    auto *owners = room ? static_cast<Owner *>(plat_malloc(room * sizeof(Owner))) : nullptr;
    if (room && !owners)
        return false;
    size_t n = 0;
    for (int c = 0; c < map->ctrlNum; ++c) {
        const NodeList *lds = ctrlSlot(ldCtrlList, c);
        for (int32_t k = 0; k < map->ctrlList[c].ldMax; ++k) {
            if (const XMLNode *e = entryOf(lds, k))
                owners[n++] = Owner{e, Kind::Ld, &map->ctrlList[c].ldList[k], 0};
        }
    }
    std::sort(owners, owners + n, byElem);
    if (n > 0)
        forEachOwned(owners, n, "Layout", kLayoutBytes, sizeLayout);
    bool ok = true;
    for (size_t i = 0; ok && i < n; ++i) {
        auto *ld = static_cast<RaidCLdDev *>(owners[i].rec);
        ok = allocRecords(&ld->containerList, ld->containerMax);
        for (int32_t j = 0; ok && j < ld->containerMax; ++j) {
            ld->containerList[j].pdMax = owners[i].members;
            ok = allocIds(&ld->containerList[j].pdIdList, owners[i].members);
        }
    }
    free(owners);
    return ok;
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
    for (int32_t k = 0; k < ldn; ++k)
        cd->ldList[k].arrayNumber = -1;
    for (int32_t k = 0; k < arrays; ++k) {
        RaidCArrayDev &a = cd->arrayList[k];
        a.pdMax = pds;
        a.ldMax = ldn;
        if (!allocIds(&a.pdIdList, pds) || !allocIds(&a.ldIdList, ldn))
            return false;
    }
    return true;
}

// A record's own fields, with its counters restarted.
void start(RaidCPdDev *pd, const XMLNode *elem)
{
    pd->pdId = idOf(elem);
    pd->ldCnt = 0;
    pd->arrayNumber = -1;
}

void start(RaidCLdDev *ld, const XMLNode *elem)
{
    ld->ldId = idOf(elem);
    ld->containerCnt = 0;
    ld->arrayNumber = -1;
}

void start(RaidCArrayDev *a, const XMLNode *elem)
{
    a->arrayId = idOf(elem);
    a->pdCnt = a->ldCnt = 0;
}

void addContainer(RaidCLdDev *ld, const XMLNode *c)
{
    int32_t j = ld->containerCnt++;
    if (j >= ld->containerMax)
        return;
    RaidCContainerDev &ct = ld->containerList[j];
    ct.containerId = idOf(c);
    ct.pdCnt = 0;
    for (const XMLNode *m = c->firstChild; m; m = m->nextSibling) {
        if (isPdRef(m))
            addId(ct.pdIdList, &ct.pdCnt, ct.pdMax, idOf(m));
    }
}

// One "Layout" child of a record's element, taken in document order.
void takeLayout(Owner &o, const XMLNode *layout)
{
    for (const XMLNode *x = layout->firstChild; x; x = x->nextSibling) {
        switch (o.kind) {
        case Kind::Pd: {
            auto *pd = static_cast<RaidCPdDev *>(o.rec);
            if (isLdRef(x))
                addId(pd->ldIdList, &pd->ldCnt, pd->ldMax, idOf(x));
            break;
        }
        case Kind::Ld:
            if (isNamed(x, "Container"))
                addContainer(static_cast<RaidCLdDev *>(o.rec), x);
            break;
        case Kind::Array: {
            auto *a = static_cast<RaidCArrayDev *>(o.rec);
            if (isLdRef(x)) {
                addId(a->ldIdList, &a->ldCnt, a->ldMax, idOf(x));
            } else if (isNamed(x, "Container")) {
                for (const XMLNode *m = x->firstChild; m; m = m->nextSibling) {
                    if (isPdRef(m))
                        addId(a->pdIdList, &a->pdCnt, a->pdMax, idOf(m));
                }
            }
            break;
        }
        }
    }
}

// One "ArrayNumber" child; arrays have no such field.
void takeArrayNumberOf(Owner &o, const XMLNode *n)
{
    if (o.kind == Kind::Pd)
        takeArrayNumber(n, &static_cast<RaidCPdDev *>(o.rec)->arrayNumber);
    else if (o.kind == Kind::Ld)
        takeArrayNumber(n, &static_cast<RaidCLdDev *>(o.rec)->arrayNumber);
}

// Starts the next record for each element of the list named `name` and
// notes its owner; the counter counts every element, records past the room
// stay untouched.
template <typename Rec>
void startRecords(const NodeList *elems, const char *name, Rec *recs, int32_t *cnt, int32_t room, Kind kind,
                  Owner *owners, size_t *n)
{
    *cnt = 0;
    for (int i = 0; i < countOf(elems); ++i) {
        if (i + kAhead < countOf(elems))
            prefetchNode(elems->nodes[i + kAhead], kDeviceBytes);
        const XMLNode *e = elems->nodes[i];
        if (!e || !isNamed(e, name))
            continue;
        int32_t k = (*cnt)++;
        if (k >= room)
            continue;
        owners[(*n)++] = Owner{e, kind, &recs[k], 0};
        start(&recs[k], e);
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
    ok = ok && allocContainers(map);
    // All or nothing: a map with holes would answer some queries wrongly.
    if (!ok)
        raidInternal_freeDeviceMapStructure(map);
    return 0;
}

int raidInternal_getDeviceStructure(RaidCDevMap *map) noexcept
{
    if (!map || !map->ctrlList)
        return 1;
    size_t room = 0;
    for (int c = 0; c < map->ctrlNum; ++c) {
        const RaidCCtrlDev &cd = map->ctrlList[c];
        room += static_cast<size_t>(std::max(cd.pdMax, 0)) + static_cast<size_t>(std::max(cd.ldMax, 0)) +
                static_cast<size_t>(std::max(cd.arrayMax, 0));
    }
    auto *owners = static_cast<Owner *>(plat_malloc(std::max<size_t>(room, 1) * sizeof(Owner)));
    if (!owners) {
        // All or nothing, as for the allocation.
        raidInternal_freeDeviceMapStructure(map);
        return 1;
    }
    // Counters restart, so that filling the same allocation twice gives the
    // same map rather than counts past the room.
    size_t n = 0;
    map->ctrlCnt = 0;
    for (int c = 0; c < map->ctrlNum; ++c) {
        RaidCCtrlDev &cd = map->ctrlList[c];
        ++map->ctrlCnt;
        int64_t id = -1;
        raidInternal_getCtrlInfo("CtrlId", c, nullptr, 0, &id);
        cd.ctrlId = static_cast<int32_t>(id);
        startRecords(ctrlSlot(pdCtrlList, c), "PhysicalDrive", cd.pdList, &cd.pdCnt, cd.pdMax, Kind::Pd, owners, &n);
        startRecords(ctrlSlot(ldCtrlList, c), "LogicalDrive", cd.ldList, &cd.ldCnt, cd.ldMax, Kind::Ld, owners, &n);
        startRecords(ctrlSlot(arrayCtrlList, c), "Array", cd.arrayList, &cd.arrayCnt, cd.arrayMax, Kind::Array,
                     owners, &n);
    }
    if (n > 0) {
        std::sort(owners, owners + n, byElem);
        forEachOwned(owners, n, "Layout", kLayoutBytes, takeLayout);
        forEachOwned(owners, n, "ArrayNumber", kDeviceBytes, takeArrayNumberOf);
    }
    free(owners);
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
