// Logical and physical drive queries, the selection by drive number and
// the highest drive number.
#include "testutil.h"

#include <gtest/gtest.h>

using namespace testutil;

namespace {

std::string pd(const std::string &attr, const std::string &body)
{
    return "<PhysicalDrive" + attr + ">" + body + "</PhysicalDrive>";
}

using Answer = std::pair<int, std::string>;

// Status and text of a text request into a buffer that may be left unterminated.
Answer pdText(const char *param, int ctrl, int dev, unsigned bufLen = 32)
{
    char buf[32];
    int st = RaidC_getPDInfo(param, ctrl, dev, buf, bufLen, nullptr);
    return {st, std::string(buf, strnlen(buf, std::max(bufLen, 2u)))};
}

TEST(DriveQuery, ChecksInOrderAndFirstMatchingChild)
{
    onNeverRefreshedCache([] {
        char buf[8] = "xyz";
        int64_t v = 99;
        EXPECT_EQ(RaidC_getLDInfo("Name", 0, 0, buf, 8, &v), RAIDC_CACHE_EMPTY);
        EXPECT_STREQ(buf, "-");
        EXPECT_EQ(v, -1);
    });
    char buf[8];
    int64_t v = 99;
    loadTree(wrapSystem({pd(" Nr=\"0\"", "<Temperature>hot</Temperature><Temperature>38</Temperature>") + pd("", "") +
                         "<LogicalDrive Nr=\"0\"><Name>ld</Name></LogicalDrive>"}));
    EXPECT_EQ(RaidC_getPDInfo("Temperature", 0, 0, nullptr, 0, nullptr), RAIDC_INPUT_NOT_INITIALIZED);
    EXPECT_EQ(RaidC_getLDInfo("Name", 0, 0, nullptr, 0, nullptr), RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(pdText("Temperature", 1, 0).first, RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(pdText("Temperature", 0, 2).first, RAIDC_DEVICE_NOT_FOUND);
    EXPECT_EQ(pdText("Temperature", 0, -1).first, RAIDC_DEVICE_NOT_FOUND);
    EXPECT_EQ(RaidC_getLDInfo("Name", 0, 1, buf, 8, nullptr), RAIDC_DEVICE_NOT_FOUND);
    EXPECT_EQ(RaidC_getLDInfo("Name", 0, 0, buf, 8, nullptr), RAIDC_SUCCESS_STRING);
    // A drive without children fails before the RPM rule looks at the outputs.
    EXPECT_EQ(RaidC_getPDInfo("RPM", 0, 1, nullptr, 0, &v), RAIDC_PARAM_NOT_FOUND);

    EXPECT_EQ(RaidC_getPDInfo("Temperature", 0, 0, buf, 8, &v), RAIDC_SUCCESS_STRING);
    EXPECT_STREQ(buf, "hot");
    EXPECT_EQ(v, -1);
    EXPECT_EQ(RaidC_getPDInfo("Temperature", 0, 0, nullptr, 0, &v), RAIDC_SUCCESS_INT);
    EXPECT_EQ(v, 38);
    EXPECT_EQ(pdText("Temperature", 0, 0, 3), (Answer{RAIDC_SUCCESS_STRING, "hot"}));
    EXPECT_EQ(pdText("Temperature", 0, 0, 2), (Answer{RAIDC_BUFFER_TOO_SMALL, "ho"}));
}

TEST(DriveQuery, ControllerWithoutAttributesAnswersNothing)
{
    loadTree("<R><System><Adapter><PhysicalDrive Nr=\"1\"><PortNumber>0</PortNumber><DeviceNumber>0</DeviceNumber>"
             "</PhysicalDrive><LogicalDrive Nr=\"0\"><Name>x</Name></LogicalDrive></Adapter></System></R>");
    char buf[8];
    int64_t v = 5;
    EXPECT_EQ(RaidC_getPDInfo("PortNumber", 0, 0, buf, 8, nullptr), RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(RaidC_getLDInfo("Name", 0, 0, buf, 8, nullptr), RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(RaidC_getPDInfo_snmpExt("PortNumber", 0, 1, 0, 0, buf, 8, nullptr), RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(RaidC_getHighestPdNumForCtrl(0, &v), RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(v, 5);
}

TEST(DriveQuery, RotationClasses)
{
    const std::pair<const char *, const char *> cases[] = {
        {"7200", "7.2"},   {"15000", "15.0"}, {"5000", "4.2"}, {"5001", "5.4"},   {"9000", "7.2"}, {"14000", "10.0"},
        {"19001", "20.0"}, {"1000", "1000"},  {"0", "0"},      {"fast", "fast"}, {"nan", "nan"}, {"1e4", "10.0"}};
    std::string drives;
    for (auto &c : cases)
        drives += pd(" Nr=\"1\"", std::string("<RPM>") + c.first + "</RPM>");
    loadTree(wrapSystem({drives}));
    for (int i = 0; i < static_cast<int>(std::size(cases)); ++i)
        EXPECT_EQ(pdText("RPM", 0, i), (Answer{RAIDC_SUCCESS_STRING, cases[i].second}));
    // Text that does not fit is not converted; a class is written whatever bufLen says.
    EXPECT_EQ(pdText("RPM", 0, 0, 3), (Answer{RAIDC_BUFFER_TOO_SMALL, "720"}));
    char buf[8];
    EXPECT_EQ(RaidC_getPDInfo("RPM", 0, 11, buf, 3, nullptr), RAIDC_SUCCESS_STRING);
    EXPECT_STREQ(buf, "10.0");
    int64_t v;
    EXPECT_EQ(RaidC_getPDInfo("RPM", 0, 0, nullptr, 0, &v), RAIDC_INPUT_NOT_INITIALIZED);
}

TEST(DriveQuery, SelectionByNumberPortAndDevice)
{
    loadTree(wrapSystem({pd(" Nr=\"4\"", "<PortNumber>1</PortNumber><DeviceNumber>9</DeviceNumber><Name>a</Name>") +
                         pd(" Nr=\"4\"", "<PortNumber>1</PortNumber><DeviceNumber>8</DeviceNumber><Name>b</Name>") +
                         pd(" Id=\"6\"", "<PortNumber>2</PortNumber><DeviceNumber>3</DeviceNumber><Size>12</Size>") +
                         pd(" Nr=\"7\"", "<PortNumber>-1</PortNumber><DeviceNumber>0</DeviceNumber>")}));
    char buf[8];
    int64_t v = 0;
    EXPECT_EQ(RaidC_getPDInfo_snmpExt("Name", 0, 4, 1, 9, buf, 8, &v), RAIDC_SUCCESS_STRING);
    EXPECT_STREQ(buf, "a");
    EXPECT_EQ(v, -1);
    // Only the first drive numbered 4 is looked at.
    EXPECT_EQ(RaidC_getPDInfo_snmpExt("Name", 0, 4, 1, 8, buf, 8, &v), RAIDC_DEVICE_NOT_FOUND);
    EXPECT_STREQ(buf, "-");
    EXPECT_EQ(RaidC_getPDInfo_snmpExt("Size", 0, 6, 2, 3, nullptr, 0, &v), RAIDC_SUCCESS_INT);
    EXPECT_EQ(v, 12);
    EXPECT_EQ(RaidC_getPDInfo_snmpExt("Size", 0, 7, 0xFFFFFFFFu, 0, buf, 8, nullptr), RAIDC_DEVICE_NOT_FOUND);
    EXPECT_EQ(RaidC_getPDInfo_snmpExt("Name", 1, 4, 1, 9, buf, 8, nullptr), RAIDC_PARAM_NOT_FOUND);
}

// Numbers beyond the 32-bit range saturate on every build, in the selection
// as in the relation map, so the identifier that one hands out finds the
// drive in the other.
TEST(DriveQuery, SelectionReadsNumbersAsTheRelationMapDoes)
{
    loadTree(wrapSystem({pd(" Nr=\"2147483648\"", "<PortNumber>0</PortNumber><DeviceNumber>1</DeviceNumber>"
                                                  "<Type>SAS</Type>") +
                         pd(" Nr=\"-9999999999\"", "<PortNumber>4294967296</PortNumber><DeviceNumber>5</DeviceNumber>"
                                                   "<Type>SATA</Type>")}));
    int idx = -1, id = 0;
    ASSERT_EQ(RaidC_convert_PdIdx_2_PdId(0, 0, &id), 0);
    EXPECT_EQ(id, INT32_MAX);
    ASSERT_EQ(RaidC_convert_PdId_2_PdIdx(0, INT32_MIN, &idx), 0);
    EXPECT_EQ(idx, 1);
    const struct {
        int nr;
        unsigned port, dev;
        int status;
        const char *type;
    } cases[] = {
        {INT32_MAX, 0, 1, RAIDC_SUCCESS_STRING, "SAS"},
        {INT32_MIN, INT32_MAX, 5, RAIDC_SUCCESS_STRING, "SATA"},
        {INT32_MIN, 0, 5, RAIDC_DEVICE_NOT_FOUND, "-"}, // saturated, not wrapped
    };
    for (const auto &c : cases) {
        char buf[8];
        EXPECT_EQ(RaidC_getPDInfo_snmpExt("Type", 0, c.nr, c.port, c.dev, buf, 8, nullptr), c.status) << c.nr;
        EXPECT_STREQ(buf, c.type);
    }
}

TEST(DriveQuery, HighestDriveNumber)
{
    onNeverRefreshedCache([] {
        int64_t v = 5;
        EXPECT_EQ(RaidC_getHighestPdNumForCtrl(0, &v), RAIDC_CACHE_EMPTY);
        EXPECT_EQ(v, 5);
    });
    int64_t v = 5;
    loadTree(wrapSystem({pd(" Nr=\"0\"", "") + pd(" Nr=\"7\"", "") + pd(" Nr=\"3\"", "") + pd(" Id=\"90\"", ""),
                         pd(" Nr=\"-5\"", "") + pd(" Nr=\"0x10\"", ""), ""}));
    const int64_t expect[] = {7, 16, 0};
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(RaidC_getHighestPdNumForCtrl(c, &v), RAIDC_SUCCESS_INT);
        EXPECT_EQ(v, expect[c]);
    }
    EXPECT_EQ(RaidC_getHighestPdNumForCtrl(3, &v), RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(RaidC_getHighestPdNumForCtrl(0, nullptr), RAIDC_INPUT_NOT_INITIALIZED);
}

TEST(DriveQuery, ToolAnswers)
{
    installTree(wrapSystem({pd(" Nr=\"0\"", "<Temperature>38</Temperature><RPM>7200</RPM>") +
                            "<LogicalDrive Nr=\"0\"><Name>data</Name></LogicalDrive>"}));
    const std::string raidc = toolPath("raidc");
    std::string out;
    EXPECT_EQ(runCommand(raidc + " pd Temperature 0 0 --int", &out), 0);
    EXPECT_EQ(out, "38\n");
    EXPECT_EQ(runCommand(raidc + " pd RPM 0 0", &out), 0);
    EXPECT_EQ(out, "7.2\n");
    EXPECT_EQ(runCommand(raidc + " ld Name 0 1 2>/dev/null"), 3);
    EXPECT_EQ(runCommand(raidc + " pd Temperature 0 2>/dev/null"), 2);
}

} // namespace
