// The parameter queries as one family, then what each adds: the enclosure's
// ordinal walk, the status search and the drive queries' own rules.
#include "testutil.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

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
             el("Array") +
             el("Port", el("Enclosure", el("Processor", el("Fan") + el("PowerSupply") + el("TemperatureSensor")))),
         "<CtrlId>1</CtrlId>"});
    loadTree(tree);
    const Answer notFound{RAIDC_PARAM_NOT_FOUND, "-", -1}, hot{RAIDC_SUCCESS_STRING, "hot", -1};
    for (Kind kind : {Ctrl, Pd, Ld, Enc, Proc, Fan, Pwr, Temp, Bbu, Array, Port}) {
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
    const struct {
        int ctrl, enc, proc; // proc -1: the processor count
        int status;
        int64_t n;
    } counts[] = {{0, 0, -1, RAIDC_SUCCESS_INT, 2},   {0, 1, -1, RAIDC_SUCCESS_INT, 0},
                  {0, 7, -1, RAIDC_SUCCESS_INT, 0},   {0, 0, 0, RAIDC_SUCCESS_INT, 2},
                  {0, 0, 1, RAIDC_SUCCESS_INT, 0},    {0, 0, 2, RAIDC_SUCCESS_INT, 0},
                  {1, 0, 0, RAIDC_PARAM_NOT_FOUND, 0}};
    for (const auto &r : counts) {
        int64_t n = -1;
        const int st = r.proc < 0 ? raidinternal_getProcNumberForEncl(r.ctrl, r.enc, &n)
                                  : raidinternal_getTempNumberForProc(r.ctrl, r.enc, r.proc, &n);
        EXPECT_EQ(std::pair(st, n), std::pair(r.status, r.n)) << r.ctrl << "/" << r.enc << "/" << r.proc;
    }
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
    const std::pair<int, int64_t> want[] = {
        {RAIDC_SUCCESS_INT, 16}, {RAIDC_SUCCESS_INT, 0}, {RAIDC_PARAM_NOT_FOUND, 5}};
    for (int c = 0; c < 3; ++c) {
        int64_t v = 5;
        const int st = RaidC_getHighestPdNumForCtrl(c, &v);
        EXPECT_EQ(std::pair(st, v), want[c]) << c;
    }
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

} // namespace
