// The enclosure record tree: sized to the enclosure as cached, filled by the
// loader within the tree's own counts, released whole, and never half-built
// when an allocation fails.
#include "testutil.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using testutil::loadTree;

std::string el(const std::string &name, const std::string &body = "")
{
    return "<" + name + ">" + body + "</" + name + ">";
}

// One controller with one port holding the given enclosures.
std::string oneController(const std::string &enclosures)
{
    return testutil::wrapSystem({el("Port", enclosures)});
}

using Tree = std::unique_ptr<RaidCEncInfo, void (*)(RaidCEncInfo *)>;

Tree build(int ctrl, int enc)
{
    return Tree(RaidC_getEncInfoStructure(ctrl, enc), RaidC_freeEncInfoStructure);
}

// P0: 2 fans, 1 power supply, 2 sensors and elements that only look like
// fans; a foreign element; P1 without components.
const std::string kTwoProcessors =
    el("Enclosure", el("Processor", el("Fan", el("Name", "f")) + el("Fan") + el("PowerSupply") +
                                        el("TemperatureSensor") + el("TemperatureSensor") + "<Fans/><fan/>") +
                        "<Other/>" + el("Processor", el("Name", "P1")));

// A record the loader found nothing for: -1 and "-" in every field.
bool unanswered(int32_t v)
{
    return v == -1;
}

bool unanswered(const char *s)
{
    return !strcmp(s, "-");
}

#define EXPECT_UNANSWERED(field) EXPECT_TRUE(unanswered(rec.field)) << #field;

TEST(EncInfoStructure, SizedToTheCachedEnclosureAndLoadedWithinItsOwnCounts)
{
    testutil::onNeverRefreshedCache([] { EXPECT_FALSE(build(0, 0)); });
    loadTree(oneController(kTwoProcessors));
    for (int bad : {-1, 1})
        EXPECT_FALSE(build(0, bad));
    EXPECT_FALSE(build(1, 0));
    Tree t = build(0, 0);
    ASSERT_TRUE(t);
    ASSERT_EQ(t->ProcessorCount, 2);
    RaidCEncProcInfo *procs = t->Processors;
    EXPECT_EQ(procs[0].FanCount * 100 + procs[0].PowerSupplyCount * 10 + procs[0].TempSensorCount, 212);
    EXPECT_TRUE(procs[0].Fans && procs[0].PowerSupplies && procs[0].TempSensors);
    EXPECT_EQ(procs[1].FanCount + procs[1].PowerSupplyCount + procs[1].TempSensorCount, 0);

    // Now the cache has one processor without components: the loader fills
    // exactly the records of the tree, with "-" and -1 where nothing answers.
    loadTree(oneController(
        el("Enclosure", el("EnclosureNumber", "5") + el("Processor", el("SASAddress", std::string(300, 'a'))))));
    ASSERT_EQ(RaidC_LoadEncInfo(0, 0, t.get()), 1);
    EXPECT_EQ(t->EnclosureNumber, 5);
    EXPECT_EQ(t->ProcessorCount, 2);
    EXPECT_EQ(t->Processors, procs);
    EXPECT_EQ(std::string(procs[0].SASAddress, sizeof procs[0].SASAddress), std::string(128, 'a'));
    EXPECT_EQ(procs[0].FanCount, 2);
    for (const RaidCEncFanInfo &rec : {procs[0].Fans[0], procs[0].Fans[1]}) {
        RAIDC_ENC_FAN_INFO_FIELDS(EXPECT_UNANSWERED)
    }
    const RaidCEncProcInfo &rec = procs[1];
    RAIDC_ENC_PROC_INFO_FIELDS(EXPECT_UNANSWERED)

    // An enclosure index outside the list: only the enclosure number changes.
    RaidCEncInfo before;
    memcpy(&before, t.get(), sizeof before);
    EXPECT_EQ(RaidC_LoadEncInfo(0, 1, t.get()), 0);
    EXPECT_EQ(t->EnclosureNumber, -1);
    const size_t rest = offsetof(RaidCEncInfo, EnclosureChainNumber);
    EXPECT_EQ(memcmp(reinterpret_cast<char *>(t.get()) + rest, reinterpret_cast<char *>(&before) + rest,
                     sizeof before - rest),
              0);
    loadTree(testutil::wrapSystem({"<Port/>"}));
    EXPECT_FALSE(build(0, 0)) << "controller without enclosures";
}

TEST(EncInfoStructure, EnclosureWithoutProcessorsHasOneZeroPlaceholder)
{
    loadTree(oneController(el("Enclosure", el("Name", "bare")) + "<Enclosure/>"));
    const RaidCEncProcInfo zero{};
    for (int e = 0; e < 2; ++e) {
        Tree t = build(0, e);
        ASSERT_TRUE(t && t->Processors);
        EXPECT_EQ(t->ProcessorCount, 0);
        EXPECT_EQ(RaidC_LoadEncInfo(0, e, t.get()), 1);
        EXPECT_EQ(memcmp(t->Processors, &zero, sizeof zero), 0) << "never filled";
    }
}

// Processor i carries i%4 fans and i%5 sensors named after their place, so a
// record filled from the wrong element shows.
TEST(EncInfoStructure, ManyProcessorsLoadIntoTheirOwnRecords)
{
    const int n = 200;
    std::string procs;
    for (int i = 0; i < n; ++i) {
        std::string body = el("PortNumber", std::to_string(i));
        for (int k = 0; k < i % 4; ++k)
            body += el("Fan", el("Name", std::to_string(i) + "." + std::to_string(k)));
        for (int k = 0; k < i % 5; ++k)
            body += el("TemperatureSensor", el("Temperature", std::to_string(i * 10 + k)));
        procs += el("Processor", body);
    }
    loadTree(oneController(el("Enclosure", el("EnclosureNumber", "9") + procs)));
    Tree t = build(0, 0);
    ASSERT_TRUE(t);
    ASSERT_EQ(RaidC_LoadEncInfo(0, 0, t.get()), 1);
    EXPECT_EQ(t->EnclosureNumber, 9);
    EXPECT_STREQ(t->Name, "-");
    ASSERT_EQ(t->ProcessorCount, n);
    for (int i = 0; i < n; ++i) {
        const RaidCEncProcInfo &p = t->Processors[i];
        ASSERT_EQ(p.PortNumber, i);
        ASSERT_EQ(p.DeviceNumber, -1);
        ASSERT_EQ(p.FanCount, i % 4);
        for (int k = 0; k < p.FanCount; ++k)
            ASSERT_EQ(p.Fans[k].Name, std::to_string(i) + "." + std::to_string(k));
        for (int k = 0; k < p.TempSensorCount; ++k) {
            ASSERT_EQ(p.TempSensors[k].Temperature, i * 10 + k);
            ASSERT_EQ(p.TempSensors[k].WarningTemperatureL, -1);
        }
    }
}

#ifdef RAIDC_FAULT_INJECTION
// Fails each allocation of the build in turn: each attempt gives null and
// releases what it had (the fault build runs under LeakSanitizer), until
// the attempt with no failure builds the whole tree.
TEST(EncInfoStructure, EveryFailedAllocationGivesNull)
{
    loadTree(oneController(el("Enclosure", el("Processor", "<Fan/><TemperatureSensor/><TemperatureSensor/>") +
                                               el("Processor") + el("Processor", "<PowerSupply/><Fan/>"))));
    RaidCEncInfo *t = nullptr;
    const long failures = testutil::forEachFaultPoint([&] { t = RaidC_getEncInfoStructure(0, 0); },
                                                      [&](long nth, bool faulted) {
                                                          if (faulted) {
                                                              EXPECT_EQ(t, nullptr) << "allocation " << nth;
                                                              return;
                                                          }
                                                          ASSERT_NE(t, nullptr);
                                                          EXPECT_EQ(t->Processors[2].PowerSupplyCount, 1);
                                                          RaidC_freeEncInfoStructure(t);
                                                      });
    EXPECT_EQ(failures, 6) << "enclosure, processors, and one array per non-empty component kind";
}
#endif

} // namespace
