// The capabilities list and the growable-string parameter lookup, through
// RaidC_getCtrlInfo2 on real device tree files. Every JSON text is parsed
// back and compared as data; where the bytes are fixed they are compared too.
#include "testutil.h"

#include <gtest/gtest.h>
#include <json-c/json.h>

#include <string>

namespace {

using testutil::loadTree;
using testutil::wrapSystem;

// RaidC_getCtrlInfo2 into a std::string.
int info2(const char *param, int ctrl, std::string *text, int64_t *value = nullptr)
{
    string_t s;
    string_init(s);
    string_set_str(s, "untouched");
    int st = RaidC_getCtrlInfo2(param, ctrl, text ? s : nullptr, value);
    if (text)
        *text = string_get_cstr(s);
    string_clear(s);
    return st;
}

std::string render(int ctrl = 0)
{
    std::string text;
    EXPECT_EQ(info2("RAIDCapabilities", ctrl, &text), RAIDC_SUCCESS_STRING);
    return text;
}

// One controller whose capabilities element holds `entries`.
std::string renderEntries(const std::string &entries)
{
    loadTree(wrapSystem({"<CtrlId>0</CtrlId><RAIDCapabilities>" + entries + "</RAIDCapabilities>"}));
    return render();
}

std::string entry(const std::string &level, const std::string &body)
{
    return "<Capability Type=\"" + level + "\">" + body + "</Capability>";
}

// Same data, and the same bytes: json-c's plain form with keys in document order.
void expectJson(const std::string &got, const std::string &want)
{
    json_object *g = json_tokener_parse(got.c_str()), *w = json_tokener_parse(want.c_str());
    EXPECT_TRUE(g && w && json_object_equal(g, w)) << got << "\nwanted " << want;
    EXPECT_EQ(got, want);
    json_object_put(g);
    json_object_put(w);
}

TEST(Capabilities, RendersOneObjectPerLevel)
{
    expectJson(renderEntries(entry("RAID-5", "<StripeSizes>64,128</StripeSizes><DefaultStripeSize>64</DefaultStripeSize>"
                                             "<SupportedInitMode>Fast Initialization,Normal Initialization"
                                             "</SupportedInitMode><Hints>VariableRaid6StripeSize</Hints>")),
               R"([{"RAIDType":"RAID5","StripeSizes":[64,128],"DefaultStripeSize":64,)"
               R"("SupportedInitMode":["Fast","Normal"],"Hints":{"VariableRAID6StripeSize":true}}])");
}

TEST(Capabilities, MissingOrEmptyElementGivesEmptyList)
{
    loadTree(wrapSystem({"<CtrlId>0</CtrlId>"}));
    expectJson(render(), "[]");
    expectJson(renderEntries(""), "[]");
    expectJson(renderEntries("\n  <!-- none -->\n  "), "[]");
}

TEST(Capabilities, LevelNamesAreNormalisedAndUnknownLevelsDropped)
{
    std::string entries;
    for (const char *level : {"raid-0", "RAID5", "Raid-1", " RAID-5", "RAID-1e", "RAID-5", "RAID-7", "raid-6", "",
                              "RAID-10", "RAID-1E0 ", "raid-1e0", "RAID-50", "RAID-60"})
        entries += entry(level, "");
    // The first attribute names the level, else the last "Type" child with text.
    entries += "<Capability><DefaultStripeSize>64</DefaultStripeSize></Capability><Capability Nr=\"1\" Type=\"RAID-1\"/>"
               "<Capability Type=\"RAID-1\"><Type>RAID-5</Type></Capability>"
               "<Capability><Type>RAID-0</Type><Type>RAID-6</Type><Type/></Capability>";
    expectJson(renderEntries(entries), R"([{"RAIDType":"RAID0"},{"RAIDType":"RAID1"},{"RAIDType":"RAID1E"},)"
                                       R"({"RAIDType":"RAID5"},{"RAIDType":"RAID6"},{"RAIDType":"RAID10"},)"
                                       R"({"RAIDType":"RAID10E"},{"RAIDType":"RAID50"},{"RAIDType":"RAID60"},)"
                                       R"({"RAIDType":"RAID1"},{"RAIDType":"RAID6"}])");
}

TEST(Capabilities, StripeSizeListsSplitAndTrim)
{
    const std::pair<const char *, const char *> cases[] = {
        {",64,, 128 ,", "[64,128]"},
        {"64,abc", "[64,0]"},
        {",,,", "[]"},
        {"\t&quot;256&quot;\n,{512}, &lt;1024&gt;&amp;, ~2048\xC3\xA9,'-64', 1 2", "[256,512,1024,2048,-64,1]"},
        {"99999999999,-99999999999", "[2147483647,-2147483648]"},
    };
    for (auto [text, list] : cases)
        expectJson(renderEntries(entry("RAID-0", std::string("<StripeSizes>") + text + "</StripeSizes>")),
                   std::string(R"([{"RAIDType":"RAID0","StripeSizes":)") + list + "}]");
}

TEST(Capabilities, CountsAndSpans)
{
    expectJson(renderEntries(entry("RAID-10", "<DefaultStripeSize> 256 </DefaultStripeSize>"
                                              "<MinimumNumberOfDisks>0</MinimumNumberOfDisks>"
                                              "<MaximumNumberOfDisks>12abc</MaximumNumberOfDisks>"
                                              "<MinimumNumberOfSpans>0</MinimumNumberOfSpans>"
                                              "<MaximumNumberOfSpans>-1</MaximumNumberOfSpans>") +
                             entry("RAID-50", "<MinimumNumberOfDisks>abc</MinimumNumberOfDisks>"
                                              "<MinimumNumberOfSpans>2</MinimumNumberOfSpans>"
                                              "<MaximumNumberOfSpans>8</MaximumNumberOfSpans>")),
               R"([{"RAIDType":"RAID10","DefaultStripeSize":256,"MinimumDriveCount":0,"MaximumDriveCount":12},)"
               R"({"RAIDType":"RAID50","MinimumDriveCount":0,"MinimumSpanCount":2,"MaximumSpanCount":8}])");
}

TEST(Capabilities, ModeListsGiveCanonicalNames)
{
    expectJson(
        renderEntries(entry(
            "RAID-1",
            "<SupportedInitMode>Fast Initialization, no initialization, Background,NORMAL INITIALIZATION</SupportedInitMode>"
            "<SupportedReadMode>no readahead,readahead,ADAPTIVE,Read Ahead,ReadAhead</SupportedReadMode>"
            "<SupportedWriteMode>write through,Write Back,write cache bad bbu,WriteBack</SupportedWriteMode>"
            "<SupportedCacheMode>direct,CACHED,Direct IO</SupportedCacheMode>"
            "<SupportedDiskCacheMode>disabled,enabled,unchanged</SupportedDiskCacheMode>"
            "<SupportedWriteHoleProtectionPolicy>off,distributedlog,JOURNALING</SupportedWriteHoleProtectionPolicy>"
            "<SupportedSpan>enabled, disabled</SupportedSpan>"
            "<SupportedAcceleratorMode>iobypass,controllercache,NONE</SupportedAcceleratorMode>")),
        R"([{"RAIDType":"RAID1","SupportedInitMode":["Fast","None","Normal"],)"
        R"("SupportedReadMode":["NoReadAhead","ReadAhead","Adaptive","ReadAhead"],)"
        R"("SupportedWriteMode":["WriteThrough","WriteBack","AlwaysWriteBack"],"SupportedCacheMode":["Direct","Cached"],)"
        R"("SupportedDriveCacheMode":["Disabled","Enabled","Unchanged"],)"
        R"("SupportedWriteHoleProtectionPolicy":["Off","DistributedLog","Journaling"],)"
        R"("SupportedSpan":["Enabled","Disabled"],"SupportedAcceleratorMode":["IOBypass","ControllerCache","None"]}])");
}

TEST(Capabilities, HintsKeysAndRepeats)
{
    // Hints only when a known hint is named; keys in document order; a
    // repeated property replaces the value in place; other children ignored.
    loadTree(wrapSystem({"<RAIDCapabilities>" +
                         entry("RAID-6", "<Hints>Other, variableraid6stripesize ,VARIABLERAID6STRIPESIZE</Hints>") +
                         entry("RAID-60", "<Hints>Other</Hints><Hints>,</Hints>") +
                         entry("RAID-0", "<DefaultStripeSize>64</DefaultStripeSize><Type>RAID-5</Type><Vendor>x</Vendor>"
                                         "<StripeSizes>1,2</StripeSizes><StripeSizes/><RAIDType>x</RAIDType>"
                                         "<MinimumNumberOfDisks></MinimumNumberOfDisks><DefaultStripeSize>128"
                                         "</DefaultStripeSize>") +
                         "</RAIDCapabilities><RAIDCapabilities>" + entry("RAID-5", "") + "</RAIDCapabilities>"}));
    expectJson(render(), R"([{"RAIDType":"RAID6","Hints":{"VariableRAID6StripeSize":true}},{"RAIDType":"RAID60"},)"
                         R"({"RAIDType":"RAID0","DefaultStripeSize":128,"StripeSizes":[1,2]}])");
}

TEST(Capabilities, HugeElementRendersWhole)
{
    std::string sizes, entries;
    for (int i = 0; i < 20000; ++i)
        sizes += std::to_string(i) + ",";
    entries = entry("RAID-0", "<StripeSizes>" + sizes + "</StripeSizes>");
    for (int i = 0; i < 3000; ++i)
        entries += entry(i % 2 ? "RAID-5" : "RAID-9", "<SupportedCacheMode>Direct,Cached</SupportedCacheMode>");
    json_object *doc = json_tokener_parse(renderEntries(entries).c_str());
    ASSERT_TRUE(doc);
    ASSERT_EQ(json_object_array_length(doc), 1501u);
    json_object *list = json_object_object_get(json_object_array_get_idx(doc, 0), "StripeSizes");
    ASSERT_EQ(json_object_array_length(list), 20000u);
    EXPECT_EQ(json_object_get_int(json_object_array_get_idx(list, 19999)), 19999);
    EXPECT_STREQ(json_object_to_json_string_ext(json_object_array_get_idx(doc, 1500), 0),
                 R"({"RAIDType":"RAID5","SupportedCacheMode":["Direct","Cached"]})");
    json_object_put(doc);
}

#ifdef RAIDC_FAULT_INJECTION
// Every allocation of a rendering, ours and json-c's, may fail: each gives
// 10 with "-" and nothing leaked, and the next rendering is whole again.
TEST(Capabilities, FailedAllocationsReportNoMemory)
{
    std::string full = renderEntries(entry("RAID-6", "<StripeSizes>64</StripeSizes><Hints>x</Hints>") +
                                     entry("RAID-1", "<SupportedSpan>Enabled</SupportedSpan>")),
                text;
    raidc_fault_arm(0);
    ASSERT_EQ(info2("RAIDCapabilities", 0, &text), RAIDC_SUCCESS_STRING);
    const long points = raidc_fault_calls();
    EXPECT_GT(points, 10); // json-c's own allocations are among them
    RecordProperty("fault_points", static_cast<int>(points));
    for (long nth = 1; nth <= points; ++nth) {
        raidc_fault_arm(nth);
        EXPECT_EQ(info2("RAIDCapabilities", 0, &text), RAIDC_NO_MEMORY) << "allocation " << nth;
        EXPECT_EQ(text, "-");
        raidc_fault_arm(0);
        EXPECT_EQ(render(), full);
    }
}
#endif

TEST(CtrlInfo2, ArgumentAndCacheChecks)
{
    // The outputs are checked before the cache.
    testutil::onNeverRefreshedCache([] {
        std::string text;
        int64_t v = 0;
        EXPECT_EQ(info2("CtrlId", 0, nullptr, nullptr), RAIDC_INPUT_NOT_INITIALIZED);
        EXPECT_EQ(info2("CtrlId", 0, &text, &v), RAIDC_CACHE_EMPTY);
        EXPECT_TRUE(text == "-" && v == -1);
    });
    std::string text;
    int64_t v = 0;
    loadTree(wrapSystem({"<HostName>h</HostName><Spec_MaxChannelInUse>1</Spec_MaxChannelInUse>", "<CtrlId>4</CtrlId>"}));
    for (int idx : {-1, 2, INT32_MIN})
        EXPECT_EQ(info2("CtrlId", idx, &text), RAIDC_PARAM_NOT_FOUND) << idx;
    const char *names[] = {"HostName", "Spec_MaxChannelInUse", "Missing", "ctrlid", nullptr};
    for (const char *name : names) {
        EXPECT_EQ(info2(name, 0, &text, &v), RAIDC_PARAM_NOT_FOUND) << (name ? name : "null");
        EXPECT_TRUE(text == "-" && v == -1);
    }
    EXPECT_EQ(info2("RAIDCapabilities", 0, nullptr, &v), RAIDC_INPUT_NOT_INITIALIZED);
}

TEST(CtrlInfo2, TextsAreWholeAndIntegersPassTheLetterTest)
{
    std::string big(10000, 'v'), text;
    int64_t v = 0;
    loadTree(wrapSystem({"<Big>" + big + "</Big><A>12</A><B>010</B><C>0x1F</C><D>0x1F</D><D>N/A</D><D>7</D><E>-12</E>"
                         "<Empty/><Empty>5</Empty><ChipTemperature>0</ChipTemperature>"}));
    EXPECT_EQ(info2("Big", 0, &text), RAIDC_SUCCESS_STRING);
    EXPECT_EQ(text, big);
    EXPECT_EQ(info2("D", 0, &text, &v), RAIDC_SUCCESS_STRING); // a text answer, the first child's
    EXPECT_TRUE(text == "0x1F" && v == -1);
    EXPECT_EQ(info2("Empty", 0, &text), RAIDC_PARAM_NOT_FOUND);
    const std::pair<const char *, int64_t> ints[] = {{"A", 12}, {"B", 8}, {"C", -1}, {"D", 7}, {"E", -12},
                                                     {"Empty", -1}, {"ChipTemperature", 0}};
    for (auto [name, want] : ints) {
        EXPECT_EQ(info2(name, 0, nullptr, &v), want == -1 ? RAIDC_PARAM_NOT_FOUND : RAIDC_SUCCESS_INT) << name;
        EXPECT_EQ(v, want) << name;
    }
}

TEST(CapsTool, PrintsTheListPlainOrPretty)
{
    // Controller 0 names levels in attributes, controller 1 in "Type" children.
    testutil::installFile(testutil::examplePath("two-controllers.xml"));
    ASSERT_EQ(RaidC_updateCache(), 0);
    std::string plain, pretty, raidc = testutil::toolPath("raidc");
    ASSERT_EQ(testutil::runCommand(raidc + " caps 1", &plain), 0);
    EXPECT_EQ(plain, render(0) + "\n");
    ASSERT_EQ(testutil::runCommand(raidc + " caps --pretty", &pretty), 0);
    EXPECT_NE(pretty.find("\n  {\n"), std::string::npos);
    json_object *doc = json_tokener_parse(pretty.c_str());
    ASSERT_TRUE(doc);
    EXPECT_EQ(json_object_array_length(doc), 7u);
    expectJson(json_object_to_json_string_ext(doc, 0), render(1));
    json_object_put(doc);
    EXPECT_EQ(testutil::runCommand(raidc + " caps 2 2>/dev/null", &plain), 3);
    EXPECT_EQ(testutil::runCommand(raidc + " caps x 2>/dev/null", &plain), 2);
}

} // namespace
