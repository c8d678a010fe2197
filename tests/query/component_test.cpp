// The parameter queries as one family (controller, drives, enclosure and its
// components, battery, array, port), then what each adds: the enclosure's
// ordinal walk, the first battery only, and the status search.
#include "testutil.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

using testutil::loadTree;
using testutil::wrapSystem;

struct Answer {
    int status;
    std::string text;
    int64_t value;
    bool operator==(const Answer &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Answer &a)
{
    return os << "{" << a.status << ", \"" << a.text << "\", " << a.value << "}";
}

// Asks once with an intOut, and for text into a bufLen-byte window that the
// query may leave unterminated (bufLen 0: no buffer, an integer request).
template <typename Q> Answer ask(Q &&q, unsigned bufLen = 16)
{
    char buf[32];
    memset(buf, 'x', sizeof buf);
    int64_t v = 99;
    int st = q(bufLen ? buf : nullptr, bufLen, &v);
    return {st, bufLen ? std::string(buf, strnlen(buf, std::max(bufLen, 2u))) : "", v};
}

enum Kind { Ctrl, Pd, Ld, Enc, Proc, Fan, Pwr, Temp, Bbu, Array, Port };

// One query of the family; dev is the device or enclosure index.
auto query(Kind k, const char *p, int c, int dev, int pr = 0, int comp = 0)
{
    return [=](char *s, unsigned n, int64_t *i) {
        switch (k) {
        case Ctrl: return RaidC_getCtrlInfo(p, c, s, n, i);
        case Pd: return RaidC_getPDInfo(p, c, dev, s, n, i);
        case Ld: return RaidC_getLDInfo(p, c, dev, s, n, i);
        case Enc: return RaidC_getEncInfo(p, c, dev, s, n, i);
        case Proc: return RaidC_getEncProcInfo(p, c, dev, pr, s, n, i);
        case Fan: return RaidC_getEncFanInfo(p, c, dev, pr, comp, s, n, i);
        case Pwr: return RaidC_getEncPwrInfo(p, c, dev, pr, comp, s, n, i);
        case Temp: return RaidC_getEncTempInfo(p, c, dev, pr, comp, s, n, i);
        case Bbu: return RaidC_getBBUInfo(p, c, s, n, i);
        case Array: return RaidC_getArrayInfo(p, c, dev, s, n, i);
        default: return RaidC_getPortInfo(p, c, dev, s, n, i);
        }
    };
}

// pastList: what an index past the device list gives (0: the family has no
// such index); bare: what a controller without attributes gives.
const struct Family {
    Kind kind;
    int pastList, bare;
} kFamilies[] = {
    {Ctrl, 0, RAIDC_SUCCESS_STRING},
    {Pd, RAIDC_DEVICE_NOT_FOUND, RAIDC_PARAM_NOT_FOUND},
    {Ld, RAIDC_DEVICE_NOT_FOUND, RAIDC_PARAM_NOT_FOUND},
    {Enc, RAIDC_DEVICE_NOT_FOUND, RAIDC_PARAM_NOT_FOUND},
    {Proc, RAIDC_DEVICE_NOT_FOUND, RAIDC_PARAM_NOT_FOUND},
    {Fan, RAIDC_DEVICE_NOT_FOUND, RAIDC_PARAM_NOT_FOUND},
    {Pwr, RAIDC_DEVICE_NOT_FOUND, RAIDC_PARAM_NOT_FOUND},
    {Temp, RAIDC_DEVICE_NOT_FOUND, RAIDC_PARAM_NOT_FOUND},
    {Bbu, 0, RAIDC_PARAM_NOT_FOUND},
    {Array, RAIDC_PARAM_NOT_FOUND, RAIDC_PARAM_NOT_FOUND}, // 4 past the list, not 7
    {Port, RAIDC_PARAM_NOT_FOUND, RAIDC_PARAM_NOT_FOUND},
};

// Every family's element holds the same parameters: a text with letters
// before a number of the same name, and an element without text.
std::string familyTree(bool attributes)
{
    const std::string ps = "<T>hot</T><T>38</T><Empty/>";
    auto el = [&](const std::string &name, const std::string &more = "") {
        return "<" + name + " Nr=\"0\">" + ps + more + "</" + name + ">";
    };
    std::string xml = wrapSystem(
        {ps + el("PhysicalDrive") + el("LogicalDrive") + el("Battery") + el("Array") +
         el("Port", el("Enclosure", el("Processor", el("Fan") + el("PowerSupply") + el("TemperatureSensor"))))});
    if (!attributes)
        xml.erase(xml.find("<Adapter") + 8, 7);
    return xml;
}

TEST(ParameterQuery, EveryFamilyKeepsTheOrderOfChecksBoundsAndLetterTest)
{
    testutil::onNeverRefreshedCache([] {
        for (const Family &f : kFamilies)
            EXPECT_EQ(ask(query(f.kind, "T", 0, 0)), (Answer{RAIDC_CACHE_EMPTY, "-", -1})) << "kind " << f.kind;
    });
    loadTree(familyTree(true));
    const Answer notFound{RAIDC_PARAM_NOT_FOUND, "-", -1};
    for (const Family &f : kFamilies) {
        SCOPED_TRACE(testing::Message() << "kind " << f.kind);
        EXPECT_EQ(ask(query(f.kind, "T", 0, 0)), (Answer{RAIDC_SUCCESS_STRING, "hot", -1})) << "the first child, as text";
        EXPECT_EQ(ask(query(f.kind, "T", 0, 0), 3), (Answer{RAIDC_SUCCESS_STRING, "hot", -1}));
        EXPECT_EQ(ask(query(f.kind, "T", 0, 0), 2), (Answer{RAIDC_BUFFER_TOO_SMALL, "ho", -1}));
        EXPECT_EQ(ask(query(f.kind, "T", 0, 0), 0), (Answer{RAIDC_SUCCESS_INT, "", 38})) << "letters skipped";
        EXPECT_EQ(ask(query(f.kind, "Empty", 0, 0)), notFound);
        EXPECT_EQ(ask(query(f.kind, "Empty", 0, 0), 0), (Answer{RAIDC_PARAM_NOT_FOUND, "", -1}));
        EXPECT_EQ(ask(query(f.kind, "Missing", 0, 0)), notFound);
        EXPECT_EQ(ask(query(f.kind, "t", 0, 0)), notFound) << "names are compared exactly";
        for (int bad : {-1, 1}) {
            EXPECT_EQ(ask(query(f.kind, "T", bad, 0)), notFound) << "controller " << bad;
            if (f.pastList) {
                EXPECT_EQ(ask(query(f.kind, "T", 0, bad)), (Answer{f.pastList, "-", -1})) << "device " << bad;
            }
        }
    }
    loadTree(familyTree(false));
    for (const Family &f : kFamilies)
        EXPECT_EQ(ask(query(f.kind, "T", 0, 0)).status, f.bare) << "kind " << f.kind << " below a controller without attributes";
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

TEST(EnclosureQuery, OrdinalsCountOnlyTheirOwnNameAndKeepChildlessPlaces)
{
    loadTree(wrapSystem({kEnclosures}));
    const Answer none{RAIDC_PARAM_NOT_FOUND, "-", -1};
    const struct {
        Kind kind;
        const char *param;
        int enc, proc, comp;
        unsigned bufLen;
        Answer want;
    } rows[] = {
        {Proc, "Name", 0, 1, 0, 16, {RAIDC_SUCCESS_STRING, "B", -1}},
        {Proc, "Name", 0, 2, 0, 16, none},
        {Fan, "Name", 0, 0, 0, 16, none},
        {Fan, "Name", 0, 0, 1, 16, {RAIDC_SUCCESS_STRING, "F1", -1}},
        {Fan, "Name", 0, 0, -1, 16, none},
        {Temp, "Name", 0, 0, 2, 16, none},
        {Temp, "Name", 0, 1, 0, 16, none}, // processor 1 has no components at all
        {Pwr, "Name", 0, 0, 0, 16, {RAIDC_SUCCESS_STRING, "P0", -1}},
        {Temp, "Temperature", 0, 0, 0, 0, {RAIDC_SUCCESS_INT, "", 41}},
        {Temp, "Temperature", 0, 0, 1, 0, {RAIDC_SUCCESS_INT, "", 30}},
        {Temp, "Temperature", 0, 0, 0, 1, {RAIDC_BUFFER_TOO_SMALL, "4", -1}},
        {Pwr, "Status", 0, 0, 0, 16, none}, // a matching element without text ends the search
        {Enc, "Name", 0, 0, 0, 0, {RAIDC_PARAM_NOT_FOUND, "", -1}},
        {Enc, "Name", 1, 0, 0, 16, none}, // an enclosure without children
        {Enc, "Name", 2, 0, 0, 16, {RAIDC_DEVICE_NOT_FOUND, "-", -1}},
    };
    for (const auto &r : rows)
        EXPECT_EQ(ask(query(r.kind, r.param, 0, r.enc, r.proc, r.comp), r.bufLen), r.want)
            << "kind " << r.kind << " " << r.param << " " << r.enc << "/" << r.proc << "/" << r.comp;
}

TEST(EnclosureQuery, ComponentCountsForTheTemperatureWalk)
{
    loadTree(wrapSystem({kEnclosures}));
    pthread_mutex_lock(&RaidC_ThreadMutex);
    const struct {
        int ctrl, enc, proc; // proc -1: the processor count
        int status;
        int64_t n;
    } rows[] = {{0, 0, -1, RAIDC_SUCCESS_INT, 2}, {0, 1, -1, RAIDC_SUCCESS_INT, 0}, {0, 7, -1, RAIDC_SUCCESS_INT, 0},
                {0, 0, 0, RAIDC_SUCCESS_INT, 2},  {0, 0, 1, RAIDC_SUCCESS_INT, 0},  {0, 0, 2, RAIDC_SUCCESS_INT, 0},
                {1, 0, 0, RAIDC_PARAM_NOT_FOUND, 0}};
    for (const auto &r : rows) {
        int64_t n = -1;
        EXPECT_EQ(r.proc < 0 ? raidinternal_getProcNumberForEncl(r.ctrl, r.enc, &n)
                             : raidinternal_getTempNumberForProc(r.ctrl, r.enc, r.proc, &n),
                  r.status)
            << r.ctrl << "/" << r.enc << "/" << r.proc;
        EXPECT_EQ(n, r.n) << r.ctrl << "/" << r.enc << "/" << r.proc;
    }
    pthread_mutex_unlock(&RaidC_ThreadMutex);
}

TEST(ComponentQuery, FirstBatteryOnlyPortNumbersByLetterTestArrayWithoutChildren)
{
    loadTree(wrapSystem({"<CtrlId>0</CtrlId><Battery><Name>first</Name><Temperature>31</Temperature></Battery>"
                         "<Battery><Vendor>second</Vendor></Battery>"
                         "<Port Nr=\"0\"><PortNumber>0x10</PortNumber><PortNumber>010</PortNumber></Port>"
                         "<Array Nr=\"0\"/>",
                         "<CtrlId>1</CtrlId>"}));
    auto bbu = [](const char *p, int c) {
        return [=](char *s, unsigned n, int64_t *i) { return RaidC_getBBUInfo(p, c, s, n, i); };
    };
    EXPECT_EQ(ask(bbu("Name", 0)).text, "first");
    EXPECT_EQ(ask(bbu("Temperature", 0), 0).value, 31);
    EXPECT_EQ(ask(bbu("Vendor", 0)).status, RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(ask(bbu("Name", 1)).status, RAIDC_PARAM_NOT_FOUND) << "no battery";
    // Hexadecimal holds a letter, octal does not.
    EXPECT_EQ(ask([](char *s, unsigned n, int64_t *i) { return RaidC_getPortInfo("PortNumber", 0, 0, s, n, i); }, 0),
              (Answer{RAIDC_SUCCESS_INT, "", 8}));
    EXPECT_EQ(ask([](char *s, unsigned n, int64_t *i) { return RaidC_getArrayInfo("Name", 0, 0, s, n, i); }),
              (Answer{RAIDC_PARAM_NOT_FOUND, "-", -1})) << "an array without children";
}

TEST(ComponentQuery, StatusSearchesEveryMultiplexerAndCutsSilently)
{
    testutil::onNeverRefreshedCache([] {
        char b[16] = "untouched";
        EXPECT_EQ(RaidC_getStatusInfo("Status", b, sizeof b), RAIDC_CACHE_EMPTY);
        EXPECT_STREQ(b, "untouched");
    });
    loadTree(wrapSystem({"<CtrlId>0</CtrlId>"}, "<Multiplexer><Name>agent</Name><Empty/></Multiplexer>"
                                                "<Multiplexer><Name>relay</Name><Version>0123456789</Version>"
                                                "</Multiplexer>"));
    const struct {
        const char *param;
        unsigned bufLen;
        int status;
        const char *text;
    } rows[] = {{"Name", 16, RAIDC_SUCCESS_STRING, "agent"}, {"Version", 3, RAIDC_SUCCESS_STRING, "012"},
                {"Empty", 16, RAIDC_PARAM_NOT_FOUND, "untouched"}, {"Missing", 16, RAIDC_PARAM_NOT_FOUND, "untouched"}};
    for (const auto &r : rows) {
        char b[16] = "untouched";
        EXPECT_EQ(RaidC_getStatusInfo(r.param, b, r.bufLen), r.status) << r.param;
        EXPECT_EQ(std::string(b, r.bufLen < 16 ? r.bufLen : strlen(b)), r.text) << r.param;
    }
}

} // namespace
