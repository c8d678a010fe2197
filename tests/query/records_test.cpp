// The record loaders: field widths, integer rules, fallbacks, what a missing
// device leaves behind; and the enclosure record tree, sized to the cache,
// filled within its own counts, never half-built when an allocation fails.
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <type_traits>

namespace {

using namespace testutil;

std::string el(const std::string &name, const std::string &body = "")
{
    return "<" + name + ">" + body + "</" + name + ">";
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
