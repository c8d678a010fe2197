// The parameter queries as one family and what each adds; device and state
// counts, predicates and maximum temperatures; the record loaders.
#include "testutil.h"

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

using namespace testutil;

// The tree with the attributes of controller `ctrl` removed.
std::string bare(std::string xml, int ctrl)
{
    return xml.erase(xml.find("<Adapter Nr=\"" + std::to_string(ctrl) + "\"") + 8, 7);
}

// A status, the text and the integer as the query left them.
using Answer = std::tuple<int, std::string, int64_t>;

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

enum Kind { Ctrl, Pd, Ld, Enc, Proc, Fan, Temp, Bbu, Array, Port };

// One query of the family; dev is the device or enclosure index. Power supplies
// answer through the worker of fans and sensors.
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
        case Temp: return RaidC_getEncTempInfo(p, c, dev, pr, comp, s, n, i);
        case Bbu: return RaidC_getBBUInfo(p, c, s, n, i);
        case Array: return RaidC_getArrayInfo(p, c, dev, s, n, i);
        default: return RaidC_getPortInfo(p, c, dev, s, n, i);
        }
    };
}

// Controller 0's elements of every family hold the same parameters: a text
// with letters, then hexadecimal (which holds a letter) and octal texts of
// the same name. Each list ends with an element without children; a second
// battery is never read. Controller 1 has none of the elements.
TEST(ParameterQuery, EveryFamilyKeepsTheOrderOfChecksBoundsAndLetterTest)
{
    const std::string ps = "<T>hot</T><T>0x10</T><T>010</T>";
    auto el = [&](const std::string &name, const std::string &more = "") {
        return "<" + name + " Nr=\"0\">" + ps + more + "</" + name + "><" + name + " Nr=\"1\"/>";
    };
    const std::string tree = wrapSystem(
        {ps + el("PhysicalDrive") + el("LogicalDrive") + el("Battery") + "<Battery><Second>x</Second></Battery>" +
             el("Array") + el("Port", el("Enclosure", el("Processor", el("Fan") + el("TemperatureSensor")))),
         "<CtrlId>1</CtrlId>"});
    loadTree(tree);
    const Answer notFound{RAIDC_PARAM_NOT_FOUND, "-", -1}, hot{RAIDC_SUCCESS_STRING, "hot", -1};
    for (Kind kind : {Ctrl, Pd, Ld, Enc, Proc, Fan, Temp, Bbu, Array, Port}) {
        SCOPED_TRACE(testing::Message() << "kind " << kind);
        // Past their lists drives and enclosures give 7, arrays and ports 4;
        // the controller and battery queries take no device index.
        const bool perCtrl = kind == Ctrl || kind == Bbu;
        const Answer past{kind >= Array ? RAIDC_PARAM_NOT_FOUND : RAIDC_DEVICE_NOT_FOUND, "-", -1};
        EXPECT_EQ(ask(query(kind, "T", 0, 0)), hot) << "the first child, as text";
        EXPECT_EQ(ask(query(kind, "T", 0, 0), 2), (Answer{RAIDC_BUFFER_TOO_SMALL, "ho", -1}));
        EXPECT_EQ(ask(query(kind, "T", 0, 0), 0), (Answer{RAIDC_SUCCESS_INT, "", 8})) << "letters skipped";
        EXPECT_EQ(ask(query(kind, "T", 1, 0)), perCtrl ? notFound : past) << "no elements";
        EXPECT_EQ(ask(query(kind, "T", 0, 1)), perCtrl ? hot : notFound) << "an element without children";
        for (int bad : {-1, 2}) {
            EXPECT_EQ(ask(query(kind, "T", bad, 0)), notFound) << "controller " << bad;
            EXPECT_EQ(ask(query(kind, "T", 0, bad)), perCtrl ? hot : past) << "device " << bad;
        }
    }
    EXPECT_EQ(ask(query(Bbu, "Second", 0, 0)), notFound) << "only the first battery is read";
    loadTree(bare(tree, 0)); // the controller query alone does not look for attributes
    for (int k = Ctrl; k <= Port; ++k)
        EXPECT_EQ(std::get<0>(ask(query(Kind(k), "T", 0, 0))), k == Ctrl ? RAIDC_SUCCESS_STRING : RAIDC_PARAM_NOT_FOUND)
            << k;
}

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

// An enclosure whose processors, fans and sensors exercise the ordinal walk:
// a foreign element between the processors, a fan without children before a
// real one, temperatures with a point and with letters before a number; and
// an enclosure without processors. Two multiplexers for the status search.
const char *kEnclosures = "<Port><Enclosure><Processor><Fan/><Fan><Name>F1</Name></Fan>"
                          "<TemperatureSensor><Name>S0</Name></TemperatureSensor>"
                          "<TemperatureSensor><Temperature>3.5</Temperature><Temperature>2x</Temperature>"
                          "<Temperature>30</Temperature></TemperatureSensor></Processor>"
                          "<Other/><Processor><Name>B</Name></Processor></Enclosure><Enclosure/></Port>";

TEST(ComponentQuery, OrdinalWalkComponentCountsAndStatusSearch)
{
    loadTree(wrapSystem({kEnclosures}, "<Multiplexer><Name>agent</Name><Empty/></Multiplexer>"
                                       "<Multiplexer><Name>relay</Name><Version>0123456789</Version></Multiplexer>"));
    const Answer none{RAIDC_PARAM_NOT_FOUND, "-", -1};
    EXPECT_EQ(ask(query(Proc, "Name", 0, 0, 1)), (Answer{RAIDC_SUCCESS_STRING, "B", -1}));
    EXPECT_EQ(ask(query(Fan, "Name", 0, 0, 0, 0)), none);
    EXPECT_EQ(ask(query(Fan, "Name", 0, 0, 0, 1)), (Answer{RAIDC_SUCCESS_STRING, "F1", -1}));
    EXPECT_EQ(ask(query(Fan, "Name", 0, 0, 0, -1)), none);
    EXPECT_EQ(ask(query(Temp, "Name", 0, 0, 0, 2)), none);
    EXPECT_EQ(ask(query(Temp, "Temperature", 0, 0, 0, 1), 0), (Answer{RAIDC_SUCCESS_INT, "", 30}));
    // The component counts that the temperature walk takes as its bounds.
    EXPECT_EQ(at(raidinternal_getProcNumberForEncl, 0, 0), Count(RAIDC_SUCCESS_INT, 2));
    EXPECT_EQ(at(raidinternal_getProcNumberForEncl, 0, 1), Count(RAIDC_SUCCESS_INT, 0));
    EXPECT_EQ(at(raidinternal_getProcNumberForEncl, 0, 7), Count(RAIDC_SUCCESS_INT, 0));
    EXPECT_EQ(at(raidinternal_getTempNumberForProc, 0, 0, 0), Count(RAIDC_SUCCESS_INT, 2));
    EXPECT_EQ(at(raidinternal_getTempNumberForProc, 0, 0, 1), Count(RAIDC_SUCCESS_INT, 0));
    EXPECT_EQ(at(raidinternal_getTempNumberForProc, 0, 0, 2), Count(RAIDC_SUCCESS_INT, 0));
    EXPECT_EQ(at(raidinternal_getTempNumberForProc, 1, 0, 0), Count(RAIDC_PARAM_NOT_FOUND, 0));
    // The status search: the first multiplexer that has the parameter, cut
    // silently.
    char b[16] = "untouched";
    EXPECT_EQ(RaidC_getStatusInfo("Empty", b, sizeof b), RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(RaidC_getStatusInfo("Missing", b, sizeof b), RAIDC_PARAM_NOT_FOUND);
    EXPECT_STREQ(b, "untouched");
    EXPECT_EQ(RaidC_getStatusInfo("Name", b, sizeof b), RAIDC_SUCCESS_STRING);
    EXPECT_STREQ(b, "agent");
    EXPECT_EQ(RaidC_getStatusInfo("Version", b, 3), RAIDC_SUCCESS_STRING);
    EXPECT_EQ(std::string(b, 4), "012n") << "cut without a terminator";
}

std::string pd(const std::string &attr, const std::string &body)
{
    return "<PhysicalDrive" + attr + ">" + body + "</PhysicalDrive>";
}

// The highest drive number reads "Nr" in any base and no other attribute.
TEST(DriveQuery, RotationClassesAndHighestDriveNumber)
{
    const std::pair<const char *, const char *> cases[] = {
        {"7200", "7.2"},   {"15000", "15.0"}, {"5000", "4.2"}, {"5001", "5.4"},  {"9000", "7.2"}, {"14000", "10.0"},
        {"19001", "20.0"}, {"1000", "1000"},  {"0", "0"},      {"fast", "fast"}, {"nan", "nan"},  {"1e4", "10.0"}};
    const char *nr[] = {" Nr=\"0\"", " Nr=\"0x10\"", " Nr=\"3\""};
    std::string drives;
    for (auto &c : cases)
        drives += pd(&c - cases < 3 ? nr[&c - cases] : " Nr=\"1\"", std::string("<RPM>") + c.first + "</RPM>");
    loadTree(wrapSystem({drives + pd(" Id=\"90\"", ""), pd(" Nr=\"-5\"", "")}));
    for (int i = 0; i < static_cast<int>(std::size(cases)); ++i)
        EXPECT_EQ(ask(query(Pd, "RPM", 0, i)), (Answer{RAIDC_SUCCESS_STRING, cases[i].second, -1}));
    // Text that does not fit is not converted; a class is written whatever bufLen says.
    EXPECT_EQ(ask(query(Pd, "RPM", 0, 0), 3), (Answer{RAIDC_BUFFER_TOO_SMALL, "720", -1}));
    char buf[8];
    EXPECT_EQ(RaidC_getPDInfo("RPM", 0, 11, buf, 3, nullptr), RAIDC_SUCCESS_STRING);
    EXPECT_STREQ(buf, "10.0");
    // A drive without children fails before the rotation rule asks for text.
    EXPECT_EQ(ask(query(Pd, "RPM", 0, 12), 0), (Answer{RAIDC_PARAM_NOT_FOUND, "", -1}));
    // Past the list the output is left alone.
    EXPECT_EQ(at(RaidC_getHighestPdNumForCtrl, 0), Count(RAIDC_SUCCESS_INT, 16));
    EXPECT_EQ(at(RaidC_getHighestPdNumForCtrl, 1), Count(RAIDC_SUCCESS_INT, 0));
    EXPECT_EQ(at(RaidC_getHighestPdNumForCtrl, 2), Count(RAIDC_PARAM_NOT_FOUND, 77));
}

// Numbers beyond the 32-bit range saturate on every build, in the selection
// as in the relation map (one reader serves both), so the identifier that
// one hands out finds the drive in the other.
TEST(DriveQuery, SelectionByNumberPortAndDeviceReadsNumbersAsTheRelationMapDoes)
{
    const std::string drives =
        pd(" Nr=\"4\"", "<PortNumber>1</PortNumber><DeviceNumber>9</DeviceNumber><Name>a</Name>") +
        pd(" Nr=\"4\"", "<PortNumber>1</PortNumber><DeviceNumber>8</DeviceNumber><Name>b</Name>") +
        pd(" Id=\"6\"", "<PortNumber>2</PortNumber><DeviceNumber>3</DeviceNumber><Size>12</Size>") +
        pd(" Nr=\"7\"", "<PortNumber>-1</PortNumber><DeviceNumber>0</DeviceNumber>") +
        pd(" Nr=\"2147483648\"", "<PortNumber>0</PortNumber><DeviceNumber>1</DeviceNumber><Type>SAS</Type>") +
        pd(" Nr=\"-9999999999\"", "<PortNumber>4294967296</PortNumber><DeviceNumber>5</DeviceNumber><Type>SATA</Type>");
    loadTree(bare(wrapSystem({drives, drives}), 1));
    // Only the first drive numbered 4 is looked at; controller 1 has no
    // attributes; the last row finds a saturated number, not a wrapped one.
    const struct {
        int ctrl, nr;
        unsigned port, dev;
        const char *param;
        unsigned bufLen;
        Answer want;
    } rows[] = {{0, 4, 1, 9, "Name", 8, {RAIDC_SUCCESS_STRING, "a", -1}},
                {0, 4, 1, 8, "Name", 8, {RAIDC_DEVICE_NOT_FOUND, "-", -1}},
                {0, 6, 2, 3, "Size", 0, {RAIDC_SUCCESS_INT, "", 12}},
                {0, 7, 0xFFFFFFFFu, 0, "Size", 8, {RAIDC_DEVICE_NOT_FOUND, "-", -1}},
                {1, 4, 1, 9, "Name", 8, {RAIDC_PARAM_NOT_FOUND, "-", -1}},
                {2, 4, 1, 9, "Name", 8, {RAIDC_PARAM_NOT_FOUND, "-", -1}},
                {0, INT32_MAX, 0, 1, "Type", 8, {RAIDC_SUCCESS_STRING, "SAS", -1}},
                {0, INT32_MIN, INT32_MAX, 5, "Type", 8, {RAIDC_SUCCESS_STRING, "SATA", -1}},
                {0, INT32_MIN, 0, 5, "Type", 8, {RAIDC_DEVICE_NOT_FOUND, "-", -1}}};
    for (const auto &r : rows) {
        auto select = [&](char *s, unsigned n, int64_t *i) {
            return RaidC_getPDInfo_snmpExt(r.param, r.ctrl, r.nr, r.port, r.dev, s, n, i);
        };
        EXPECT_EQ(ask(select, r.bufLen), r.want) << "controller " << r.ctrl << " drive " << r.nr << " " << r.param;
    }
}

using PerCtrl = int (*)(int, int64_t *);

// An empty cache, a tree without controllers, then one where controller 0
// carries drives directly, under a port and in an enclosure and controller 1
// is bare. NVMe and encrypted drives need exact texts; drives without "Type"
// or "Secured" are skipped, not an end. The state walks stop at the first
// drive without a status, keeping the counts so far. All but the list counts
// clear their output before any check.
TEST(Counts, PerControllerAndTotalCountsStateWalksPredicatesAndFamilyFlags)
{
    testutil::onNeverRefreshedCache([] {
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

// Controllers 0-2: the drive classes and the extern rule (HDDs at 35 and 41,
// one with a unit suffix at 60, an SSD at 38, NVMe drives at 50 and 45; the
// classes of well-formed trees are in the tools' transcripts); 3-5: negative
// and zero readings; 6-7: only processors matching the product pattern count. In 6,
// enclosure 0 has a matching expander and a hotter SEP that does not match;
// enclosure 1 is hotter still but has no numeric number. Past the list the
// device counts that the drive and processor maxima need cannot be read (the
// drive classes share one walk).
TEST(MaxTemperature, ClassesExternRuleReadingsProductPatternAndUnreadableCounts)
{
    auto drive = [](const char *type, const char *media, const char *temp) {
        return el("PhysicalDrive", el("Type", type) + el("MediaType", media) + el("Temperature", temp));
    };
    auto processor = [](const char *product, const std::string &temps) {
        return el("Processor", el("Product", product) + temps);
    };
    auto sensor = [](const char *t) { return el("TemperatureSensor", el("Temperature", t)); };
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
    for (PerCtrl fn : {RaidC_getPdMaxTemperature, RaidC_getProcMaxTemperature})
        for (int c : {-1, 8})
            EXPECT_EQ(at(fn, c), Count(RAIDC_MAXTEMP_NO_COUNT, 0)) << c;
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
    EXPECT_EQ(std::string(r.Name, sizeof r.Name), std::string(sizeof r.Name, 'v')) << "cut, unterminated";
    EXPECT_EQ(r.Vendor, kLong);
    // The bus number's hexadecimal text has a letter; a temperature of 0 stands although the query reports it as
    // not found; the error count keeps its low 32 bits.
    EXPECT_EQ((std::array{r.AdapterNumber, r.PCIBus, r.ChipTemperature, r.UncorrErrorCount}),
              (std::array{3, -1, 0, 1}));
    auto rec = poisoned<RaidCCtrlInfo>(); // the query's bounds on both sides: ParameterQuery.*
    EXPECT_EQ(RaidC_LoadCtrlInfo(1, &rec), 1);
    RAIDC_CTRL_INFO_FIELDS(EXPECT_UNANSWERED)
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
    r = poisoned<RaidCPdInfo>();
    EXPECT_EQ(RaidC_LoadPdlInfo(0, 2, &r), 0);
    EXPECT_TRUE(onlyWritten(r, 0, 2));
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
