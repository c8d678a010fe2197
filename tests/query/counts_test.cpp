// Device counts, state counts, the controller predicates, family flags and
// maximum temperatures per device class.
#include "testutil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

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
    bool operator==(const Count &) const = default;
};

void PrintTo(const Count &c, std::ostream *os)
{
    *os << "{status " << c.status << ", " << c.n << "}";
}

template <typename F> Count count(F &&f)
{
    int64_t n = 77;
    int st = f(&n);
    return {st, n};
}

using PerCtrl = int (*)(int, int64_t *);

Count at(PerCtrl fn, int ctrl)
{
    return count([&](int64_t *n) { return fn(ctrl, n); });
}

TEST(Counts, EmptyCacheAndTreeWithoutControllers)
{
    testutil::onNeverRefreshedCache([] {
        EXPECT_EQ(count(RaidC_getCtrlsNumber), (Count{RAIDC_CACHE_EMPTY, 77}));
        EXPECT_EQ(count(RaidC_getLdsTotalNumber), (Count{RAIDC_CACHE_EMPTY, 77})); // untouched
        EXPECT_EQ(count(RaidC_getPdsTotalNumber), (Count{RAIDC_CACHE_EMPTY, 0}));
        EXPECT_EQ(at(RaidC_getCtrlNvmePdsTotalNumber, 0), (Count{RAIDC_CACHE_EMPTY, 0}));
        EXPECT_EQ(RaidC_getCacheStatus(), 0);
        EXPECT_EQ(RaidC_CtrlCanBeConfigured(0), 0);
        EXPECT_EQ(RaidC_CtrlHasBBU(0), RAIDC_CACHE_EMPTY);
    });
    loadTree("<R><System><Name>h</Name></System></R>");
    for (auto total : {RaidC_getCtrlsNumber, RaidC_getLdsTotalNumber, RaidC_getEncTotalNumber, RaidC_getPdsTotalNumber,
                       RaidC_getNvmePdsTotalNumber})
        EXPECT_EQ(count(total), (Count{RAIDC_SUCCESS_INT, 0}));
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
        PerCtrl fn;
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
            const int status = c == -1 || c == 2 ? RAIDC_PARAM_NOT_FOUND : RAIDC_SUCCESS_INT;
            EXPECT_EQ(at(r.fn, c), (Count{status, want[c + 1]})) << c;
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
    // Both counts are cleared before any check.
    const struct {
        int ctrl, status;
        int64_t failed, smart;
    } rows[] = {{0, RAIDC_PARAM_NOT_FOUND, 2, 3}, {1, RAIDC_SUCCESS_INT, 1, 0}, {2, RAIDC_PARAM_NOT_FOUND, 0, 0}};
    for (const auto &r : rows) {
        int64_t failed = -1, smart = -1;
        EXPECT_EQ(RaidC_getFailedPdsNumberForCtrl(r.ctrl, &failed, &smart), r.status) << r.ctrl;
        EXPECT_EQ(failed, r.failed) << r.ctrl;
        EXPECT_EQ(smart, r.smart) << r.ctrl;
    }
    EXPECT_EQ(at(RaidC_getDegradedLdsNumberForCtrl, 0), (Count{RAIDC_PARAM_NOT_FOUND, 2}));
    EXPECT_EQ(at(RaidC_getDegradedLdsNumberForCtrl, 1), (Count{RAIDC_SUCCESS_INT, 0}));
}

std::string drive(const char *type, const char *media, const char *temp)
{
    return std::string("<PhysicalDrive><Type>") + type + "</Type><MediaType>" + media + "</MediaType><Temperature>" +
           temp + "</Temperature></PhysicalDrive>";
}

// HDDs at 35 and 41 (one with a unit suffix at 60), an SSD at 38, an NVMe
// SSD at 50 and one at 45 whose MediaType says SSD.
std::string mixedDrives(const char *portType)
{
    return std::string("<CtrlId>0</CtrlId><PortType>") + portType + "</PortType>" + drive("SAS", "HDD", "35") +
           drive("SATA", "HDD", "41") + drive("SATA", "HDD", "60C") + drive("SAS", "SSD", "38") +
           drive("NVMe", "SSD", "50") + drive("NVMe", "SSD", "45");
}

std::string processor(const char *product, const std::string &temps)
{
    return std::string("<Processor><Product>") + product + "</Product>" + temps + "</Processor>";
}

std::string sensor(const char *t)
{
    return std::string("<TemperatureSensor><Temperature>") + t + "</Temperature></TemperatureSensor>";
}

// Controllers 0-2: the drive classes and the extern rule; 3-5: negative and
// zero readings; 6-8: only processors matching the product pattern count.
// In 6, enclosure 0 has a matching expander and a hotter SEP that does not
// match; enclosure 1 is hotter still but has no numeric number.
TEST(MaxTemperature, ClassesExternRuleReadingsAndTheProductPattern)
{
    loadTree(wrapSystem({mixedDrives("Intern"), mixedDrives("Extern"), "<PortType>Extern</PortType>",
                         drive("SAS", "HDD", "-5") + drive("SAS", "HDD", "-1"),
                         drive("SAS", "HDD", "-3") + drive("SAS", "HDD", "0") + "<ChipTemperature>0</ChipTemperature>",
                         "<ChipTemperature>-4</ChipTemperature><Battery><Temperature>-2</Temperature></Battery>",
                         "<Port><Enclosure><EnclosureNumber>1</EnclosureNumber>" +
                             processor("SAS3_EXPx28", sensor("26") + sensor("2.5") + sensor("44")) +
                             processor("SAS3x36R", sensor("70")) + processor("s3_expA", sensor("71")) +
                             "</Enclosure><Enclosure><EnclosureNumber>n/a</EnclosureNumber>" +
                             processor("S12_0_EXPa", sensor("90")) + "</Enclosure></Port>",
                         "<Port><Enclosure><EnclosureNumber>2</EnclosureNumber>" + processor("SAS3_EXPx28", "") +
                             processor("SAS3x36R", sensor("50")) + "</Enclosure></Port>",
                         "<Port/>"}));
    const struct {
        PerCtrl fn;
        int ctrl;
        Count want;
    } rows[] = {
        {RaidC_getPdMaxTemperature, 0, {RAIDC_SUCCESS_INT, 41}},
        {RaidC_getHDDMaxTemperature, 0, {RAIDC_SUCCESS_INT, 41}},
        {RaidC_getSSDMaxTemperature, 0, {RAIDC_SUCCESS_INT, 38}},
        {RaidC_getNVMeMaxTemperature, 0, {RAIDC_SUCCESS_INT, 50}},
        {RaidC_getPdMaxTemperature, 1, {RAIDC_DEVICE_EXTERN, 41}},
        {RaidC_getNVMeMaxTemperature, 1, {RAIDC_DEVICE_EXTERN, 50}},
        {RaidC_getSSDMaxTemperature, 2, {RAIDC_DEVICE_EXTERN, 0}},
        {RaidC_getPdMaxTemperature, 3, {RAIDC_DEVICE_NOT_FOUND, 0}},
        {RaidC_getHDDMaxTemperature, 4, {RAIDC_SUCCESS_INT, 0}},
        {RaidC_getCtrlMaxTemperature, 4, {RAIDC_DEVICE_NOT_FOUND, 0}},
        {RaidC_getCtrlMaxTemperature, 5, {RAIDC_DEVICE_NOT_FOUND, 0}},
        {RaidC_getBBUMaxTemperature, 5, {RAIDC_DEVICE_NOT_FOUND, 0}},
        {RaidC_getPdMaxTemperature, 5, {RAIDC_DEVICE_NOT_FOUND, 0}},
        {RaidC_getProcMaxTemperature, 6, {RAIDC_SUCCESS_INT, 44}},
        {RaidC_getProcMaxTemperature, 7, {RAIDC_DEVICE_NOT_FOUND, 0}},
        {RaidC_getProcMaxTemperature, 8, {RAIDC_DEVICE_NOT_FOUND, 0}},
    };
    for (const auto &r : rows)
        EXPECT_EQ(at(r.fn, r.ctrl), r.want) << "row of controller " << r.ctrl << ", function " << &r - rows;
}

TEST(MaxTemperature, UnreadableCountsGiveSeventeen)
{
    const PerCtrl counted[] = {RaidC_getPdMaxTemperature, RaidC_getHDDMaxTemperature, RaidC_getSSDMaxTemperature,
                               RaidC_getNVMeMaxTemperature, RaidC_getProcMaxTemperature};
    testutil::onNeverRefreshedCache([&] {
        for (PerCtrl fn : counted)
            EXPECT_EQ(at(fn, 0), (Count{RAIDC_MAXTEMP_NO_COUNT, 0}));
        EXPECT_EQ(at(RaidC_getCtrlMaxTemperature, 0), (Count{RAIDC_DEVICE_NOT_FOUND, 0}));
    });
    loadTree(wrapSystem({"<ChipTemperature>70</ChipTemperature><Battery><Temperature>33</Temperature></Battery>" +
                         drive("SAS", "HDD", "30")}));
    EXPECT_EQ(at(RaidC_getCtrlMaxTemperature, 0), (Count{RAIDC_SUCCESS_INT, 70}));
    EXPECT_EQ(at(RaidC_getBBUMaxTemperature, 0), (Count{RAIDC_SUCCESS_INT, 33}));
    for (PerCtrl fn : counted) {
        EXPECT_EQ(at(fn, 1), (Count{RAIDC_MAXTEMP_NO_COUNT, 0}));
        EXPECT_EQ(at(fn, -1), (Count{RAIDC_MAXTEMP_NO_COUNT, 0}));
    }
    EXPECT_EQ(at(RaidC_getCtrlMaxTemperature, 1), (Count{RAIDC_DEVICE_NOT_FOUND, 0}));
    EXPECT_EQ(at(RaidC_getBBUMaxTemperature, 1), (Count{RAIDC_DEVICE_NOT_FOUND, 0}));
}

// Every answer comes from one cache state: a refresh swaps between a tree
// with internal drives at 40 and one with external drives at 60, so a mix
// would pair a status of one tree with the maximum of the other.
TEST(MaxTemperature, ConcurrentRefreshNeverMixesTwoCacheStates)
{
    auto tree = [](const char *portType, const char *t, int n) {
        std::string body = std::string("<PortType>") + portType + "</PortType>";
        for (int i = 0; i < n; ++i)
            body += drive("SAS", "HDD", t);
        return wrapSystem({body});
    };
    const std::string cool = tree("Intern", "40", 30), hot = tree("Extern", "60", 50);
    loadTree(cool);
    std::atomic<bool> done{false};
    std::thread refresher([&] {
        for (int i = 0; i < 40; ++i) {
            testutil::installTree(i % 2 ? cool : hot);
            RaidC_updateCache();
        }
        done = true;
    });
    int answers = 0;
    while (!done || answers == 0) {
        Count m = at(RaidC_getHDDMaxTemperature, 0);
        ASSERT_TRUE(m == (Count{RAIDC_SUCCESS_INT, 40}) || m == (Count{RAIDC_DEVICE_EXTERN, 60}))
            << m.status << " " << m.n;
        ++answers;
    }
    refresher.join();
}

} // namespace
