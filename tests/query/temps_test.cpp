// Maximum temperatures per device class.
#include "testutil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

using testutil::loadTree;
using testutil::wrapSystem;

std::string drive(const char *type, const char *media, const char *temp)
{
    return std::string("<PhysicalDrive><Type>") + type + "</Type><MediaType>" + media + "</MediaType><Temperature>" +
           temp + "</Temperature></PhysicalDrive>";
}

using MaxFn = int (*)(int, int64_t *);

struct Max {
    int status;
    int64_t value;
    bool operator==(const Max &) const = default;
};

Max ask(MaxFn fn, int ctrlIdx)
{
    int64_t v = 99;
    int st = fn(ctrlIdx, &v);
    return {st, v};
}

void PrintTo(const Max &m, std::ostream *os)
{
    *os << "{status " << m.status << ", max " << m.value << "}";
}

// HDDs at 35 and 41 (one with a unit suffix at 60), an SSD at 38, an NVMe
// SSD at 50 and one at 45 whose MediaType says SSD.
std::string mixedDrives(const char *portType)
{
    return std::string("<CtrlId>0</CtrlId><PortType>") + portType + "</PortType>" + drive("SAS", "HDD", "35") +
           drive("SATA", "HDD", "41") + drive("SATA", "HDD", "60C") + drive("SAS", "SSD", "38") +
           drive("NVMe", "SSD", "50") + drive("NVMe", "SSD", "45");
}

TEST(MaxTemperature, DriveClassesAndTheExternRule)
{
    loadTree(wrapSystem({mixedDrives("Intern"), mixedDrives("Extern"), "<PortType>Extern</PortType>"}));
    EXPECT_EQ(ask(RaidC_getPdMaxTemperature, 0), (Max{RAIDC_SUCCESS_INT, 41}));
    EXPECT_EQ(ask(RaidC_getHDDMaxTemperature, 0), (Max{RAIDC_SUCCESS_INT, 41}));
    EXPECT_EQ(ask(RaidC_getSSDMaxTemperature, 0), (Max{RAIDC_SUCCESS_INT, 38}));
    EXPECT_EQ(ask(RaidC_getNVMeMaxTemperature, 0), (Max{RAIDC_SUCCESS_INT, 50}));
    EXPECT_EQ(ask(RaidC_getPdMaxTemperature, 1), (Max{RAIDC_DEVICE_EXTERN, 41}));
    EXPECT_EQ(ask(RaidC_getNVMeMaxTemperature, 1), (Max{RAIDC_DEVICE_EXTERN, 50}));
    EXPECT_EQ(ask(RaidC_getSSDMaxTemperature, 2), (Max{RAIDC_DEVICE_EXTERN, 0}));
}

TEST(MaxTemperature, NegativeAndZeroReadings)
{
    loadTree(wrapSystem({drive("SAS", "HDD", "-5") + drive("SAS", "HDD", "-1"),
                         drive("SAS", "HDD", "-3") + drive("SAS", "HDD", "0") + "<ChipTemperature>0</ChipTemperature>",
                         "<ChipTemperature>-4</ChipTemperature><Battery><Temperature>-2</Temperature></Battery>"}));
    EXPECT_EQ(ask(RaidC_getPdMaxTemperature, 0), (Max{RAIDC_DEVICE_NOT_FOUND, 0}));
    EXPECT_EQ(ask(RaidC_getHDDMaxTemperature, 1), (Max{RAIDC_SUCCESS_INT, 0}));
    EXPECT_EQ(ask(RaidC_getCtrlMaxTemperature, 1), (Max{RAIDC_DEVICE_NOT_FOUND, 0}));
    EXPECT_EQ(ask(RaidC_getCtrlMaxTemperature, 2), (Max{RAIDC_DEVICE_NOT_FOUND, 0}));
    EXPECT_EQ(ask(RaidC_getBBUMaxTemperature, 2), (Max{RAIDC_DEVICE_NOT_FOUND, 0}));
    EXPECT_EQ(ask(RaidC_getPdMaxTemperature, 2), (Max{RAIDC_DEVICE_NOT_FOUND, 0}));
}

TEST(MaxTemperature, UnreadableCountsGiveSeventeen)
{
    const MaxFn counted[] = {RaidC_getPdMaxTemperature, RaidC_getHDDMaxTemperature, RaidC_getSSDMaxTemperature,
                             RaidC_getNVMeMaxTemperature, RaidC_getProcMaxTemperature};
    testutil::onNeverRefreshedCache([&] {
        for (MaxFn fn : counted)
            EXPECT_EQ(ask(fn, 0), (Max{RAIDC_MAXTEMP_NO_COUNT, 0}));
        EXPECT_EQ(ask(RaidC_getCtrlMaxTemperature, 0), (Max{RAIDC_DEVICE_NOT_FOUND, 0}));
    });
    loadTree(wrapSystem({"<ChipTemperature>70</ChipTemperature><Battery><Temperature>33</Temperature></Battery>" +
                         drive("SAS", "HDD", "30")}));
    EXPECT_EQ(ask(RaidC_getCtrlMaxTemperature, 0), (Max{RAIDC_SUCCESS_INT, 70}));
    EXPECT_EQ(ask(RaidC_getBBUMaxTemperature, 0), (Max{RAIDC_SUCCESS_INT, 33}));
    for (MaxFn fn : counted) {
        EXPECT_EQ(ask(fn, 1), (Max{RAIDC_MAXTEMP_NO_COUNT, 0}));
        EXPECT_EQ(ask(fn, -1), (Max{RAIDC_MAXTEMP_NO_COUNT, 0}));
    }
    EXPECT_EQ(ask(RaidC_getCtrlMaxTemperature, 1), (Max{RAIDC_DEVICE_NOT_FOUND, 0}));
    EXPECT_EQ(ask(RaidC_getBBUMaxTemperature, 1), (Max{RAIDC_DEVICE_NOT_FOUND, 0}));
    EXPECT_EQ(RaidC_getPdMaxTemperature(0, nullptr), RAIDC_INPUT_NOT_INITIALIZED);
    EXPECT_STREQ(RaidC_AccessStatusToString(RAIDC_MAXTEMP_NO_COUNT), "status unknown");
}

std::string processor(const char *product, const char *temps)
{
    return std::string("<Processor><Product>") + product + "</Product>" + temps + "</Processor>";
}

std::string sensor(const char *t)
{
    return std::string("<TemperatureSensor><Temperature>") + t + "</Temperature></TemperatureSensor>";
}

TEST(MaxTemperature, OnlyProcessorsMatchingTheProductPatternCount)
{
    // Enclosure 0: a matching expander and a hotter SEP that does not match.
    // Enclosure 1 is hotter still but has no numeric number.
    std::string matched = processor("SAS3_EXPx28", (sensor("26") + sensor("2.5") + sensor("44")).c_str());
    loadTree(wrapSystem({"<Port><Enclosure><EnclosureNumber>1</EnclosureNumber>" + matched +
                             processor("SAS3x36R", sensor("70").c_str()) + processor("s3_expA", sensor("71").c_str()) +
                             "</Enclosure><Enclosure><EnclosureNumber>n/a</EnclosureNumber>" +
                             processor("S12_0_EXPa", sensor("90").c_str()) + "</Enclosure></Port>",
                         "<Port><Enclosure><EnclosureNumber>2</EnclosureNumber>" + processor("SAS3_EXPx28", "") +
                             processor("SAS3x36R", sensor("50").c_str()) + "</Enclosure></Port>",
                         "<Port/>"}));
    EXPECT_EQ(ask(RaidC_getProcMaxTemperature, 0), (Max{RAIDC_SUCCESS_INT, 44}));
    EXPECT_EQ(ask(RaidC_getProcMaxTemperature, 1), (Max{RAIDC_DEVICE_NOT_FOUND, 0}));
    EXPECT_EQ(ask(RaidC_getProcMaxTemperature, 2), (Max{RAIDC_DEVICE_NOT_FOUND, 0}));
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
        Max m = ask(RaidC_getHDDMaxTemperature, 0);
        ASSERT_TRUE(m == (Max{RAIDC_SUCCESS_INT, 40}) || m == (Max{RAIDC_DEVICE_EXTERN, 60}))
            << m.status << " " << m.value;
        ++answers;
    }
    refresher.join();
}

} // namespace
