// What the drive queries add to the family's rules: the rotation classes,
// the selection by drive number, port and device, and the highest drive
// number.
#include "testutil.h"

#include <gtest/gtest.h>

using namespace testutil;

namespace {

std::string pd(const std::string &attr, const std::string &body)
{
    return "<PhysicalDrive" + attr + ">" + body + "</PhysicalDrive>";
}

// The tree with the attributes of controller `ctrl` removed.
std::string bare(std::string xml, int ctrl)
{
    return xml.erase(xml.find("<Adapter Nr=\"" + std::to_string(ctrl) + "\"") + 8, 7);
}

using Answer = std::pair<int, std::string>;

// Status and text of a text request into a buffer that may be left unterminated.
Answer pdText(const char *param, int ctrl, int dev, unsigned bufLen = 32)
{
    char buf[32];
    int st = RaidC_getPDInfo(param, ctrl, dev, buf, bufLen, nullptr);
    return {st, std::string(buf, strnlen(buf, std::max(bufLen, 2u)))};
}

TEST(DriveQuery, RotationClasses)
{
    const std::pair<const char *, const char *> cases[] = {
        {"7200", "7.2"},   {"15000", "15.0"}, {"5000", "4.2"}, {"5001", "5.4"},   {"9000", "7.2"}, {"14000", "10.0"},
        {"19001", "20.0"}, {"1000", "1000"},  {"0", "0"},      {"fast", "fast"}, {"nan", "nan"}, {"1e4", "10.0"}};
    std::string drives;
    for (auto &c : cases)
        drives += pd(" Nr=\"1\"", std::string("<RPM>") + c.first + "</RPM>");
    loadTree(wrapSystem({drives + pd("", "")}));
    for (int i = 0; i < static_cast<int>(std::size(cases)); ++i)
        EXPECT_EQ(pdText("RPM", 0, i), (Answer{RAIDC_SUCCESS_STRING, cases[i].second}));
    // Text that does not fit is not converted; a class is written whatever bufLen says.
    EXPECT_EQ(pdText("RPM", 0, 0, 3), (Answer{RAIDC_BUFFER_TOO_SMALL, "720"}));
    char buf[8];
    EXPECT_EQ(RaidC_getPDInfo("RPM", 0, 11, buf, 3, nullptr), RAIDC_SUCCESS_STRING);
    EXPECT_STREQ(buf, "10.0");
    // The rotation rule wants text; a drive without children fails before it looks.
    int64_t v = 5;
    EXPECT_EQ(RaidC_getPDInfo("RPM", 0, 0, nullptr, 0, &v), RAIDC_INPUT_NOT_INITIALIZED);
    EXPECT_EQ(RaidC_getPDInfo("RPM", 0, 12, nullptr, 0, &v), RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(v, -1);
}

// Numbers beyond the 32-bit range saturate on every build, in the selection
// as in the relation map, so the identifier that one hands out finds the
// drive in the other.
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
    int idx = -1, id = 0;
    ASSERT_EQ(RaidC_convert_PdIdx_2_PdId(0, 4, &id), 0);
    EXPECT_EQ(id, INT32_MAX);
    ASSERT_EQ(RaidC_convert_PdId_2_PdIdx(0, INT32_MIN, &idx), 0);
    EXPECT_EQ(idx, 5);
    const struct {
        int ctrl, nr;
        unsigned port, dev;
        const char *param;
        int status;
        const char *text;
        int64_t value;
    } rows[] = {
        {0, 4, 1, 9, "Name", RAIDC_SUCCESS_STRING, "a", -1},
        {0, 4, 1, 8, "Name", RAIDC_DEVICE_NOT_FOUND, "-", -1}, // only the first drive numbered 4 is looked at
        {0, 6, 2, 3, "Size", RAIDC_SUCCESS_INT, nullptr, 12},
        {0, 7, 0xFFFFFFFFu, 0, "Size", RAIDC_DEVICE_NOT_FOUND, "-", -1},
        {1, 4, 1, 9, "Name", RAIDC_PARAM_NOT_FOUND, "-", -1}, // a controller without attributes
        {2, 4, 1, 9, "Name", RAIDC_PARAM_NOT_FOUND, "-", -1},
        {0, INT32_MAX, 0, 1, "Type", RAIDC_SUCCESS_STRING, "SAS", -1},
        {0, INT32_MIN, INT32_MAX, 5, "Type", RAIDC_SUCCESS_STRING, "SATA", -1},
        {0, INT32_MIN, 0, 5, "Type", RAIDC_DEVICE_NOT_FOUND, "-", -1}, // saturated, not wrapped
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(testing::Message() << "controller " << r.ctrl << " drive " << r.nr << " " << r.param);
        char buf[8] = "x";
        int64_t v = 99;
        EXPECT_EQ(RaidC_getPDInfo_snmpExt(r.param, r.ctrl, r.nr, r.port, r.dev, r.text ? buf : nullptr, 8, &v),
                  r.status);
        EXPECT_STREQ(r.text ? buf : nullptr, r.text);
        EXPECT_EQ(v, r.value);
    }
}

TEST(DriveQuery, HighestDriveNumber)
{
    onNeverRefreshedCache([] {
        int64_t v = 5;
        EXPECT_EQ(RaidC_getHighestPdNumForCtrl(0, &v), RAIDC_CACHE_EMPTY);
        EXPECT_EQ(v, 5);
    });
    loadTree(bare(wrapSystem({pd(" Nr=\"0\"", "") + pd(" Nr=\"7\"", "") + pd(" Nr=\"3\"", "") + pd(" Id=\"90\"", ""),
                              pd(" Nr=\"-5\"", "") + pd(" Nr=\"0x10\"", ""), "", pd(" Nr=\"9\"", "")}),
                  3));
    // Controller 3 has no attributes, 4 is past the list: both leave the output alone.
    const std::pair<int, int64_t> want[] = {{RAIDC_SUCCESS_INT, 7},     {RAIDC_SUCCESS_INT, 16},
                                            {RAIDC_SUCCESS_INT, 0},     {RAIDC_PARAM_NOT_FOUND, 5},
                                            {RAIDC_PARAM_NOT_FOUND, 5}};
    for (int c = 0; c < 5; ++c) {
        int64_t v = 5;
        EXPECT_EQ(RaidC_getHighestPdNumForCtrl(c, &v), want[c].first) << c;
        EXPECT_EQ(v, want[c].second) << c;
    }
}

} // namespace
