// Allocation and read failures at every point of a refresh: each ends with a
// documented result, the cache answers either as before or not at all, and
// nothing leaks (the fault build runs under LeakSanitizer).
#include "cachetest.h"

#ifdef RAIDC_FAULT_INJECTION

using namespace testutil;

namespace {

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
    RecordProperty("fault_points", static_cast<int>(points));
}

extern "C" void raidc_fault_on_pause(void (*hook)(const char *point)) noexcept;

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

} // namespace
#endif
