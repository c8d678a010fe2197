// The per-controller state: the controller list, the five per-controller
// arrays and the relation map, rebuilt from the System element after a parse.
#include "cache.h"

#include "../../platform/unix/libunix.h"

#include <cstdlib>

NodeList *ctrlList = nullptr;
NodeList **pdCtrlList = nullptr;
NodeList **ldCtrlList = nullptr;
NodeList **encCtrlList = nullptr;
NodeList **arrayCtrlList = nullptr;
NodeList **portCtrlList = nullptr;

namespace {

// The five per-controller arrays, in the order they are built and released.
NodeList ***const kPerCtrl[] = {&pdCtrlList, &ldCtrlList, &encCtrlList, &arrayCtrlList, &portCtrlList};

void releaseArrays(int count)
{
    for (NodeList ***arr : kPerCtrl) {
        if (*arr) {
            for (int i = 0; i < count; ++i)
                free((*arr)[i]);
            free(*arr);
        }
        *arr = nullptr;
    }
}

// One slot of each array per controller; false when any array is missing.
bool allocateArrays(int n)
{
    size_t slots = n > 0 ? static_cast<size_t>(n) : 1;
    bool ok = true;
    for (NodeList ***arr : kPerCtrl) {
        *arr = static_cast<NodeList **>(plat_calloc(slots, sizeof(NodeList *)));
        ok = ok && *arr;
    }
    return ok;
}

// Fills every controller's five lists; false when any of them is missing.
bool fillArrays(int n)
{
    bool ok = true;
    for (int i = 0; i < n; ++i) {
        pdCtrlList[i] = raidInternal_getPdList(ctrlList, i);
        ldCtrlList[i] = raidInternal_getLdList(ctrlList, i);
        encCtrlList[i] = raidInternal_getEncList(ctrlList, i);
        arrayCtrlList[i] = raidInternal_getArrayList(ctrlList, i);
        portCtrlList[i] = raidInternal_getPortList(ctrlList, i);
        ok = ok && pdCtrlList[i] && ldCtrlList[i] && encCtrlList[i] && arrayCtrlList[i] && portCtrlList[i];
    }
    return ok;
}

} // namespace

void raidc::releaseControllerState() noexcept
{
    releaseArrays(countOf(ctrlList));
    free(ctrlList);
    ctrlList = nullptr;
    raidInternal_freeDeviceMapStructure(&ctrlDevStructure);
}

raidc::Rebuild raidc::rebuildControllerState() noexcept
{
    releaseControllerState();
    ctrlList = systemNode ? raidInternal_getCtrlList(systemNode) : nullptr;
    if (!ctrlList)
        return Rebuild::NoControllers;
    if (!allocateArrays(ctrlList->count)) {
        releaseControllerState();
        return Rebuild::NoControllers;
    }
    if (!fillArrays(ctrlList->count)) {
        releaseControllerState();
        return Rebuild::ListMissing;
    }
    // The map's own failures leave it empty; the lists still answer.
    raidInternal_dynAllocDeviceMapStructure(&ctrlDevStructure);
    raidInternal_getDeviceStructure(&ctrlDevStructure);
    return Rebuild::Done;
}
