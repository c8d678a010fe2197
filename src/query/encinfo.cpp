// The enclosure record tree: sized to one enclosure, its processors and each
// processor's fans, power supplies and temperature sensors. Everything is
// zero-filled so that a partly built tree can always be released, and a
// failed allocation releases what was built and gives null.
#include "query.h"

#include "../../platform/unix/libunix.h"

#include <cstdlib>

using namespace raidc;

namespace {

// The array of `name` components of one processor; none means a null array.
template <typename Rec> bool allocComponents(const XMLNode *proc, const char *name, int32_t *count, Rec **recs)
{
    const int n = countChildrenNamed(proc, name);
    *count = n;
    if (n == 0)
        return true;
    *recs = static_cast<Rec *>(plat_calloc(static_cast<size_t>(n), sizeof(Rec)));
    return *recs != nullptr;
}

bool allocProcessor(const XMLNode *elem, RaidCEncProcInfo *proc)
{
    return allocComponents(elem, "Fan", &proc->FanCount, &proc->Fans) &&
           allocComponents(elem, "PowerSupply", &proc->PowerSupplyCount, &proc->PowerSupplies) &&
           allocComponents(elem, "TemperatureSensor", &proc->TempSensorCount, &proc->TempSensors);
}

} // namespace

namespace raidc::query {

RaidCEncInfo *encInfoStructure(int ctrlIdx, int encIdx) noexcept
{
    const XMLNode *enc = entryOf(ctrlSlot(encCtrlList, ctrlIdx), encIdx);
    if (!enc)
        return nullptr;
    auto *info = static_cast<RaidCEncInfo *>(plat_calloc(1, sizeof(RaidCEncInfo)));
    if (!info)
        return nullptr;
    const int procs = countChildrenNamed(enc, "Processor");
    // Without processors the tree still carries one all-zero placeholder.
    info->Processors = static_cast<RaidCEncProcInfo *>(
        plat_calloc(static_cast<size_t>(procs > 0 ? procs : 1), sizeof(RaidCEncProcInfo)));
    if (!info->Processors) {
        free(info);
        return nullptr;
    }
    info->ProcessorCount = procs;
    RaidCEncProcInfo *proc = info->Processors;
    for (const XMLNode *c = enc->firstChild; c && procs > 0; c = c->nextSibling) {
        if (!isNamed(c, "Processor"))
            continue;
        if (!allocProcessor(c, proc++)) {
            freeEncInfoStructure(info);
            return nullptr;
        }
    }
    return info;
}

void freeEncInfoStructure(RaidCEncInfo *info) noexcept
{
    if (!info)
        return;
    for (int32_t i = 0; info->Processors && i < info->ProcessorCount; ++i) {
        RaidCEncProcInfo &proc = info->Processors[i];
        free(proc.TempSensors);
        free(proc.PowerSupplies);
        free(proc.Fans);
    }
    free(info->Processors);
    free(info);
}

} // namespace raidc::query
