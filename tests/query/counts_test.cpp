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
    Count ctrls = count(RaidC_getCtrlsNumber);
    EXPECT_EQ(ctrls.status, RAIDC_SUCCESS_INT);
    EXPECT_EQ(ctrls.n, 0);
    for (auto total :
         {RaidC_getLdsTotalNumber, RaidC_getEncTotalNumber, RaidC_getPdsTotalNumber, RaidC_getNvmePdsTotalNumber}) {
        Count c = count(total);
        EXPECT_EQ(c.status, RAIDC_SUCCESS_INT);
        EXPECT_EQ(c.n, 0);
    }
    EXPECT_EQ(RaidC_getCacheStatus(), 1);
    EXPECT_EQ(count([](int64_t *n) { return RaidC_getPdsNumberForCtrl(0, n); }).status, RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(RaidC_getCtrlsNumber(nullptr), RAIDC_INPUT_NOT_INITIALIZED);
}

TEST(Counts, ListCountsPerControllerAndInTotal)
{
    loadTree(twoControllers());
    using PerCtrl = int (*)(int, int64_t *);
    struct Row {
        PerCtrl fn;
        int64_t c0, c1;
    } rows[] = {{RaidC_getPdsNumberForCtrl, 3, 1},
                {RaidC_getLdsNumberForCtrl, 3, 0},
                {RaidC_getEncNumberForCtrl, 1, 0},
                {RaidC_getArraysNumberForCtrl, 1, 0},
                {RaidC_getPortsNumberForCtrl, 2, 0}};
    for (const Row &r : rows) {
        EXPECT_EQ(count([&](int64_t *n) { return r.fn(0, n); }).n, r.c0);
        EXPECT_EQ(count([&](int64_t *n) { return r.fn(1, n); }).n, r.c1);
        Count out = count([&](int64_t *n) { return r.fn(2, n); });
        EXPECT_EQ(out.status, RAIDC_PARAM_NOT_FOUND);
        EXPECT_EQ(out.n, 77);
        EXPECT_EQ(count([&](int64_t *n) { return r.fn(-1, n); }).status, RAIDC_PARAM_NOT_FOUND);
    }
    EXPECT_EQ(count(RaidC_getCtrlsNumber).n, 2);
    EXPECT_EQ(count(RaidC_getPdsTotalNumber).n, 4);
    EXPECT_EQ(count(RaidC_getLdsTotalNumber).n, 3);
    EXPECT_EQ(count(RaidC_getEncTotalNumber).n, 1);
}

TEST(Counts, PredicatesAndFamilyFlags)
{
    loadTree(twoControllers());
    EXPECT_EQ(RaidC_CtrlHasBBU(0), 1);
    EXPECT_EQ(RaidC_CtrlHasBBU(1), 0);
    EXPECT_EQ(RaidC_CtrlHasBBU(2), 0);
    EXPECT_EQ(RaidC_CtrlCanBeConfigured(0), 1);
    EXPECT_EQ(RaidC_CtrlCanBeConfigured(1), 0);
    EXPECT_EQ(RaidC_CtrlCanBeConfigured(-1), 0);
    EXPECT_EQ(RaidC_getCacheStatus(), 1 | 2 | 16);
    loadTree(wrapSystem({"<Source>IB</Source><ControllerFamily>x-PCIeSSD</ControllerFamily><ControllerFamily/>",
                         "<Source>ib</Source><ControllerFamily>mr</ControllerFamily>"}));
    EXPECT_EQ(RaidC_getCacheStatus(), 1 | 4 | 8);
}

TEST(Counts, NvmeAndEncryptedNeedExactTexts)
{
    loadTree(twoControllers());
    EXPECT_EQ(count(RaidC_getNvmePdsTotalNumber).n, 2);
    EXPECT_EQ(count([](int64_t *n) { return RaidC_getCtrlNvmePdsTotalNumber(0, n); }).n, 1);
    Count bad = count([](int64_t *n) { return RaidC_getCtrlNvmePdsTotalNumber(2, n); });
    EXPECT_EQ(bad.status, RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(bad.n, 0);
    EXPECT_EQ(count([](int64_t *n) { return RaidC_getCtrlNvmePdsTotalNumber(-1, n); }).status, RAIDC_PARAM_NOT_FOUND);
    // The third drive has no "Secured": skipped, not an end.
    Count enc = count([](int64_t *n) { return RaidC_getEncryptedPdsNumberForCtrl(0, n); });
    EXPECT_EQ(enc.status, RAIDC_SUCCESS_INT);
    EXPECT_EQ(enc.n, 1);
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
    EXPECT_EQ(RaidC_getFailedPdsNumberForCtrl(0, &failed, nullptr), RAIDC_INPUT_NOT_INITIALIZED);

    Count degraded = count([](int64_t *n) { return RaidC_getDegradedLdsNumberForCtrl(0, n); });
    EXPECT_EQ(degraded.status, RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(degraded.n, 2);
    Count none = count([](int64_t *n) { return RaidC_getDegradedLdsNumberForCtrl(1, n); });
    EXPECT_EQ(none.status, RAIDC_SUCCESS_INT);
    EXPECT_EQ(none.n, 0);
}

} // namespace
