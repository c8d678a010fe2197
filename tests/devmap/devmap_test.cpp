// The relation map as the refresh builds it, and the questions answered from it.
#include "testutil.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

using namespace testutil;

namespace {

// Controller 0: drives without identifier, with letters, beyond 32 bits and
// a duplicate; a drive named twice by one logical drive; a member that does
// not exist; a logical drive without layout and one that no drive names
// back; arrays with -1 and without identifier. Controller 1: no CtrlId, no
// logical drives, but references all the same.
const std::string kTree = wrapSystem(
    {"<CtrlId>5</CtrlId>"
     "<PhysicalDrive Nr=\"10\"><Layout><LogicalDrive Nr=\"0\"/><LogDrive Nr=\"0\"/></Layout>"
     "<ArrayNumber>1</ArrayNumber></PhysicalDrive>"
     "<LogicalDrive Nr=\"0\"><Layout><Container Nr=\"0\"><PhysicalDrive Nr=\"10\"/><PhysDrive Nr=\"11\"/></Container>"
     "<Container Nr=\"1\"><PhysicalDrive Nr=\"10\"/><PhysicalDrive Nr=\"77\"/></Container></Layout>"
     "<ArrayNumber>1</ArrayNumber></LogicalDrive>"
     "<LogicalDrive Nr=\"1\"><ArrayNumber>1</ArrayNumber></LogicalDrive>"
     "<LogicalDrive Nr=\"2\"><Layout><Container Nr=\"0\"><PhysicalDrive Nr=\"11\"/></Container></Layout></LogicalDrive>"
     "<Array Nr=\"1\"><Layout><Container><PhysicalDrive Nr=\"10\"/><PhysicalDrive Nr=\"11\"/></Container>"
     "<LogicalDrive Nr=\"0\"/><LogDrive Nr=\"1\"/></Layout></Array><Array Nr=\"-1\"/><Array/>"
     "<Port Nr=\"0\"><PhysicalDrive Nr=\"11\"><Layout><LogicalDrive Nr=\"1\"/></Layout><ArrayNumber>1a</ArrayNumber>"
     "</PhysicalDrive><Enclosure Nr=\"0\"><PhysicalDrive><Layout/><ArrayNumber>2</ArrayNumber></PhysicalDrive>"
     "<PhysicalDrive Nr=\"abc\"/><PhysicalDrive Nr=\"99999999999\"/><PhysicalDrive Nr=\"11\"/></Enclosure></Port>",
     "<PhysicalDrive Nr=\"0\"><Layout><LogicalDrive Nr=\"3\"/><LogicalDrive Nr=\"4\"/></Layout></PhysicalDrive>"});

const std::string kSmallTree =
    wrapSystem({"<CtrlId>3</CtrlId><PhysicalDrive Nr=\"4\"><Layout><LogicalDrive Nr=\"9\"/>"
                "</Layout></PhysicalDrive><LogicalDrive Nr=\"9\"><Layout><Container Nr=\"0\">"
                "<PhysicalDrive Nr=\"4\"/></Container></Layout></LogicalDrive>"});

using V = std::vector<int>;
using ListFn = int (*)(int, int, RaidCIdxList **) noexcept;

// The list a query hands out, or {-1} when it gives 1 (then with null).
V listOf(ListFn fn, int ctrl, int idx)
{
    RaidCIdxList *l = nullptr;
    if (fn(ctrl, idx, &l) != 0) {
        EXPECT_EQ(l, nullptr);
        return {-1};
    }
    V v(l->devList, l->devList + l->devCnt);
    RaidC_freeDeviceList(&l);
    return v;
}

std::string dump()
{
    return captureStdout([] {
        pthread_mutex_lock(&RaidC_ThreadMutex);
        raidInternal_printDeviceStructure(&ctrlDevStructure);
        pthread_mutex_unlock(&RaidC_ThreadMutex);
    });
}

TEST(DevMap, RecordsFollowTheTree)
{
    loadTree(kTree);
    ASSERT_EQ(ctrlDevStructure.ctrlCnt, 2);
    const RaidCCtrlDev &c0 = ctrlDevStructure.ctrlList[0], &c1 = ctrlDevStructure.ctrlList[1];
    EXPECT_EQ(c0.ctrlId, 5);
    EXPECT_EQ(c1.ctrlId, -1);
    EXPECT_EQ(c0.pdList[0].arrayNumber, 1);
    EXPECT_EQ(c0.pdList[1].arrayNumber, -1); // "1a"
    // Two containers of two members: room for all four in each.
    EXPECT_EQ(c0.ldList[0].containerMax, 2);
    EXPECT_EQ(c0.ldList[0].containerList[1].pdMax, 4);
    EXPECT_EQ(c0.ldList[1].containerList, nullptr);
    // Counted beyond the room, never stored.
    EXPECT_EQ(c1.pdList[0].ldCnt, 2);
    EXPECT_EQ(c1.pdList[0].ldMax, 0);

    // Allocating again keeps the map; filling again restarts the counters.
    RaidCCtrlDev *before = ctrlDevStructure.ctrlList;
    raidInternal_dynAllocDeviceMapStructure(&ctrlDevStructure);
    EXPECT_EQ(raidInternal_getDeviceStructure(&ctrlDevStructure), 0);
    EXPECT_EQ(ctrlDevStructure.ctrlList, before);
    EXPECT_EQ(c0.ldList[0].containerCnt, 2);

    loadTree("<R><System><Name>h</Name></System></R>");
    EXPECT_EQ(ctrlDevStructure.ctrlList, nullptr);
    EXPECT_EQ(raidInternal_getDeviceStructure(&ctrlDevStructure), 1);
}

TEST(DevMap, IndexListsFollowTheirSources)
{
    loadTree(kTree);
    EXPECT_EQ(listOf(RaidC_get_LdIdxList_from_PdIdx, 0, 0), (V{0, 0})); // two containers
    EXPECT_EQ(listOf(RaidC_get_LdIdxList_from_PdIdx, 0, 5), (V{0, 2})); // duplicate identifier
    EXPECT_EQ(listOf(RaidC_get_LdIdxList_from_PdIdx, 1, 0), (V{-1}));   // no logical drives
    EXPECT_EQ(listOf(RaidC_get_PdIdxList_from_LdIdx, 0, 0), (V{0, 0}));
    EXPECT_EQ(listOf(RaidC_get_PdIdxList_from_LdIdx, 0, 1), (V{1}));
    EXPECT_EQ(listOf(RaidC_get_PdIdxList_from_LdIdx, 0, 2), (V{-1})); // only containers name it
    // By ArrayNumber, not by the array's own members.
    EXPECT_EQ(listOf(RaidC_get_PdIdxList_from_ArrayIdx, 0, 0), (V{0}));
    EXPECT_EQ(listOf(RaidC_get_LdIdxList_from_ArrayIdx, 0, 0), (V{0, 1}));
    for (int a : {1, 2}) {
        EXPECT_EQ(listOf(RaidC_get_PdIdxList_from_ArrayIdx, 0, a), (V{-1}));
        EXPECT_EQ(listOf(RaidC_get_LdIdxList_from_ArrayIdx, 0, a), (V{-1}));
    }

    RaidCIdxList *l = nullptr;
    for (ListFn fn : {RaidC_get_LdIdxList_from_PdIdx, RaidC_get_PdIdxList_from_LdIdx, RaidC_get_PdIdxList_from_ArrayIdx,
                      RaidC_get_LdIdxList_from_ArrayIdx}) {
        ASSERT_EQ(fn(0, 0, &l), 0);
        RaidCIdxList *kept = l;
        for (auto [c, d] : {std::pair{-1, 0}, std::pair{2, 0}, std::pair{0, -1}, std::pair{0, 6}})
            EXPECT_EQ(fn(c, d, &l), 1);
        EXPECT_EQ(l, kept); // out of range: untouched
    }
    EXPECT_EQ(RaidC_get_LdIdxList_from_ArrayIdx(0, 1, &l), 1); // in range, no match: released
    EXPECT_EQ(l, nullptr);
    // A list is a copy: it outlives a refresh and the next call releases it.
    ASSERT_EQ(RaidC_get_LdIdxList_from_PdIdx(0, 1, &l), 0);
    loadTree(kSmallTree);
    EXPECT_EQ(V(l->devList, l->devList + l->devCnt), (V{0, 2}));
    ASSERT_EQ(RaidC_get_PdIdxList_from_LdIdx(0, 0, &l), 0);
    RaidC_freeDeviceList(&l);
}

TEST(DevMap, ConversionsAndLayout)
{
    int out = 42;
    loadTree(kTree);
    struct Case {
        int (*fn)(int, int, int *) noexcept;
        int ctrl, in, result, out;
    } cases[] = {
        {RaidC_convert_PdId_2_PdIdx, 0, 11, 0, 1},      {RaidC_convert_PdId_2_PdIdx, 0, INT32_MAX, 0, 4},
        {RaidC_convert_PdId_2_PdIdx, 0, 77, 1, 42},     {RaidC_convert_LdId_2_LdIdx, 1, 0, 1, 42},
        {RaidC_convert_LdId_2_LdIdx, 0, 2, 0, 2},       {RaidC_convert_ArrayId_2_ArrayIdx, -1, 1, 1, 42},
        {RaidC_convert_ArrayId_2_ArrayIdx, 0, 1, 0, 0}, {RaidC_convert_PdIdx_2_PdId, 0, 2, 0, -1},
        {RaidC_convert_PdIdx_2_PdId, 0, 6, 1, 42},      {RaidC_convert_LdIdx_2_LdId, 0, 1, 0, 1},
        {RaidC_convert_ArrayIdx_2_ArrayId, 0, 0, 0, 1}, {RaidC_convert_ArrayIdx_2_ArrayId, 0, 1, 1, 42},
        {RaidC_convert_PdIdx_2_PdId, 0, 3, 0, 0},       {RaidC_convert_PdIdx_2_PdId, 0, 5, 0, 11},
    };
    for (const Case &c : cases) {
        out = 42;
        EXPECT_EQ(c.fn(c.ctrl, c.in, &out), c.result) << c.ctrl << " " << c.in;
        EXPECT_EQ(out, c.out) << c.ctrl << " " << c.in;
    }

    RaidCLdDev *ld = nullptr;
    EXPECT_EQ(RaidC_get_ldLayout(0, 3, &ld), 1);
    EXPECT_EQ(RaidC_get_ldLayout(1, 0, &ld), 1);
    ASSERT_EQ(RaidC_get_ldLayout(0, 0, &ld), 0);
    EXPECT_EQ(ld->containerList[1].pdIdList[1], 77);
}

// A device's "Layout" and "ArrayNumber" children count wherever they stand
// among its children and in document order; the same names deeper down, or
// under elements that are not devices of the controller, do not.
TEST(DevMap, OnlyDirectChildrenCountInDocumentOrder)
{
    loadTree(wrapSystem(
        {"<PhysicalDrive Nr=\"1\"><ArrayNumber>4</ArrayNumber><Layout><LogicalDrive Nr=\"7\"/></Layout>"
         "<Info><Layout><LogicalDrive Nr=\"8\"/></Layout><ArrayNumber>9</ArrayNumber></Info>"
         "<Layout><LogDrive Nr=\"6\"/></Layout><ArrayNumber>N/A</ArrayNumber></PhysicalDrive>"
         "<Battery><Layout><LogicalDrive Nr=\"5\"/></Layout></Battery>"
         "<LogicalDrive Nr=\"7\"><Layout><Container Nr=\"3\"><PhysicalDrive Nr=\"1\"/></Container></Layout>"
         "<ArrayNumber>2</ArrayNumber><ArrayNumber>3</ArrayNumber>"
         "<Layout><Container Nr=\"2\"><PhysDrive Nr=\"1\"/></Container></Layout></LogicalDrive>"
         "<LogicalDrive Nr=\"6\"/><Array Nr=\"3\"><Layout><LogicalDrive Nr=\"7\"/></Layout><Layout><Container>"
         "<PhysicalDrive Nr=\"1\"/></Container></Layout></Array>",
         "<Layout><LogicalDrive Nr=\"1\"/></Layout>"}));
    const RaidCCtrlDev &c = ctrlDevStructure.ctrlList[0];
    const RaidCPdDev &pd = c.pdList[0];
    EXPECT_EQ(V(pd.ldIdList, pd.ldIdList + pd.ldCnt), (V{7, 6}));
    EXPECT_EQ(pd.arrayNumber, 4);
    const RaidCLdDev &ld = c.ldList[0];
    ASSERT_EQ(ld.containerCnt, 2);
    EXPECT_EQ(ld.containerList[0].containerId, 3);
    EXPECT_EQ(ld.containerList[1].containerId, 2);
    EXPECT_EQ(ld.arrayNumber, 3);
    const RaidCArrayDev &a = c.arrayList[0];
    EXPECT_EQ(V(a.ldIdList, a.ldIdList + a.ldCnt), (V{7}));
    EXPECT_EQ(V(a.pdIdList, a.pdIdList + a.pdCnt), (V{1}));
}

TEST(DevMap, ChangedFileRebuildsTheWholeDump)
{
    loadTree(kTree);
    loadTree(kSmallTree);
    const std::string out = dump();
    expectGolden("devmap/golden/map.txt", out);
    std::string tool;
    EXPECT_EQ(runCommand(toolPath("raidc") + " map", &tool), 0);
    EXPECT_EQ(tool, out);
}

#ifdef RAIDC_FAULT_INJECTION

// Whatever allocation of a refresh fails, the map is complete or empty;
// under ASan, reading it all shows any hole.
TEST(DevMap, AllocationFailureLeavesTheMapCompleteOrEmpty)
{
    loadTree(kTree); // a failed refresh may keep this one
    forEachFaultPoint(
        [] {
            installTree(kTree);
            RaidC_updateCache();
        },
        [](long nth, bool) {
            if (!ctrlDevStructure.ctrlList) {
                EXPECT_EQ(ctrlDevStructure.ctrlCnt, 0);
                return;
            }
            ASSERT_EQ(ctrlDevStructure.ctrlCnt, 2) << nth;
            EXPECT_NE(dump().find("containerList[1].pdIdList[1] 77 "), std::string::npos) << nth;
            const RaidCArrayDev &a = ctrlDevStructure.ctrlList[0].arrayList[0];
            EXPECT_EQ(a.pdIdList[1] + a.ldIdList[1], 12) << nth;
        });
}

// A failed list leaves null, and the list it replaces is released either way.
TEST(DevMap, ListAllocationFailureLeavesNullAndNoLeak)
{
    loadTree(kTree);
    RaidCIdxList *l = nullptr;
    ASSERT_EQ(RaidC_get_LdIdxList_from_PdIdx(0, 0, &l), 0);
    int r = 0;
    long faults = forEachFaultPoint([&] { r = RaidC_get_PdIdxList_from_LdIdx(0, 0, &l); },
                                    [&](long nth, bool faulted) {
                                        EXPECT_EQ(r, faulted ? 1 : 0) << nth;
                                        EXPECT_EQ(l == nullptr, faulted) << nth;
                                        RaidC_get_LdIdxList_from_PdIdx(0, 0, &l);
                                    });
    EXPECT_GE(faults, 1);
    RaidC_freeDeviceList(&l);
}
#endif

} // namespace
