// Allocation and read failures at every point of a refresh: each ends with a
// documented result, the cache answers either as before or not at all, and
// nothing leaks (the fault build runs under LeakSanitizer).
#include "testutil.h"

#include <gtest/gtest.h>

#ifdef RAIDC_FAULT_INJECTION

using namespace testutil;

namespace {

std::string nameOf(int ctrl)
{
    char buf[64];
    int st = RaidC_getCtrlInfo("Name", ctrl, buf, sizeof buf, nullptr);
    return st == RAIDC_SUCCESS_STRING ? buf : "status " + std::to_string(st);
}

TEST(RefreshFault, EveryAllocationPointFailsCleanly)
{
    const std::string before = wrapSystem({"<Name>old</Name><PhysicalDrive Nr='0'/>"});
    const std::string after = wrapSystem({"<Name>new</Name><PhysicalDrive Nr='0'/>", "<Name>new1</Name>"});
    int points = 0;
    for (long nth = 1; nth < 10000; ++nth) {
        loadTree(before);
        installTree(after);
        raidc_fault_arm(nth);
        int r = RaidC_updateCache();
        long calls = raidc_fault_calls();
        raidc_fault_arm(0);
        if (calls < nth) {
            EXPECT_EQ(r, RAIDC_UPDATE_OK);
            EXPECT_EQ(nameOf(1), "new1");
            break;
        }
        points++;
        std::string now = nameOf(0);
        if (r == RAIDC_UPDATE_OK) {
            EXPECT_EQ(now, "new") << "fault point " << nth;
        } else {
            EXPECT_TRUE(r == RAIDC_UPDATE_UNUSABLE || r == RAIDC_UPDATE_OPEN_FAILED) << r;
            EXPECT_TRUE(now == "old" || now == "status 5") << "fault point " << nth << ": " << now;
        }
        // Whatever happened, the next refresh of a changed file recovers.
        installTree(after);
        ASSERT_EQ(RaidC_updateCache(), RAIDC_UPDATE_OK) << "fault point " << nth;
        EXPECT_EQ(nameOf(1), "new1");
    }
    EXPECT_GT(points, 10);
    RecordProperty("fault_points", points);
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
    EXPECT_EQ(nameOf(0), "middle");
    EXPECT_EQ(RaidC_updateCache(), RAIDC_UPDATE_OK);
    EXPECT_EQ(nameOf(0), "new");
}

} // namespace
#endif
