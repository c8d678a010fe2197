// Controller parameters: the rules every query family shares.
#include "testutil.h"

#include <gtest/gtest.h>

using namespace testutil;

namespace {

struct Answer {
    int status;
    std::string text;
    int64_t value;
};

Answer asText(const char *param, unsigned int bufLen = 64, int ctrl = 0)
{
    char buf[256];
    memset(buf, 'Z', sizeof buf);
    int64_t v = 5;
    int st = RaidC_getCtrlInfo(param, ctrl, buf, bufLen, &v);
    buf[bufLen < 255 ? bufLen : 255] = '\0';
    return {st, buf, v};
}

Answer asInt(const char *param, int ctrl = 0)
{
    int64_t v = 5;
    int st = RaidC_getCtrlInfo(param, ctrl, nullptr, 0, &v);
    return {st, "", v};
}

class Lookup : public ::testing::Test {
protected:
    void SetUp() override
    {
        loadTree(wrapSystem({"<CtrlId>42</CtrlId><Octal>010</Octal><Hex>0x1F</Hex><Neg>-12</Neg>"
                             "<Frac>3.5</Frac><Word>abcdefghij</Word><Empty/><T>N/A</T><T>7</T>"
                             "<ChipTemperature>N/A</ChipTemperature><ChipTemperature>61</ChipTemperature>"
                             "<PhysicalDrive Nr='0'><PortNumber>3</PortNumber></PhysicalDrive>"
                             "<Port><PhysicalDrive Nr='1'><PortNumber>11</PortNumber><PortNumber/></PhysicalDrive>"
                             "<PhysicalDrive Nr='2'><PortNumber>5</PortNumber></PhysicalDrive></Port>"
                             "<RAIDCapabilities><C Type='RAID-0'/></RAIDCapabilities>",
                             "<ChipTemperature>0</ChipTemperature>"},
                            "<Other>x</Other>"));
    }
};

TEST_F(Lookup, NeitherOutputIsRefusedAndNothingWritten)
{
    EXPECT_EQ(RaidC_getCtrlInfo("CtrlId", 0, nullptr, 0, nullptr), RAIDC_INPUT_NOT_INITIALIZED);
}

TEST_F(Lookup, TextAndIntegerForms)
{
    EXPECT_EQ(asInt("CtrlId").status, RAIDC_SUCCESS_INT);
    EXPECT_EQ(asInt("CtrlId").value, 42);
    Answer t = asText("CtrlId", 8);
    EXPECT_EQ(t.status, RAIDC_SUCCESS_STRING);
    EXPECT_EQ(t.text, "42");
    EXPECT_EQ(t.value, -1); // a string buffer makes the answer a string
    EXPECT_EQ(asInt("Octal").value, 8);
    EXPECT_EQ(asInt("Neg").value, -12);
    EXPECT_EQ(asInt("Hex").status, RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(asInt("Frac").status, RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(asInt("Frac").value, -1);
}

TEST_F(Lookup, LaterChildOfTheSameNameCanAnswerAnInteger)
{
    EXPECT_EQ(asInt("T").status, RAIDC_SUCCESS_INT);
    EXPECT_EQ(asInt("T").value, 7);
    EXPECT_EQ(asText("T").text, "N/A");
}

TEST_F(Lookup, BufferBounds)
{
    Answer a = asText("Word", 4);
    EXPECT_EQ(a.status, RAIDC_BUFFER_TOO_SMALL);
    EXPECT_EQ(a.text, "abcd");
    EXPECT_EQ(asText("Word", 10).status, RAIDC_SUCCESS_STRING);
    EXPECT_EQ(asText("Word", 9).status, RAIDC_BUFFER_TOO_SMALL);
    Answer zero = asText("Word", 0);
    EXPECT_EQ(zero.status, RAIDC_BUFFER_TOO_SMALL);
    char buf[4] = "xyz";
    EXPECT_EQ(RaidC_getCtrlInfo("Word", 0, buf, 0, nullptr), RAIDC_BUFFER_TOO_SMALL);
    EXPECT_STREQ(buf, "-");
}

TEST_F(Lookup, MissingValuesAndIndices)
{
    EXPECT_EQ(asText("Empty").status, RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(asText("Empty").text, "-");
    EXPECT_EQ(asText("NoSuch").status, RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(asText("CtrlId", 64, -1).status, RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(asText("CtrlId", 64, 2).status, RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(asText(nullptr).status, RAIDC_PARAM_NOT_FOUND);
    // Names are compared exactly.
    EXPECT_EQ(asText("ctrlid").status, RAIDC_PARAM_NOT_FOUND);
}

TEST_F(Lookup, HostNameComesFromTheSystemName)
{
    Answer a = asText("HostName", 4);
    EXPECT_EQ(a.status, RAIDC_SUCCESS_STRING); // cut, yet reported as fitting
    EXPECT_EQ(a.text, "test");
    EXPECT_EQ(asInt("HostName").status, RAIDC_INPUT_NOT_INITIALIZED);
}

TEST_F(Lookup, HighestPortNumberOverTheDrives)
{
    Answer a = asInt("Spec_MaxChannelInUse");
    EXPECT_EQ(a.status, RAIDC_SUCCESS_INT);
    EXPECT_EQ(a.value, 11);
    EXPECT_EQ(asInt("Spec_MaxChannelInUse", 1).status, RAIDC_PARAM_NOT_FOUND);
    char buf[8];
    EXPECT_EQ(RaidC_getCtrlInfo("Spec_MaxChannelInUse", 0, buf, sizeof buf, nullptr), RAIDC_INPUT_NOT_INITIALIZED);
}

TEST_F(Lookup, ChipTemperatureSkipsTextsAndRefusesZero)
{
    Answer a = asText("ChipTemperature");
    EXPECT_EQ(a.status, RAIDC_SUCCESS_INT);
    EXPECT_EQ(a.value, 61);
    EXPECT_EQ(a.text, "-");
    Answer zero = asInt("ChipTemperature", 1);
    EXPECT_EQ(zero.status, RAIDC_PARAM_NOT_FOUND);
    EXPECT_EQ(zero.value, 0);
    char b8[8];
    EXPECT_EQ(RaidC_getCtrlInfo("ChipTemperature", 0, b8, sizeof b8, nullptr), RAIDC_INPUT_NOT_INITIALIZED);
}

TEST_F(Lookup, CapabilitiesAreNotAPlainParameter)
{
    EXPECT_EQ(asText("RAIDCapabilities").status, RAIDC_PARAM_NOT_FOUND);
}

TEST_F(Lookup, RecursiveLockAllowsNestedCalls)
{
    pthread_mutex_lock(&RaidC_ThreadMutex);
    EXPECT_EQ(asInt("CtrlId").value, 42);
    pthread_mutex_unlock(&RaidC_ThreadMutex);
}

TEST(LetterTest, FirstCharacterIsNotExamined)
{
    EXPECT_EQ(raidInternal_checkIfContainsLetters("-12"), 0);
    EXPECT_EQ(raidInternal_checkIfContainsLetters("a12"), 0);
    EXPECT_EQ(raidInternal_checkIfContainsLetters("x"), 0);
    EXPECT_EQ(raidInternal_checkIfContainsLetters(""), 0);
    EXPECT_EQ(raidInternal_checkIfContainsLetters("3.5"), 1);
    EXPECT_EQ(raidInternal_checkIfContainsLetters("12-1"), 1);
    EXPECT_EQ(raidInternal_checkIfContainsLetters("0x1F"), 1);
    EXPECT_EQ(raidInternal_checkIfContainsLetters("42"), 0);
}

TEST(StatusText, EveryCodeAndTheUnknownOnes)
{
    EXPECT_STREQ(RaidC_AccessStatusToString(1), "Success with integer value");
    EXPECT_STREQ(RaidC_AccessStatusToString(3), "Buffer is filled, but not big enough");
    EXPECT_STREQ(RaidC_AccessStatusToString(8), "Device is available but extern connected");
    EXPECT_STREQ(RaidC_AccessStatusToString(10), "No more memory ");
    for (int n : {0, 11, -1, 17})
        EXPECT_STREQ(RaidC_AccessStatusToString(n), "status unknown");
}

TEST(PrintHooks, OnlyTheTrapHookWrites)
{
    std::string out = captureStdout([] {
        RaidCPrint("a%d", 1);
        RaidCPrintError("b%d", 2);
        RaidPrint("c%d", 3);
        EXPECT_EQ(RaidPrintError("d%d-%s", 4, "x"), 4);
    });
    EXPECT_EQ(out, "d4-x");
}

} // namespace
