// Device counts, state counts, the controller predicates, family flags and
// maximum temperatures per device class. The record loaders: field widths,
// integer rules, fallbacks, what a missing device leaves behind; and the
// enclosure record tree, sized to the cache, filled within its own counts,
// never half-built when an allocation fails.
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

using namespace testutil;

std::string el(const std::string &name, const std::string &body = "")
{
    return "<" + name + ">" + body + "</" + name + ">";
}

// A status and the output as the call left it (preset 77).
using Count = std::pair<int, int64_t>;

template <typename F, typename... Idx> Count at(F fn, Idx... idx)
{
    int64_t n = 77;
    const int st = fn(idx..., &n);
    return {st, n};
}

using PerCtrl = int (*)(int, int64_t *);

// The maximum temperatures that need a count of devices first.
const PerCtrl kCounted[] = {RaidC_getPdMaxTemperature, RaidC_getHDDMaxTemperature, RaidC_getSSDMaxTemperature,
                            RaidC_getNVMeMaxTemperature, RaidC_getProcMaxTemperature};

// An empty cache, a tree without controllers, then one where controller 0
// carries drives directly, under a port and in an enclosure and controller 1
// is bare. NVMe and encrypted drives need exact texts; drives without "Type"
// or "Secured" are skipped, not an end. The state walks stop at the first
// drive without a status, keeping the counts so far. All but the list counts
// clear their output before any check.
TEST(Counts, PerControllerAndTotalCountsStateWalksPredicatesAndFamilyFlags)
{
    testutil::onNeverRefreshedCache([] {
        for (PerCtrl fn : kCounted)
            EXPECT_EQ(at(fn, 0), Count(RAIDC_MAXTEMP_NO_COUNT, 0));
        EXPECT_EQ(at(RaidC_getCtrlMaxTemperature, 0), Count(RAIDC_DEVICE_NOT_FOUND, 0));
        EXPECT_EQ(at(RaidC_getCtrlsNumber), Count(RAIDC_CACHE_EMPTY, 77));
        EXPECT_EQ(at(RaidC_getLdsTotalNumber), Count(RAIDC_CACHE_EMPTY, 77)); // untouched
        EXPECT_EQ(at(RaidC_getPdsTotalNumber), Count(RAIDC_CACHE_EMPTY, 0));
        EXPECT_EQ(at(RaidC_getCtrlNvmePdsTotalNumber, 0), Count(RAIDC_CACHE_EMPTY, 0));
        EXPECT_EQ(RaidC_getCacheStatus(), 0);
        EXPECT_EQ(RaidC_CtrlCanBeConfigured(0), 0);
        EXPECT_EQ(RaidC_CtrlHasBBU(0), RAIDC_CACHE_EMPTY);
    });
    loadTree("<R><System><Name>h</Name></System></R>");
    for (auto total : {RaidC_getCtrlsNumber, RaidC_getLdsTotalNumber, RaidC_getEncTotalNumber, RaidC_getPdsTotalNumber,
                       RaidC_getNvmePdsTotalNumber})
        EXPECT_EQ(at(total), Count(RAIDC_SUCCESS_INT, 0));
    EXPECT_EQ(RaidC_getCacheStatus(), 1);
    EXPECT_EQ(at(RaidC_getPdsNumberForCtrl, 0).first, RAIDC_PARAM_NOT_FOUND);

    auto pd = [](const std::string &body) { return el("PhysicalDrive", body); };
    std::string pds, lds;
    for (const char *s : {"failed", "", "Failed"})
        pds += pd(*s ? el("Status", s) : el("Name", "no status"));
    for (const char *s : {"Degraded", "Optimal", "Partially Degraded", "", "Degraded"})
        lds += el("LogicalDrive", *s ? el("Status", s) : el("Name", "no status"));
    const std::string nvme = pd("<Type>NVMe</Type><Secured>true</Secured><Status>Failed</Status>");
    loadTree(wrapSystem(
        {"<CtrlId>0</CtrlId><ControllerFamily>MR</ControllerFamily><Battery/><RAIDCapabilities/>"
         "<Array/><Port Nr=\"0\">" +
             nvme + "<Enclosure>" + pd("<Type>nvme</Type><Secured>True</Secured><Status>Failed SMART Error</Status>") +
             "</Enclosure></Port><Port Nr=\"1\"/>" + pd("<Type>NVMe </Type><Status>smart warning</Status>") + pds + lds,
         "<CtrlId>1</CtrlId><ControllerFamily>MSCC</ControllerFamily>" + nvme}));
    const struct {
        PerCtrl fn;
        int64_t c0, c1, outside;
    } rows[] = {{RaidC_getPdsNumberForCtrl, 6, 1, 77},        {RaidC_getLdsNumberForCtrl, 5, 0, 77},
                {RaidC_getEncNumberForCtrl, 1, 0, 77},        {RaidC_getArraysNumberForCtrl, 1, 0, 77},
                {RaidC_getPortsNumberForCtrl, 2, 0, 77},      {RaidC_getCtrlNvmePdsTotalNumber, 1, 1, 0},
                {RaidC_getEncryptedPdsNumberForCtrl, 1, 1, 0}};
    for (const auto &r : rows) {
        const int64_t want[] = {r.outside, r.c0, r.c1, r.outside};
        for (int c = -1; c <= 2; ++c) {
            const int status = c == -1 || c == 2 ? RAIDC_PARAM_NOT_FOUND : RAIDC_SUCCESS_INT;
            EXPECT_EQ(at(r.fn, c), Count(status, want[c + 1])) << "row " << &r - rows << ", controller " << c;
        }
    }
    std::vector<int64_t> totals;
    for (auto fn : {RaidC_getCtrlsNumber, RaidC_getPdsTotalNumber, RaidC_getLdsTotalNumber, RaidC_getEncTotalNumber,
                    RaidC_getNvmePdsTotalNumber})
        totals.push_back(at(fn).second);
    EXPECT_EQ(totals, (std::vector<int64_t>{2, 7, 5, 1, 2}));
    const struct {
        int ctrl, status;
        int64_t failed, smart;
    } failed[] = {{0, RAIDC_PARAM_NOT_FOUND, 2, 2}, {1, RAIDC_SUCCESS_INT, 1, 0}, {2, RAIDC_PARAM_NOT_FOUND, 0, 0}};
    for (const auto &r : failed) {
        int64_t f = -1, smart = -1;
        const int st = RaidC_getFailedPdsNumberForCtrl(r.ctrl, &f, &smart);
        EXPECT_EQ(std::tuple(st, f, smart), std::tuple(r.status, r.failed, r.smart)) << r.ctrl;
    }
    EXPECT_EQ(at(RaidC_getDegradedLdsNumberForCtrl, 0), Count(RAIDC_PARAM_NOT_FOUND, 2));
    for (auto predicate : {RaidC_CtrlHasBBU, RaidC_CtrlCanBeConfigured}) {
        for (int c = -1; c <= 2; ++c)
            EXPECT_EQ(predicate(c), c == 0 ? 1 : 0) << c;
    }
    EXPECT_EQ(RaidC_getCacheStatus(), 1 | 2 | 16);
    loadTree(wrapSystem({"<Source>IB</Source><ControllerFamily>x-PCIeSSD</ControllerFamily><ControllerFamily/>",
                         "<Source>ib</Source><ControllerFamily>mr</ControllerFamily>"}));
    EXPECT_EQ(RaidC_getCacheStatus(), 1 | 4 | 8);
}

std::string drive(const char *type, const char *media, const char *temp)
{
    return el("PhysicalDrive", el("Type", type) + el("MediaType", media) + el("Temperature", temp));
}

std::string processor(const char *product, const std::string &temps)
{
    return el("Processor", el("Product", product) + temps);
}

std::string sensor(const char *t)
{
    return el("TemperatureSensor", el("Temperature", t));
}

// Controllers 0-2: the drive classes and the extern rule (HDDs at 35 and 41,
// one with a unit suffix at 60, an SSD at 38, NVMe drives at 50 and 45; the
// classes of well-formed trees are in the tools' transcripts); 3-5: negative and zero
// readings; 6-7: only processors matching the product pattern count. In 6,
// enclosure 0 has a matching expander and a hotter SEP that does not match;
// enclosure 1 is hotter still but has no numeric number. Past the list the
// device counts cannot be read.
TEST(MaxTemperature, ClassesExternRuleReadingsProductPatternAndUnreadableCounts)
{
    const std::string mixed = drive("SAS", "HDD", "35") + drive("SATA", "HDD", "41") + drive("SATA", "HDD", "60C") +
                              drive("SAS", "SSD", "38") + drive("NVMe", "SSD", "50") + drive("NVMe", "SSD", "45");
    loadTree(wrapSystem({mixed, "<PortType>Extern</PortType>" + mixed, "<PortType>Extern</PortType>",
                         drive("SAS", "HDD", "-5") + drive("SAS", "HDD", "-1"),
                         drive("SAS", "HDD", "-3") + drive("SAS", "HDD", "0") + "<ChipTemperature>0</ChipTemperature>",
                         "<ChipTemperature>-4</ChipTemperature><Battery><Temperature>-2</Temperature></Battery>",
                         "<Port><Enclosure><EnclosureNumber>1</EnclosureNumber>" +
                             processor("SAS3_EXPx28", sensor("26") + sensor("2.5") + sensor("44")) +
                             processor("SAS3x36R", sensor("70")) + processor("s3_expA", sensor("71")) +
                             "</Enclosure><Enclosure><EnclosureNumber>n/a</EnclosureNumber>" +
                             processor("S12_0_EXPa", sensor("90")) + "</Enclosure></Port>",
                         "<Port><Enclosure><EnclosureNumber>2</EnclosureNumber>" + processor("SAS3_EXPx28", "") +
                             processor("SAS3x36R", sensor("50")) + "</Enclosure></Port>"}));
    const int ok = RAIDC_SUCCESS_INT, none = RAIDC_DEVICE_NOT_FOUND, ext = RAIDC_DEVICE_EXTERN;
    const struct {
        PerCtrl fn;
        int ctrl;
        Count want;
    } rows[] = {{RaidC_getPdMaxTemperature, 0, {ok, 41}},    {RaidC_getHDDMaxTemperature, 0, {ok, 41}},
                {RaidC_getPdMaxTemperature, 1, {ext, 41}},   {RaidC_getSSDMaxTemperature, 2, {ext, 0}},
                {RaidC_getPdMaxTemperature, 3, {none, 0}},   {RaidC_getHDDMaxTemperature, 4, {ok, 0}},
                {RaidC_getCtrlMaxTemperature, 4, {none, 0}}, {RaidC_getCtrlMaxTemperature, 5, {none, 0}},
                {RaidC_getProcMaxTemperature, 6, {ok, 44}},  {RaidC_getProcMaxTemperature, 7, {none, 0}},
                {RaidC_getCtrlMaxTemperature, 8, {none, 0}}, {RaidC_getBBUMaxTemperature, 8, {none, 0}}};
    for (const auto &r : rows)
        EXPECT_EQ(at(r.fn, r.ctrl), r.want) << "row " << &r - rows;
    for (PerCtrl fn : kCounted) {
        EXPECT_EQ(at(fn, 8), Count(RAIDC_MAXTEMP_NO_COUNT, 0));
        EXPECT_EQ(at(fn, -1), Count(RAIDC_MAXTEMP_NO_COUNT, 0));
    }
}

// Every answer comes from one cache state: a refresh swaps between a tree
// with internal drives at 40 and one with external drives at 60, so a mix
// would pair a status of one tree with the maximum of the other.
TEST(MaxTemperature, ConcurrentRefreshNeverMixesTwoCacheStates)
{
    std::string cool, hot = "<PortType>Extern</PortType>";
    for (int i = 0; i < 30; ++i) {
        cool += drive("SAS", "HDD", "40");
        hot += drive("SAS", "HDD", "60");
    }
    loadTree(wrapSystem({cool}));
    std::atomic<bool> done{false};
    std::thread refresher([&] {
        for (int i = 0; i < 40; ++i) {
            testutil::installTree(wrapSystem({i % 2 ? cool : hot}));
            RaidC_updateCache();
        }
        done = true;
    });
    for (int answers = 0; !done || answers == 0; ++answers) {
        const Count m = at(RaidC_getHDDMaxTemperature, 0);
        ASSERT_TRUE(m == Count(RAIDC_SUCCESS_INT, 40) || m == Count(RAIDC_DEVICE_EXTERN, 60))
            << m.first << " " << m.second;
    }
    refresher.join();
}

template <typename R> R poisoned()
{
    R r;
    memset(&r, 0x5A, sizeof r);
    return r;
}

// Whether only the bytes [from, from + len) of the record were written.
template <typename R> bool onlyWritten(R r, size_t from, size_t len)
{
    memset(reinterpret_cast<char *>(&r) + from, 0x5A, len);
    const R untouched = poisoned<R>();
    return !memcmp(&r, &untouched, sizeof r);
}

// A field of a poisoned record that every query left unanswered: -1, or
// "-" with nothing written after its terminator.
template <typename T> bool unanswered(const T &v)
{
    if constexpr (std::is_array_v<T>)
        return !memcmp(v, "-", 2) && std::all_of(v + 2, std::end(v), [](char c) { return c == 0x5A; });
    else
        return v == -1;
}

#define EXPECT_UNANSWERED(field) EXPECT_TRUE(unanswered(rec.field)) << #field;

const std::string kLong(200, 'v');

TEST(LoadCtrlAndBbuInfo, WidthsIntegerRulesAndControllersOutsideTheList)
{
    loadTree(wrapSystem({"<AdapterNumber>3</AdapterNumber>" + el("Name", kLong) + el("Vendor", kLong) +
                         "<PCIBus>0x3B</PCIBus><ChipTemperature>0</ChipTemperature>"
                         "<UncorrErrorCount>4294967297</UncorrErrorCount>"}));
    auto r = poisoned<RaidCCtrlInfo>();
    ASSERT_EQ(RaidC_LoadCtrlInfo(0, &r), 1);
    EXPECT_EQ(r.AdapterNumber, 3);
    EXPECT_EQ(std::string(r.Name, sizeof r.Name), std::string(sizeof r.Name, 'v')) << "cut, unterminated";
    EXPECT_EQ(r.Vendor, kLong);
    EXPECT_EQ(r.PCIBus, -1) << "hexadecimal text has a letter";
    EXPECT_EQ(r.ChipTemperature, 0) << "the value stands although the query reports it as not found";
    EXPECT_EQ(r.UncorrErrorCount, 1) << "low 32 bits";
    for (int idx : {1, -1}) {
        auto rec = poisoned<RaidCCtrlInfo>();
        EXPECT_EQ(RaidC_LoadCtrlInfo(idx, &rec), 1);
        RAIDC_CTRL_INFO_FIELDS(EXPECT_UNANSWERED)
    }
    // A controller whose entry is empty: only the probe is written.
    r = poisoned<RaidCCtrlInfo>();
    auto b = poisoned<RaidCBbuInfo>();
    pthread_mutex_lock(&RaidC_ThreadMutex);
    XMLNode *saved = ctrlList->nodes[0];
    ctrlList->nodes[0] = nullptr;
    const int rc = RaidC_LoadCtrlInfo(0, &r), rb = RaidC_LoadBbuInfo(0, &b);
    ctrlList->nodes[0] = saved;
    pthread_mutex_unlock(&RaidC_ThreadMutex);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(r.AdapterNumber, -1);
    EXPECT_TRUE(onlyWritten(r, 0, 4));
    EXPECT_EQ(rb, 0);
    EXPECT_STREQ(b.Status, "-");
    EXPECT_TRUE(onlyWritten(b, offsetof(RaidCBbuInfo, Status), 2));
}

// The drive number falls back to the slot; the enclosure number has none.
// A probe that finds nothing still fills the rest; a drive outside the list
// gets only the probe's "-".
TEST(LoadPdlAndLdInfo, FallbacksProbesAndMissingDrives)
{
    loadTree(wrapSystem({el("PhysicalDrive", "<DeviceNumber>N/A</DeviceNumber><Slot>5</Slot>"
                                             "<EnclosureNumber>1a</EnclosureNumber>") +
                         el("PhysicalDrive", "<PowerStatus>Active</PowerStatus><RPM>7200</RPM>")}));
    const std::array<int32_t, 3> want[] = {{5, 5, -1}, {-1, -1, -1}}; // drive number, slot, enclosure
    auto r = poisoned<RaidCPdInfo>();
    for (int d = 0; d < 2; ++d) {
        ASSERT_EQ(RaidC_LoadPdlInfo(0, d, &r), 1);
        EXPECT_EQ((std::array{r.DeviceNumber, r.Slot, r.EnclosureNumber}), want[d]) << d;
    }
    EXPECT_STREQ(r.Product, "-");
    EXPECT_STREQ(r.PowerStatus, "Active");
    EXPECT_STREQ(r.RPM, "7.2");
    for (int idx : {2, -1}) {
        r = poisoned<RaidCPdInfo>();
        EXPECT_EQ(RaidC_LoadPdlInfo(0, idx, &r), 0);
        EXPECT_TRUE(onlyWritten(r, 0, 2)) << idx;
    }
    auto l = poisoned<RaidCLdInfo>();
    EXPECT_EQ(RaidC_LoadLdInfo(0, 0, &l), 0);
    EXPECT_TRUE(onlyWritten(l, offsetof(RaidCLdInfo, RAIDLevel), 2));
}

// One controller with one port holding the given enclosures.
std::string ports(const std::string &enclosures)
{
    return wrapSystem({el("Port", enclosures)});
}

using Tree = std::unique_ptr<RaidCEncInfo, void (*)(RaidCEncInfo *)>;

Tree build(int ctrl, int enc)
{
    return Tree(RaidC_getEncInfoStructure(ctrl, enc), RaidC_freeEncInfoStructure);
}

TEST(EncInfoStructure, SizedToTheCachedEnclosureAndLoadedWithinItsOwnCounts)
{
    testutil::onNeverRefreshedCache([] { EXPECT_FALSE(build(0, 0)); });
    // P0: 2 fans, 1 power supply, 2 sensors and elements that only look like
    // fans; a foreign element; P1 without components.
    loadTree(ports(el("Enclosure", el("Processor", el("Fan") + el("Fan") + el("PowerSupply") + el("TemperatureSensor") +
                                                       el("TemperatureSensor") + "<Fans/><fan/>") +
                                       "<Other/>" + el("Processor"))));
    for (auto [ctrl, enc] : {std::pair{0, -1}, {0, 1}, {1, 0}})
        EXPECT_FALSE(build(ctrl, enc)) << ctrl << "/" << enc;
    Tree t = build(0, 0);
    ASSERT_TRUE(t);
    ASSERT_EQ(t->ProcessorCount, 2);
    RaidCEncProcInfo *procs = t->Processors;
    ASSERT_EQ(procs[0].FanCount * 100 + procs[0].PowerSupplyCount * 10 + procs[0].TempSensorCount, 212);
    EXPECT_TRUE(procs[0].Fans && procs[0].PowerSupplies && procs[0].TempSensors);
    EXPECT_EQ(procs[1].FanCount + procs[1].PowerSupplyCount + procs[1].TempSensorCount, 0);
    memset(procs[0].TempSensors, 0x5A, 2 * sizeof *procs[0].TempSensors);
    memset(&procs[1], 0x5A, offsetof(RaidCEncProcInfo, FanCount));

    // Now the cache has one processor with three fans and one sensor: the
    // loader fills exactly the records of the tree, each from its own
    // element, with "-" and -1 where nothing answers.
    loadTree(ports(el("Enclosure", el("Processor", el("Fan") + el("Fan", el("Name", "1")) + el("Fan") +
                                                       el("TemperatureSensor", el("Temperature", "10"))))));
    ASSERT_EQ(RaidC_LoadEncInfo(0, 0, t.get()), 1);
    EXPECT_EQ(t->ProcessorCount, 2);
    EXPECT_EQ(t->Processors, procs);
    EXPECT_STREQ(procs[0].Fans[1].Name, "1");
    EXPECT_EQ(procs[0].TempSensors[0].Temperature, 10);
    EXPECT_TRUE(unanswered(procs[0].TempSensors[1].Name) && unanswered(procs[0].TempSensors[1].Temperature));
    const RaidCEncProcInfo &rec = procs[1];
    RAIDC_ENC_PROC_INFO_FIELDS(EXPECT_UNANSWERED)

    // An enclosure index outside the list: only the enclosure number is written.
    auto e = poisoned<RaidCEncInfo>();
    EXPECT_EQ(RaidC_LoadEncInfo(0, 1, &e), 0);
    EXPECT_EQ(e.EnclosureNumber, -1);
    EXPECT_TRUE(onlyWritten(e, 0, 4));

    // Without processors the tree still has one placeholder, never filled.
    loadTree(ports(el("Enclosure", el("Name", "bare"))));
    t = build(0, 0);
    ASSERT_TRUE(t && t->Processors);
    EXPECT_EQ(t->ProcessorCount, 0);
    EXPECT_EQ(RaidC_LoadEncInfo(0, 0, t.get()), 1);
    const RaidCEncProcInfo zero{};
    EXPECT_EQ(memcmp(t->Processors, &zero, sizeof zero), 0);
    loadTree(wrapSystem({"<Port/>"}));
    EXPECT_FALSE(build(0, 0)) << "controller without enclosures";
}

#ifdef RAIDC_FAULT_INJECTION
// Fails each allocation of the build in turn: each attempt gives null and
// releases what it had (the fault build runs under LeakSanitizer), until
// the attempt with no failure builds the whole tree.
TEST(EncInfoStructure, EveryFailedAllocationGivesNull)
{
    loadTree(ports(el("Enclosure", el("Processor", "<Fan/><TemperatureSensor/><TemperatureSensor/>") + el("Processor") +
                                       el("Processor", "<PowerSupply/><Fan/>"))));
    RaidCEncInfo *t = nullptr;
    auto run = [&] { t = RaidC_getEncInfoStructure(0, 0); };
    const long failures = testutil::forEachFaultPoint(run, [&](long nth, bool faulted) {
        EXPECT_EQ(t == nullptr, faulted) << "allocation " << nth;
        if (t) {
            EXPECT_EQ(t->Processors[2].PowerSupplyCount, 1);
            RaidC_freeEncInfoStructure(t);
        }
    });
    EXPECT_EQ(failures, 6) << "enclosure, processors, and one array per non-empty component kind";
}
#endif

} // namespace
