// Enclosure, battery, array, port and status queries through the public
// interface, over small trees written to the device tree file.
#include "testutil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using testutil::loadTree;
using testutil::wrapSystem;

struct Answer {
    int status;
    std::string text;
    int64_t value;
};

// Asks a query once for text (bufLen given) and gives status and buffer.
template <typename Q> Answer askText(Q &&q, unsigned int bufLen = 64)
{
    char buf[128];
    memset(buf, 'x', sizeof buf);
    buf[sizeof buf - 1] = '\0';
    int st = q(buf, bufLen, nullptr);
    return {st, std::string(buf, st == RAIDC_BUFFER_TOO_SMALL ? bufLen : strlen(buf)), -1};
}

template <typename Q> Answer askInt(Q &&q)
{
    int64_t v = 99;
    int st = q(nullptr, 0, &v);
    return {st, {}, v};
}

// An enclosure whose processors, fans and sensors exercise the ordinal walk:
// a foreign element between the processors, a fan without children before a
// real one, temperatures with a point and with letters before a number.
const char *kEnclosures = "<CtrlId>0</CtrlId><Port Nr=\"0\">"
                          "<Enclosure Nr=\"1\"><EnclosureNumber>1</EnclosureNumber><Name>Shelf</Name>"
                          "<Processor Nr=\"0\"><Name>A</Name><Fan/><Fan><Name>F1</Name></Fan>"
                          "<TemperatureSensor><Name>S0</Name><Temperature>41</Temperature></TemperatureSensor>"
                          "<TemperatureSensor><Temperature>3.5</Temperature><Temperature>2x</Temperature>"
                          "<Temperature>30</Temperature></TemperatureSensor>"
                          "<PowerSupply><Name>P0</Name><Status/></PowerSupply></Processor>"
                          "<Other><Name>not a processor</Name></Other>"
                          "<Processor Nr=\"1\"><Name>B</Name></Processor></Enclosure>"
                          "<Enclosure Nr=\"2\"/></Port>";

auto enc(const char *p, int c, int e)
{
    return [=](char *s, unsigned int n, int64_t *i) { return RaidC_getEncInfo(p, c, e, s, n, i); };
}
auto proc(const char *p, int e, int pr)
{
    return [=](char *s, unsigned int n, int64_t *i) { return RaidC_getEncProcInfo(p, 0, e, pr, s, n, i); };
}
auto fan(const char *p, int k)
{
    return [=](char *s, unsigned int n, int64_t *i) { return RaidC_getEncFanInfo(p, 0, 0, 0, k, s, n, i); };
}
auto sensor(const char *p, int pr, int k)
{
    return [=](char *s, unsigned int n, int64_t *i) { return RaidC_getEncTempInfo(p, 0, 0, pr, k, s, n, i); };
}

TEST(EnclosureQuery, OrdinalsCountOnlyTheirOwnNameAndKeepChildlessPlaces)
{
    loadTree(wrapSystem({kEnclosures}));
    EXPECT_EQ(askText(proc("Name", 0, 1)).text, "B");
    EXPECT_EQ(askText(proc("Name", 0, 2)).status, RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(askText(fan("Name", 0)).status, RAIDC_PARAM_NOT_FOUND);
    Answer f1 = askText(fan("Name", 1));
    EXPECT_EQ(f1.status, RAIDC_SUCCESS_STRING);
    EXPECT_EQ(f1.text, "F1");
    EXPECT_EQ(askText(fan("Name", -1)).status, RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(askText(sensor("Name", 0, 2)).status, RAIDC_PARAM_NOT_FOUND);
    // Processor 1 has no components at all.
    EXPECT_EQ(askText(sensor("Name", 1, 0)).status, RAIDC_PARAM_NOT_FOUND);
    Answer psu =
        askText([](char *s, unsigned int n, int64_t *i) { return RaidC_getEncPwrInfo("Name", 0, 0, 0, 0, s, n, i); });
    EXPECT_EQ(psu.text, "P0");
}

TEST(EnclosureQuery, IntegersSkipPointsAndLettersTextsAreBounded)
{
    loadTree(wrapSystem({kEnclosures}));
    Answer t0 = askInt(sensor("Temperature", 0, 0));
    EXPECT_EQ(t0.status, RAIDC_SUCCESS_INT);
    EXPECT_EQ(t0.value, 41);
    Answer t1 = askInt(sensor("Temperature", 0, 1));
    EXPECT_EQ(t1.status, RAIDC_SUCCESS_INT);
    EXPECT_EQ(t1.value, 30);
    Answer cut = askText(sensor("Temperature", 0, 0), 1);
    EXPECT_EQ(cut.status, RAIDC_BUFFER_TOO_SMALL);
    EXPECT_EQ(cut.text, "4");
    // A matching element without text ends the search with "-" left behind.
    Answer empty =
        askText([](char *s, unsigned int n, int64_t *i) { return RaidC_getEncPwrInfo("Status", 0, 0, 0, 0, s, n, i); });
    EXPECT_EQ(empty.status, RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(empty.text, "-");
    EXPECT_EQ(askInt(enc("Name", 0, 0)).value, -1);
}

TEST(EnclosureQuery, PositionChecks)
{
    testutil::onNeverRefreshedCache([] {
        EXPECT_EQ(askText(enc("Name", 0, 0)).status, RAIDC_CACHE_EMPTY);
        Answer before = askInt(sensor("Temperature", 0, 0));
        EXPECT_EQ(before.status, RAIDC_CACHE_EMPTY);
        EXPECT_EQ(before.value, -1);
    });
    loadTree(wrapSystem({kEnclosures}));
    EXPECT_EQ(askText(enc("Name", 0, 2)).status, RAIDC_DEVICE_NOT_FOUND);
    EXPECT_EQ(askText(enc("Name", 0, -1)).status, RAIDC_DEVICE_NOT_FOUND);
    EXPECT_EQ(askText(enc("Name", 1, 0)).status, RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(askText(enc("Name", 0, 1)).status, RAIDC_PARAM_NOT_FOUND); // no children
    EXPECT_EQ(askText(enc(nullptr, 0, 0)).status, RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(RaidC_getEncInfo("Name", 0, 0, nullptr, 0, nullptr), RAIDC_PARAM_NOT_FOUND);
}

TEST(EnclosureQuery, ComponentCountsForTheTemperatureWalk)
{
    loadTree(wrapSystem({kEnclosures}));
    pthread_mutex_lock(&RaidC_ThreadMutex);
    int64_t n = -1;
    EXPECT_EQ(raidinternal_getProcNumberForEncl(0, 0, &n), RAIDC_SUCCESS_INT);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(raidinternal_getProcNumberForEncl(0, 1, &n), RAIDC_SUCCESS_INT);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(raidinternal_getProcNumberForEncl(0, 7, &n), RAIDC_SUCCESS_INT);
    EXPECT_EQ(n, 0);
    const int64_t sensors[] = {2, 0, 0};
    for (int p = 0; p < 3; ++p) {
        EXPECT_EQ(raidinternal_getTempNumberForProc(0, 0, p, &n), RAIDC_SUCCESS_INT);
        EXPECT_EQ(n, sensors[p]) << "processor " << p;
    }
    EXPECT_EQ(raidinternal_getTempNumberForProc(1, 0, 0, &n), RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(n, 0);
    pthread_mutex_unlock(&RaidC_ThreadMutex);
}

TEST(EnclosureQuery, ControllerWithoutAttributesAnswersNothingBelowIt)
{
    loadTree("<R><System><Adapter><Port><Enclosure><Name>E</Name></Enclosure></Port>"
             "<Array><Name>A</Name></Array><Battery><Name>B</Name></Battery></Adapter></System></R>");
    EXPECT_EQ(askText(enc("Name", 0, 0)).status, RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(RaidC_getArrayInfo("Name", 0, 0, nullptr, 0, nullptr), RAIDC_PARAM_NOT_FOUND);
    char b[8];
    EXPECT_EQ(RaidC_getBBUInfo("Name", 0, b, sizeof b, nullptr), RAIDC_PARAM_NOT_FOUND);
}

TEST(ComponentQuery, OnlyTheFirstBatteryIsRead)
{
    loadTree(wrapSystem({"<CtrlId>0</CtrlId><Battery><Name>first</Name><Temperature>31</Temperature></Battery>"
                         "<Battery><Vendor>second</Vendor></Battery>",
                         "<CtrlId>1</CtrlId>"}));
    auto bbu = [](const char *p, int c) {
        return [=](char *s, unsigned int n, int64_t *i) { return RaidC_getBBUInfo(p, c, s, n, i); };
    };
    EXPECT_EQ(askText(bbu("Name", 0)).text, "first");
    EXPECT_EQ(askInt(bbu("Temperature", 0)).value, 31);
    EXPECT_EQ(askText(bbu("Vendor", 0)).status, RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(askText(bbu("Name", 1)).status, RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(askText(bbu("Name", 2)).status, RAIDC_PARAM_NOT_FOUND);
}

TEST(ComponentQuery, ArraysAndPortsAnswerFourPastTheirLists)
{
    testutil::onNeverRefreshedCache([] {
        char b[16];
        EXPECT_EQ(RaidC_getArrayInfo("Name", 0, 0, b, sizeof b, nullptr), RAIDC_CACHE_EMPTY);
        EXPECT_EQ(RaidC_getPortInfo("Name", 0, 0, b, sizeof b, nullptr), RAIDC_CACHE_EMPTY);
    });
    char b[16];
    loadTree(wrapSystem({"<CtrlId>0</CtrlId><Array Nr=\"0\"><Name>A0</Name></Array><Array Nr=\"1\"/>"
                         "<Port Nr=\"0\"><PortNumber>0x10</PortNumber><PortNumber>010</PortNumber></Port>"}));
    EXPECT_EQ(RaidC_getArrayInfo("Name", 0, 0, b, sizeof b, nullptr), RAIDC_SUCCESS_STRING);
    EXPECT_STREQ(b, "A0");
    EXPECT_EQ(RaidC_getArrayInfo("Name", 0, 1, b, sizeof b, nullptr), RAIDC_PARAM_NOT_FOUND);
    int64_t v = 0;
    EXPECT_EQ(RaidC_getPortInfo("PortNumber", 0, 0, nullptr, 0, &v), RAIDC_SUCCESS_INT);
    EXPECT_EQ(v, 8); // hexadecimal holds a letter, octal does not
    for (int bad : {-1, 2}) {
        EXPECT_EQ(RaidC_getArrayInfo("Name", 0, bad, b, sizeof b, &v), RAIDC_PARAM_NOT_FOUND);
        EXPECT_STREQ(b, "-");
        EXPECT_EQ(v, -1);
    }
    EXPECT_EQ(RaidC_getPortInfo("PortNumber", 0, 1, nullptr, 0, &v), RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(RaidC_getPortInfo("PortNumber", 1, 0, nullptr, 0, &v), RAIDC_PARAM_NOT_FOUND);
}

TEST(ComponentQuery, StatusSearchesEveryMultiplexerAndCutsSilently)
{
    testutil::onNeverRefreshedCache([] {
        char b[16] = "untouched";
        EXPECT_EQ(RaidC_getStatusInfo("Status", b, sizeof b), RAIDC_CACHE_EMPTY);
        EXPECT_STREQ(b, "untouched");
    });
    char b[16];
    loadTree(wrapSystem({"<CtrlId>0</CtrlId>"}, "<Multiplexer><Name>agent</Name><Empty/></Multiplexer>"
                                                "<Multiplexer><Name>relay</Name><Version>0123456789</Version>"
                                                "</Multiplexer>"));
    EXPECT_EQ(RaidC_getStatusInfo("Name", b, sizeof b), RAIDC_SUCCESS_STRING);
    EXPECT_STREQ(b, "agent");
    memset(b, 0, sizeof b);
    EXPECT_EQ(RaidC_getStatusInfo("Version", b, 3), RAIDC_SUCCESS_STRING);
    EXPECT_STREQ(b, "012");
    EXPECT_EQ(RaidC_getStatusInfo("Empty", b, sizeof b), RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(RaidC_getStatusInfo("Missing", b, sizeof b), RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(RaidC_getStatusInfo("Name", nullptr, 8), RAIDC_INPUT_NOT_INITIALIZED);
}

} // namespace
