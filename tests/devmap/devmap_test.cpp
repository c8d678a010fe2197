// The relation map as the refresh builds it, and the questions answered from it.
#include "testutil.h"

#include <algorithm>
#include <sstream>

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

// A device's "Layout" and "ArrayNumber" children count wherever they stand
// among its children and in document order; the same names deeper down, or
// under elements that are not devices of the controller, do not.
const std::string kLayoutTree =
    wrapSystem({"<PhysicalDrive Nr=\"1\"><ArrayNumber>4</ArrayNumber><Layout><LogicalDrive Nr=\"7\"/></Layout>"
                "<Info><Layout><LogicalDrive Nr=\"8\"/></Layout><ArrayNumber>9</ArrayNumber></Info>"
                "<Layout><LogDrive Nr=\"6\"/></Layout><ArrayNumber>N/A</ArrayNumber></PhysicalDrive>"
                "<Battery><Layout><LogicalDrive Nr=\"5\"/></Layout></Battery>"
                "<LogicalDrive Nr=\"7\"><Layout><Container Nr=\"3\"><PhysicalDrive Nr=\"1\"/></Container></Layout>"
                "<ArrayNumber>2</ArrayNumber><ArrayNumber>3</ArrayNumber>"
                "<Layout><Container Nr=\"2\"><PhysDrive Nr=\"1\"/></Container></Layout></LogicalDrive>"
                "<LogicalDrive Nr=\"6\"/><Array Nr=\"3\"><Layout><LogicalDrive Nr=\"7\"/></Layout><Layout><Container>"
                "<PhysicalDrive Nr=\"1\"/></Container></Layout></Array>",
                "<Layout><LogicalDrive Nr=\"1\"/></Layout>"});

// Stored identifiers as "count/room: ids"; a count beyond the room shows
// only what was stored.
std::string ids(const int32_t *list, int cnt, int max)
{
    std::string s = std::to_string(cnt) + "/" + std::to_string(max) + ":";
    for (int i = 0; i < std::min(cnt, max); ++i)
        s += " " + std::to_string(list[i]);
    return s;
}

std::string ldText(const RaidCLdDev &ld)
{
    std::ostringstream o;
    o << "ld " << ld.ldId << " array " << ld.arrayNumber << " containers " << ld.containerCnt << "/" << ld.containerMax;
    for (int i = 0; i < std::min(ld.containerCnt, ld.containerMax); ++i)
        o << " [" << ld.containerList[i].containerId << " pds "
          << ids(ld.containerList[i].pdIdList, ld.containerList[i].pdCnt, ld.containerList[i].pdMax) << "]";
    return o.str();
}

// The whole relation map, a line per record.
std::string mapText()
{
    std::ostringstream o;
    for (int c = 0; c < ctrlDevStructure.ctrlCnt; ++c) {
        const RaidCCtrlDev &k = ctrlDevStructure.ctrlList[c];
        o << "ctrl " << c << " id " << k.ctrlId << " pds " << k.pdCnt << "/" << k.pdMax << " lds " << k.ldCnt << "/"
          << k.ldMax << " arrays " << k.arrayCnt << "/" << k.arrayMax << "\n";
        for (int i = 0; i < std::min(k.pdCnt, k.pdMax); ++i)
            o << "  pd " << k.pdList[i].pdId << " array " << k.pdList[i].arrayNumber << " lds "
              << ids(k.pdList[i].ldIdList, k.pdList[i].ldCnt, k.pdList[i].ldMax) << "\n";
        for (int i = 0; i < std::min(k.ldCnt, k.ldMax); ++i)
            o << "  " << ldText(k.ldList[i]) << "\n";
        for (int i = 0; i < std::min(k.arrayCnt, k.arrayMax); ++i)
            o << "  array " << k.arrayList[i].arrayId << " pds "
              << ids(k.arrayList[i].pdIdList, k.arrayList[i].pdCnt, k.arrayList[i].pdMax) << " lds "
              << ids(k.arrayList[i].ldIdList, k.arrayList[i].ldCnt, k.arrayList[i].ldMax) << "\n";
    }
    return o.str();
}

#define NAMED(fn) std::make_pair(#fn, &fn)
const std::pair<int, int> kConversionInputs[] = {{0, 0},  {0, 1},  {0, 2},         {0, 3}, {0, 5}, {0, 6},
                                                 {0, 11}, {0, 77}, {0, INT32_MAX}, {1, 0}, {-1, 1}};

TEST(DevMap, TranscriptOfRecordsListsAndConversions)
{
    loadTree(kTree);
    std::ostringstream o;
    o << mapText();
    for (auto [name, fn] : {NAMED(RaidC_get_LdIdxList_from_PdIdx), NAMED(RaidC_get_PdIdxList_from_LdIdx),
                            NAMED(RaidC_get_PdIdxList_from_ArrayIdx), NAMED(RaidC_get_LdIdxList_from_ArrayIdx)})
        for (auto [c, i] : {std::pair{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}, {1, 0}}) {
            RaidCIdxList *l = nullptr;
            o << name << "(" << c << ", " << i << ") = " << fn(c, i, &l) << " "
              << (l ? ids(l->devList, l->devCnt, l->devCnt) : "null") << "\n";
            RaidC_freeDeviceList(&l);
        }
    for (auto [name, fn] : {NAMED(RaidC_convert_PdId_2_PdIdx), NAMED(RaidC_convert_LdId_2_LdIdx),
                            NAMED(RaidC_convert_ArrayId_2_ArrayIdx), NAMED(RaidC_convert_PdIdx_2_PdId),
                            NAMED(RaidC_convert_LdIdx_2_LdId), NAMED(RaidC_convert_ArrayIdx_2_ArrayId)})
        for (auto [c, in] : kConversionInputs) {
            int out = 42;
            const int r = fn(c, in, &out);
            o << name << "(" << c << ", " << in << ") = " << r << " " << out << "\n";
        }
    for (auto [c, i] : {std::pair{0, 0}, {0, 3}, {1, 0}}) {
        RaidCLdDev *ld = nullptr;
        o << "RaidC_get_ldLayout(" << c << ", " << i << ") = " << RaidC_get_ldLayout(c, i, &ld) << " "
          << (ld ? ldText(*ld) : "null") << "\n";
    }
    expectGolden("devmap/golden/transcript.txt", o.str());
}

// Allocating again keeps the map; filling again restarts the counters. A list
// is a copy: it outlives a refresh and the next call releases it. A changed
// file rebuilds the whole map; an empty tree drops it.
TEST(DevMap, RefillsListsAndRebuildsAcrossRefreshes)
{
    loadTree(kTree);
    const std::string first = mapText();
    RaidCCtrlDev *before = ctrlDevStructure.ctrlList;
    EXPECT_EQ(before[0].ldList[1].containerList, nullptr); // no layout, no room
    raidInternal_dynAllocDeviceMapStructure(&ctrlDevStructure);
    EXPECT_EQ(raidInternal_getDeviceStructure(&ctrlDevStructure), 0);
    EXPECT_EQ(ctrlDevStructure.ctrlList, before);
    EXPECT_EQ(mapText(), first);
    RaidCIdxList *l = nullptr;
    for (auto fn : {RaidC_get_LdIdxList_from_PdIdx, RaidC_get_PdIdxList_from_LdIdx, RaidC_get_PdIdxList_from_ArrayIdx,
                    RaidC_get_LdIdxList_from_ArrayIdx}) {
        ASSERT_EQ(fn(0, 0, &l), 0);
        RaidCIdxList *kept = l;
        for (auto [c, d] : {std::pair{-1, 0}, std::pair{2, 0}, std::pair{0, -1}, std::pair{0, 6}})
            EXPECT_EQ(fn(c, d, &l), 1);
        EXPECT_EQ(l, kept); // out of range: untouched
    }
    EXPECT_EQ(RaidC_get_LdIdxList_from_ArrayIdx(0, 1, &l), 1); // in range, no match: released
    EXPECT_EQ(l, nullptr);
    ASSERT_EQ(RaidC_get_LdIdxList_from_PdIdx(0, 1, &l), 0);
    loadTree(kLayoutTree);
    expectGolden("devmap/golden/direct-children.txt", mapText());
    EXPECT_EQ(std::vector<int>(l->devList, l->devList + l->devCnt), (std::vector<int>{0, 2}));
    ASSERT_EQ(RaidC_get_PdIdxList_from_LdIdx(0, 0, &l), 0);
    RaidC_freeDeviceList(&l);
    pthread_mutex_lock(&RaidC_ThreadMutex);
    const std::string out = captureStdout([] { raidInternal_printDeviceStructure(&ctrlDevStructure); });
    pthread_mutex_unlock(&RaidC_ThreadMutex);
    expectGolden("devmap/golden/map.txt", out);
    std::string tool;
    EXPECT_EQ(runCommand(toolPath("raidc") + " map", &tool), 0);
    EXPECT_EQ(tool, out);
    loadTree("<R><System><Name>h</Name></System></R>");
    EXPECT_EQ(ctrlDevStructure.ctrlList, nullptr);
    EXPECT_EQ(raidInternal_getDeviceStructure(&ctrlDevStructure), 1);
}

#ifdef RAIDC_FAULT_INJECTION

// Whatever allocation of a refresh fails, the map is complete or empty;
// under ASan, reading it all shows any hole. A failed list leaves null, and
// the list it replaces is released either way.
TEST(DevMap, AllocationFailureLeavesTheMapCompleteOrEmptyAndListsNullAndNoLeak)
{
    loadTree(kTree); // a failed refresh may keep this one
    const std::string whole = mapText();
    forEachFaultPoint(
        [] {
            installTree(kTree);
            RaidC_updateCache();
        },
        [&](long nth, bool) {
            if (!ctrlDevStructure.ctrlList)
                EXPECT_EQ(ctrlDevStructure.ctrlCnt, 0) << nth;
            else
                EXPECT_EQ(mapText(), whole) << nth;
        });
    ASSERT_EQ(mapText(), whole); // the last refresh met no fault
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
