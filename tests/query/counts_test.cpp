// Device counts, state counts, the controller predicates and family flags.
#include "testutil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using testutil::loadTree;
using testutil::wrapSystem;

std::string pd(const std::string &body)
{
    return "<PhysicalDrive>" + body + "</PhysicalDrive>";
}

std::string ld(const std::string &status)
{
    return "<LogicalDrive>" + status + "</LogicalDrive>";
}

// Controller 0 carries drives directly, under a port and in an enclosure;
// controller 1 is bare.
std::string twoControllers()
{
    return wrapSystem({"<CtrlId>0</CtrlId><ControllerFamily>MR</ControllerFamily><Battery><Name>B</Name></Battery>"
                       "<RAIDCapabilities><Capability/></RAIDCapabilities>" +
                           ld("<Status>Degraded</Status>") + ld("<Status>Optimal</Status>") +
                           ld("<Status>Partially Degraded</Status>") + "<Array Nr=\"0\"><Name>A</Name></Array>" +
                           "<Port Nr=\"0\">" + pd("<Type>NVMe</Type><Secured>true</Secured>") +
                           "<Enclosure><Name>E</Name>" + pd("<Type>nvme</Type><Secured>True</Secured>") +
                           "</Enclosure></Port><Port Nr=\"1\"/>" + pd("<Type>NVMe </Type>"),
                       "<CtrlId>1</CtrlId><ControllerFamily>MSCC</ControllerFamily>" + pd("<Type>NVMe</Type>")});
}

struct Count {
    int status;
    int64_t n;
};

template <typename F> Count count(F &&f)
{
    int64_t n = 77;
    int st = f(&n);
    return {st, n};
}

TEST(Counts, EmptyCacheAndTreeWithoutControllers)
{
    testutil::onNeverRefreshedCache([] {
        EXPECT_EQ(count(RaidC_getCtrlsNumber).status, RAIDC_CACHE_EMPTY);
        EXPECT_EQ(count(RaidC_getLdsTotalNumber).n, 77); // untouched
        Count pds = count(RaidC_getPdsTotalNumber);
        EXPECT_EQ(pds.status, RAIDC_CACHE_EMPTY);
        EXPECT_EQ(pds.n, 0);
        EXPECT_EQ(count([](int64_t *n) { return RaidC_getCtrlNvmePdsTotalNumber(0, n); }).n, 0);
        EXPECT_EQ(RaidC_getCacheStatus(), 0);
        EXPECT_EQ(RaidC_CtrlCanBeConfigured(0), 0);
        EXPECT_EQ(RaidC_CtrlHasBBU(0), RAIDC_CACHE_EMPTY);
    });
    loadTree("<R><System><Name>h</Name></System></R>");
    for (auto total : {RaidC_getCtrlsNumber, RaidC_getLdsTotalNumber, RaidC_getEncTotalNumber, RaidC_getPdsTotalNumber,
                       RaidC_getNvmePdsTotalNumber}) {
        Count c = count(total);
        EXPECT_EQ(c.status, RAIDC_SUCCESS_INT);
        EXPECT_EQ(c.n, 0);
    }
    EXPECT_EQ(RaidC_getCacheStatus(), 1);
    EXPECT_EQ(count([](int64_t *n) { return RaidC_getPdsNumberForCtrl(0, n); }).status, RAIDC_PARAM_NOT_FOUND);
}

// NVMe and encrypted drives need exact texts; the third drive of controller
// 0 has no "Secured": skipped, not an end. Those two counts clear their
// output before any check, the list counts leave it alone.
TEST(Counts, PerControllerAndTotalCountsPredicatesAndFamilyFlags)
{
    loadTree(twoControllers());
    const struct {
        const char *name;
        int (*fn)(int, int64_t *);
        int64_t c0, c1, outside;
    } rows[] = {{"pds", RaidC_getPdsNumberForCtrl, 3, 1, 77},
                {"lds", RaidC_getLdsNumberForCtrl, 3, 0, 77},
                {"enclosures", RaidC_getEncNumberForCtrl, 1, 0, 77},
                {"arrays", RaidC_getArraysNumberForCtrl, 1, 0, 77},
                {"ports", RaidC_getPortsNumberForCtrl, 2, 0, 77},
                {"nvme", RaidC_getCtrlNvmePdsTotalNumber, 1, 1, 0},
                {"encrypted", RaidC_getEncryptedPdsNumberForCtrl, 1, 0, 0}};
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        const int64_t want[] = {r.outside, r.c0, r.c1, r.outside};
        for (int c = -1; c <= 2; ++c) {
            Count got = count([&](int64_t *n) { return r.fn(c, n); });
            EXPECT_EQ(got.status, c == -1 || c == 2 ? RAIDC_PARAM_NOT_FOUND : RAIDC_SUCCESS_INT) << c;
            EXPECT_EQ(got.n, want[c + 1]) << c;
        }
    }
    const std::pair<int (*)(int64_t *), int64_t> totals[] = {{RaidC_getCtrlsNumber, 2},
                                                             {RaidC_getPdsTotalNumber, 4},
                                                             {RaidC_getLdsTotalNumber, 3},
                                                             {RaidC_getEncTotalNumber, 1},
                                                             {RaidC_getNvmePdsTotalNumber, 2}};
    for (auto [fn, n] : totals)
        EXPECT_EQ(count(fn).n, n) << n;
    for (auto predicate : {RaidC_CtrlHasBBU, RaidC_CtrlCanBeConfigured}) {
        for (int c = -1; c <= 2; ++c)
            EXPECT_EQ(predicate(c), c == 0 ? 1 : 0) << c;
    }
    EXPECT_EQ(RaidC_getCacheStatus(), 1 | 2 | 16);
    loadTree(wrapSystem({"<Source>IB</Source><ControllerFamily>x-PCIeSSD</ControllerFamily><ControllerFamily/>",
                         "<Source>ib</Source><ControllerFamily>mr</ControllerFamily>"}));
    EXPECT_EQ(RaidC_getCacheStatus(), 1 | 4 | 8);
}

TEST(Counts, StateWalksStopOnUnreadableStatusKeepingPartialCounts)
{
    loadTree(wrapSystem({pd("<Status>Failed</Status>") + pd("<Status>Rebuilding SMART Error</Status>") +
                             pd("<Status>Failed SMART Error</Status>") + pd("<Status>smart warning</Status>") +
                             pd("<Status>failed</Status>") + pd("<Name>no status</Name>") +
                             pd("<Status>Failed</Status>") + ld("<Status>Degraded</Status>") +
                             ld("<Status>Optimal</Status>") + ld("<Status>Partially Degraded</Status>") +
                             ld("<Name>x</Name>") + ld("<Status>Degraded</Status>"),
                         pd("<Status>Failed</Status>")}));
    int64_t failed = -1, smart = -1;
    EXPECT_EQ(RaidC_getFailedPdsNumberForCtrl(0, &failed, &smart), RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(failed, 2);
    EXPECT_EQ(smart, 3);
    EXPECT_EQ(RaidC_getFailedPdsNumberForCtrl(1, &failed, &smart), RAIDC_SUCCESS_INT);
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(smart, 0);
    EXPECT_EQ(RaidC_getFailedPdsNumberForCtrl(2, &failed, &smart), RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(failed, 0);

    Count degraded = count([](int64_t *n) { return RaidC_getDegradedLdsNumberForCtrl(0, n); });
    EXPECT_EQ(degraded.status, RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(degraded.n, 2);
    Count none = count([](int64_t *n) { return RaidC_getDegradedLdsNumberForCtrl(1, n); });
    EXPECT_EQ(none.status, RAIDC_SUCCESS_INT);
    EXPECT_EQ(none.n, 0);
}

} // namespace
