// pd, ld, map, relations
#include "cli.h"

#include <cstdio>

using namespace cli;

namespace {

using DriveQuery = int (*)(const char *, int, int, char *, unsigned int, int64_t *) noexcept;

int driveParam(const Args &a, DriveQuery query)
{
    int ctrl = 0, dev = 0;
    if (a.pos.size() != 3)
        return usageError(a, "expected a parameter name, a controller index and a drive index");
    if (!toInt(a.pos[1], &ctrl) || !toInt(a.pos[2], &dev))
        return usageError(a, "controller and drive indices must be numbers");
    if (!loadCache())
        return EXIT_FAIL;
    if (int rc = findController(ctrl))
        return rc;
    char buf[4096];
    int64_t value = -1;
    const char *p = a.pos[0].c_str();
    int st = a.asInt ? query(p, ctrl, dev, nullptr, 0, &value) : query(p, ctrl, dev, buf, sizeof buf - 1, nullptr);
    buf[sizeof buf - 1] = '\0';
    return printAnswer(a, p, st, buf, value);
}

int pd(const Args &a)
{
    return driveParam(a, RaidC_getPDInfo);
}

int ld(const Args &a)
{
    return driveParam(a, RaidC_getLDInfo);
}

int map(const Args &a)
{
    if (!a.pos.empty())
        return usageError(a, "map takes no arguments");
    if (!loadCache())
        return EXIT_FAIL;
    pthread_mutex_lock(&RaidC_ThreadMutex);
    raidInternal_printDeviceStructure(&ctrlDevStructure);
    pthread_mutex_unlock(&RaidC_ThreadMutex);
    return EXIT_OK;
}

using IdxToId = int (*)(int, int, int *) noexcept;
using IdxList = int (*)(int, int, RaidCIdxList **) noexcept;

struct Side {
    const char *name;   // "logical drive"
    const char *plural; // "logical_drives"
    IdxToId id;
    int count;
};

int idOf(IdxToId toId, int ctrl, int idx)
{
    int id = -1; // where the tree gives the device none
    toId(ctrl, idx, &id);
    return id;
}

// Every device of one side with the devices of the other side it relates to:
// "logical drive 0 (id 5): 1 (id 1), 2 (id 2)" or the same as JSON.
void printSide(const Args &a, int ctrl, const Side &from, const Side &to, IdxList related, bool last)
{
    if (a.json)
        printf("\"%s\":[", from.plural);
    RaidCIdxList *list = nullptr;
    for (int i = 0; i < from.count; ++i) {
        int n = related(ctrl, i, &list) == 0 ? list->devCnt : 0;
        int id = idOf(from.id, ctrl, i);
        if (a.json)
            printf("%s{\"index\":%d,\"id\":%d,\"%s\":[", i ? "," : "", i, id, to.plural);
        else
            printf("%s %d (id %d):%s", from.name, i, id, n ? "" : " none");
        for (int k = 0; k < n; ++k) {
            int idx = list->devList[k];
            printf(a.json ? "%s{\"index\":%d,\"id\":%d}" : "%s %d (id %d)", k ? "," : "", idx, idOf(to.id, ctrl, idx));
        }
        printf(a.json ? "]}" : "\n");
    }
    RaidC_freeDeviceList(&list);
    if (a.json)
        printf(last ? "]" : "],");
}

int relations(const Args &a)
{
    int ctrl = 0;
    if (a.pos.size() != 1 || !toInt(a.pos[0], &ctrl))
        return usageError(a, "expected one controller index");
    if (!loadCache())
        return EXIT_FAIL;
    // One cache state for the whole answer.
    pthread_mutex_lock(&RaidC_ThreadMutex);
    const RaidCDevMap &m = ctrlDevStructure;
    int rc = findController(ctrl);
    if (!rc && (!m.ctrlList || ctrl >= m.ctrlCnt))
        rc = fail("controller %d is missing from the relation map", ctrl);
    if (rc) {
        pthread_mutex_unlock(&RaidC_ThreadMutex);
        return rc;
    }
    const RaidCCtrlDev &cd = m.ctrlList[ctrl];
    using raidcnames::Device, raidcnames::name;
    Side lds = {name(Device::LogicalDrive).text, name(Device::LogicalDrive).plural, RaidC_convert_LdIdx_2_LdId,
                cd.ldCnt < cd.ldMax ? cd.ldCnt : cd.ldMax};
    Side pds = {name(Device::PhysicalDrive).text, name(Device::PhysicalDrive).plural, RaidC_convert_PdIdx_2_PdId,
                cd.pdCnt < cd.pdMax ? cd.pdCnt : cd.pdMax};
    if (a.json)
        printf("%s,\"controller\":%d,\"ctrl_id\":%d,", jsonStart().c_str(), ctrl, cd.ctrlId);
    else
        printf("controller %d (CtrlId %d): %d logical drives, %d physical drives\n", ctrl, cd.ctrlId, lds.count,
               pds.count);
    printSide(a, ctrl, lds, pds, RaidC_get_PdIdxList_from_LdIdx, false);
    printSide(a, ctrl, pds, lds, RaidC_get_LdIdxList_from_PdIdx, true);
    if (a.json)
        printf("}\n");
    pthread_mutex_unlock(&RaidC_ThreadMutex);
    return EXIT_OK;
}

Register r1({"pd", "PARAM CTRL DEV [--int] [--json]", "print a physical drive parameter", pd, "int json", 3, 3});
Register r2({"ld", "PARAM CTRL DEV [--int] [--json]", "print a logical drive parameter", ld, "int json", 3, 3});
Register r3({"map", "", "print the relation map of every controller", map});
Register r4({"relations", "CTRL [--json]", "list which drives make up which logical drives", relations, "json", 1, 1});

} // namespace
