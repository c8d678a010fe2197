// The refresh against real device tree files: what it returns and what stays
// cached when the file is bad or gone.
#include "testutil.h"

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

using namespace testutil;

#ifdef RAIDC_FAULT_INJECTION
extern "C" void raidc_fault_on_pause(void (*hook)(const char *point)) noexcept;
#endif

namespace {

// A controller parameter as text, or "status N" when the query gives no text.
std::string ctrlText(const char *param, int ctrl = 0)
{
    char buf[128];
    int st = RaidC_getCtrlInfo(param, ctrl, buf, sizeof buf, nullptr);
    return st == RAIDC_SUCCESS_STRING ? std::string(buf) : "status " + std::to_string(st);
}

const std::string kGood = wrapSystem({"<CtrlId>7</CtrlId><Name>first</Name>"});

// An empty file, one the parser refuses (its rules are the parser's own
// tests') and a document without System: 2. The first two keep the earlier
// cache and are not remembered as parsed: the next refresh reads the file
// again. The last was taken: the cache is empty, and nothing is re-read until
// the file changes. A System without adapters is Counts.*'s in tests/query.
TEST(Refresh, BadFileGivesTwoAndKeepsEarlierCacheUnlessTheDocumentWasTaken)
{
    const std::pair<std::string, bool> cases[] = {{"", true},
                                                  {kGood.substr(0, kGood.size() / 2), true},
                                                  {"<RAIDStorageDeviceTree><Other/></RAIDStorageDeviceTree>", false}};
    for (const auto &[bad, kept] : cases) {
        SCOPED_TRACE(bad);
        loadTree(kGood);
        installTree(bad);
        EXPECT_EQ(RaidC_updateCache(), RAIDC_UPDATE_UNUSABLE);
        EXPECT_EQ(ctrlText("Name"), kept ? "first" : "status 5");
        EXPECT_EQ(std::pair(ctrlList != nullptr, ctrlDevStructure.ctrlCnt), std::pair(kept, kept ? 1 : 0));
        EXPECT_EQ(RaidC_updateCache(), kept ? RAIDC_UPDATE_UNUSABLE : RAIDC_UPDATE_OK);
    }
    loadTree(kGood); // the last bad file left nothing that stops a good one
    EXPECT_EQ(ctrlText("Name"), "first");
}

// Only a file with a new modification time is read again; a missing one
// gives 3 and keeps the earlier cache.
TEST(Refresh, RereadsOnlyAChangedFile)
{
    installTree(kGood);
    EXPECT_EQ(RaidC_forTest(), RAIDC_UPDATE_OK);
    EXPECT_EQ(ctrlText("Name"), "first");
    XMLNode *root = rootNode;
    NodeList *ctrls = ctrlList;
    EXPECT_EQ(RaidC_updateCache(), RAIDC_UPDATE_OK);
    EXPECT_EQ(rootNode, root);
    EXPECT_EQ(ctrlList, ctrls);

    // Rewritten within the same second: not noticed.
    struct stat st;
    ASSERT_EQ(stat(RAIDC_DEVICE_TREE_PATH, &st), 0);
    installTree(wrapSystem({"<CtrlId>7</CtrlId><Name>second</Name>"}));
    struct timespec t[2] = {st.st_mtim, st.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, RAIDC_DEVICE_TREE_PATH, t, 0), 0);
    EXPECT_EQ(RaidC_updateCache(), RAIDC_UPDATE_OK);
    EXPECT_EQ(ctrlText("Name"), "first");

    removeTree();
    EXPECT_EQ(RaidC_updateCache(), RAIDC_UPDATE_OPEN_FAILED);
    EXPECT_EQ(RaidC_updateCache(), RAIDC_UPDATE_OPEN_FAILED);
    EXPECT_EQ(ctrlText("Name"), "first");

    loadTree(wrapSystem({"<Name>a</Name>", "<Name>b</Name>"}));
    EXPECT_EQ(ctrlText("Name", 1), "b");
}

// Lists hold up to 1024 elements: a second controller with more drives.
TEST(Refresh, ListsFollowDocumentOrderSkipLayoutReferencesAndStopAt1024)
{
    std::string many;
    for (int i = 0; i < 1100; ++i)
        many += "<PhysicalDrive Nr='" + std::to_string(i) + "'/>";
    loadTree(wrapSystem(
        {"<PhysicalDrive Nr='1'/>"
         "<Port Nr='0'><PhysicalDrive Nr='2'/>"
         "  <Enclosure Nr='0'><PhysicalDrive Nr='3'/><Processor/></Enclosure>"
         "  <PhysicalDrive Nr='4'/></Port>"
         "<LogicalDrive Nr='0'><Layout><Container Nr='0'><PhysicalDrive Nr='1'/></Container></Layout></LogicalDrive>"
         "<Array Nr='0'><Layout><Container><PhysicalDrive Nr='9'/></Container></Layout></Array>"
         "<Port Nr='1'><Enclosure Nr='1'/></Port><Battery/>",
         many}));
    EXPECT_EQ(pdCtrlList[1]->count, 1024);
    EXPECT_STREQ(pdCtrlList[1]->nodes[1023]->attributes->nodeValue, "1023");
    NodeList *pds = pdCtrlList[0];
    ASSERT_EQ(pds->count, 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_STREQ(pds->nodes[i]->attributes->nodeValue, std::to_string(i + 1).c_str());
    EXPECT_EQ(encCtrlList[0]->count, 2); // the other lists' counts: Counts.* in tests/query

    for (auto [l, n] : {std::pair{raidInternal_getProcessorList(ctrlList, 0), 1},
                        {raidInternal_getBatteryList(ctrlList, 0), 1},
                        {raidInternal_getBatteryList(ctrlList, 5), 0}}) {
        EXPECT_EQ(l->count, n);
        free(l);
    }
}

// Large files one after another, growing and shrinking, share the parser's
// kept text buffer: each reads whole, none sees bytes of the one before.
// Releasing a deep tree on the next re-read must not recurse.
TEST(Refresh, LargeAndDeepFilesInTurnReadWhole)
{
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<d>";
    for (int i = 0; i < 100000; ++i)
        deep += "</d>";
    loadTree(wrapSystem({"<Big>" + std::string(16 << 20, 'x') + "</Big>" + deep}));
    char small[8];
    EXPECT_EQ(RaidC_getCtrlInfo("Big", 0, small, sizeof small, nullptr), RAIDC_BUFFER_TOO_SMALL);
    std::vector<char> buf(6 << 20);
    const std::tuple<size_t, char, bool> cases[] = {
        {3 << 20, 'a', false}, {2 << 20, 'b', false}, {5 << 20, 'c', false}, {2 << 20, 'd', true}};
    for (auto [size, fill, nulAfter] : cases) {
        std::string xml = wrapSystem({"<V>" + std::string(size, fill) + "</V>"});
        if (nulAfter)
            xml += std::string("\0", 1) + std::string(1 << 20, 'z');
        installTree(xml);
        ASSERT_EQ(RaidC_updateCache(), RAIDC_UPDATE_OK) << fill;
        ASSERT_EQ(RaidC_getCtrlInfo("V", 0, buf.data(), static_cast<unsigned>(buf.size()), nullptr),
                  RAIDC_SUCCESS_STRING);
        EXPECT_EQ(std::string(buf.data()), std::string(size, fill));
    }
}

// Every answer comes from one cache state, and under ThreadSanitizer this
// shows that queries never see a half-built cache. The trees swap internal
// drives at 40 for external ones at 60, so a mix would pair a status of one
// tree with the maximum of the other.
TEST(RefreshThreads, RefreshWhileOtherThreadsQuery)
{
    std::string cool, hot = "<PortType>Extern</PortType>";
    const std::string drive = "<PhysicalDrive><Type>SAS</Type><MediaType>HDD</MediaType><Temperature>";
    for (int i = 0; i < 30; ++i) {
        cool += drive + "40</Temperature></PhysicalDrive>";
        hot += drive + "60</Temperature></PhysicalDrive>";
    }
    const std::string a = wrapSystem({"<Name>same</Name>" + cool});
    const std::string b = wrapSystem({"<Name>same</Name>" + hot, "<Name>same</Name>"});
    loadTree(a);
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            do {
                char buf[32];
                int64_t max = 0;
                const int st = RaidC_getCtrlInfo("Name", 0, buf, sizeof buf, nullptr);
                const int hdd = RaidC_getHDDMaxTemperature(0, &max);
                const bool oneState =
                    (hdd == RAIDC_SUCCESS_INT && max == 40) || (hdd == RAIDC_DEVICE_EXTERN && max == 60);
                if (st != RAIDC_SUCCESS_STRING || strcmp(buf, "same") != 0 || !oneState)
                    bad++;
            } while (!stop);
        });
    }
    for (int i = 0; i < 40; ++i) {
        installTree(i % 2 ? a : b);
        EXPECT_EQ(RaidC_updateCache(), RAIDC_UPDATE_OK);
    }
    stop = true;
    for (auto &t : readers)
        t.join();
    EXPECT_EQ(bad, 0);
}

// Resident anonymous memory of this process in KiB, from the kernel.
long residentKiB()
{
    std::string status = readFile("/proc/self/status");
    size_t at = status.find("RssAnon:");
    return at == std::string::npos ? -1 : strtol(status.c_str() + at + 8, nullptr, 10);
}

// A large tree and then a small one: the small one's refresh gives the
// large one's memory back rather than keeping it for a next large tree.
TEST(Refresh, SmallTreeAfterLargeGivesTheMemoryBack)
{
    SKIP_UNDER_EMULATOR("shows its own memory in /proc/self/status, not the guest's");
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer holds freed memory back on purpose";
#endif
    std::string params, drives;
    for (int p = 0; p < 20; ++p)
        params += "<P" + std::to_string(p) + ">value " + std::to_string(p) + "</P" + std::to_string(p) + ">";
    for (int i = 0; i < 5000; ++i)
        drives += "<PhysicalDrive Nr='" + std::to_string(i) + "'>" + params +
                  "<Layout><LogicalDrive Nr='0'/></Layout></PhysicalDrive>";
    const std::string large = wrapSystem({drives + "<LogicalDrive Nr='0'/>"});
    loadTree(kGood);
    const long base = residentKiB();
    ASSERT_GT(base, 0);
    loadTree(large);
    EXPECT_GT(residentKiB() - base, 10000) << "the large tree should take memory";
    loadTree(kGood);
    loadTree(wrapSystem({"<CtrlId>7</CtrlId><Name>again</Name>"}));
    EXPECT_LT(residentKiB() - base, 512);
    EXPECT_EQ(ctrlText("Name"), "again");
}

#ifdef RAIDC_FAULT_INJECTION
// Allocation and read failures at every point of a refresh: each ends with a
// documented result, the cache answers either as before or not at all, and
// nothing leaks (the fault build runs under LeakSanitizer).
TEST(RefreshFault, EveryAllocationPointFailsCleanly)
{
    const std::string before = wrapSystem({"<Name>old</Name><PhysicalDrive Nr='0'/>"});
    const std::string after = wrapSystem({"<Name>new</Name><PhysicalDrive Nr='0'/>", "<Name>new1</Name>"});
    int r = 0;
    auto prepare = [&] {
        loadTree(before);
        installTree(after);
    };
    prepare();
    long points = forEachFaultPoint([&] { r = RaidC_updateCache(); },
                                    [&](long nth, bool faulted) {
                                        SCOPED_TRACE("fault point " + std::to_string(nth));
                                        const std::string now = ctrlText("Name", faulted ? 0 : 1);
                                        if (!faulted || r == RAIDC_UPDATE_OK) {
                                            EXPECT_EQ(r, RAIDC_UPDATE_OK);
                                            EXPECT_EQ(now, faulted ? "new" : "new1");
                                        } else {
                                            EXPECT_TRUE(r == RAIDC_UPDATE_UNUSABLE || r == RAIDC_UPDATE_OPEN_FAILED)
                                                << r;
                                            EXPECT_TRUE(now == "old" || now == "status 5") << now;
                                        }
                                        // Whatever happened, the next refresh of a changed file recovers.
                                        installTree(after);
                                        ASSERT_EQ(RaidC_updateCache(), RAIDC_UPDATE_OK);
                                        EXPECT_EQ(ctrlText("Name", 1), "new1");
                                        prepare();
                                    });
    EXPECT_GT(points, 10);
}

// The agent rewrites the file while the refresh is still reading the old
// bytes (its lock is advisory): the time stored with the old content must be
// the old one, so the next refresh takes up the new content.
TEST(RefreshFault, RewriteDuringTheReadIsSeenByTheNextRefresh)
{
    loadTree(wrapSystem({"<Name>old</Name>"}));
    installTree(wrapSystem({"<Name>middle</Name>"}));
    raidc_fault_on_pause([](const char *point) {
        if (strcmp(point, "refresh-read") == 0)
            installTree(wrapSystem({"<Name>new</Name>"}));
    });
    EXPECT_EQ(RaidC_updateCache(), RAIDC_UPDATE_OK);
    raidc_fault_on_pause(nullptr);
    EXPECT_EQ(ctrlText("Name", 0), "middle");
    EXPECT_EQ(RaidC_updateCache(), RAIDC_UPDATE_OK);
    EXPECT_EQ(ctrlText("Name", 0), "new");
}
#endif

} // namespace
