// The capabilities list and the growable-string parameter lookup, through
// RaidC_getCtrlInfo2 on real device tree files.
#include "testutil.h"

#include <gtest/gtest.h>
#include <json-c/json.h>

#include <cstdlib>
#include <fstream>
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

// An adapter body whose capabilities element holds `entries`.
std::string caps(const std::string &entries)
{
    return "<CtrlId>0</CtrlId><RAIDCapabilities>" + entries + "</RAIDCapabilities>";
}

std::string renderEntries(const std::string &entries)
{
    loadTree(wrapSystem({caps(entries)}));
    return render();
}

std::string entry(const std::string &level, const std::string &body)
{
    return "<Capability Type=\"" + level + "\">" + body + "</Capability>";
}

// Compares text with the golden file of that name byte for byte;
// RAIDC_UPDATE_GOLDEN=1 writes the file anew instead.
void expectGolden(const char *name, const std::string &text)
{
    const std::string path = std::string(RAIDC_SOURCE_DIR "/tests/caps/golden/") + name;
    if (const char *update = getenv("RAIDC_UPDATE_GOLDEN"); update && std::string(update) == "1")
        std::ofstream(path, std::ios::binary) << text;
    EXPECT_EQ(testutil::readFile(path), text) << path;
}

// Level names: the first attribute names the level, else the last "Type"
// child with text; unknown levels are dropped.
std::string levelEntries()
{
    std::string entries;
    for (const char *level : {"raid-0", "RAID5", "Raid-1", " RAID-5", "RAID-1e", "RAID-5", "raid-6", "", "RAID-10",
                              "RAID-1E0 ", "raid-1e0", "RAID-50", "RAID-60"})
        entries += entry(level, "");
    return entries +
           "<Capability><DefaultStripeSize>64</DefaultStripeSize></Capability>"
           "<Capability Nr=\"1\" Type=\"RAID-1\"/><Capability Type=\"RAID-1\"><Type>RAID-5</Type></Capability>"
           "<Capability><Type>RAID-0</Type><Type>RAID-6</Type><Type/></Capability>";
}

std::string stripes(const char *text)
{
    return caps(entry("RAID-0", std::string("<StripeSizes>") + text + "</StripeSizes>"));
}

// One document per rendering rule; the renderings, a line each, are compared
// whole with the golden file.
TEST(Capabilities, RendersEveryDocumentAsJson)
{
    const std::string adapters[] = {
        caps(entry("RAID-5", "<StripeSizes>64,128</StripeSizes><DefaultStripeSize>64</DefaultStripeSize>"
                             "<SupportedInitMode>Fast Initialization,Normal Initialization</SupportedInitMode>"
                             "<Hints>VariableRaid6StripeSize</Hints>")),
        // A missing or comment-only element gives an empty list.
        "<CtrlId>0</CtrlId>", caps("\n  <!-- none -->\n  "), caps(levelEntries()),
        // Stripe size lists split and trim; texts give their leading number, saturated.
        stripes(",64,, 128 ,"), stripes("64,abc"), stripes(",,,"),
        stripes("\t&quot;256&quot;\n,{512}, &lt;1024&gt;&amp;, ~2048\xC3\xA9,'-64', 1 2"),
        stripes("99999999999,-99999999999"),
        // Counts and spans.
        caps(entry("RAID-10",
                   "<DefaultStripeSize> 256 </DefaultStripeSize><MinimumNumberOfDisks>0</MinimumNumberOfDisks>"
                   "<MaximumNumberOfDisks>12abc</MaximumNumberOfDisks>"
                   "<MinimumNumberOfSpans>0</MinimumNumberOfSpans>"
                   "<MaximumNumberOfSpans>-1</MaximumNumberOfSpans>") +
             entry("RAID-50", "<MinimumNumberOfDisks>abc</MinimumNumberOfDisks>"
                              "<MinimumNumberOfSpans>2</MinimumNumberOfSpans>"
                              "<MaximumNumberOfSpans>8</MaximumNumberOfSpans>")),
        // Mode lists give canonical names.
        caps(entry("RAID-1",
                   "<SupportedInitMode>Fast Initialization, no initialization, Background,NORMAL "
                   "INITIALIZATION</SupportedInitMode>"
                   "<SupportedReadMode>no readahead,readahead,ADAPTIVE,Read Ahead,ReadAhead</SupportedReadMode>"
                   "<SupportedWriteMode>write through,Write Back,write cache bad bbu,WriteBack</SupportedWriteMode>"
                   "<SupportedCacheMode>direct,CACHED,Direct IO</SupportedCacheMode>"
                   "<SupportedDiskCacheMode>disabled,enabled,unchanged</SupportedDiskCacheMode>"
                   "<SupportedWriteHoleProtectionPolicy>off,distributedlog,JOURNALING"
                   "</SupportedWriteHoleProtectionPolicy>"
                   "<SupportedSpan>enabled, disabled</SupportedSpan>"
                   "<SupportedAcceleratorMode>iobypass,controllercache,NONE</SupportedAcceleratorMode>")),
        // Hints only when a known hint is named; keys in document order; a
        // repeated property replaces the value in place; other children
        // ignored; only the first capabilities element counts.
        "<RAIDCapabilities>" +
            entry("RAID-6", "<Hints>Other, variableraid6stripesize ,VARIABLERAID6STRIPESIZE</Hints>") +
            entry("RAID-60", "<Hints>Other</Hints><Hints>,</Hints>") +
            entry("RAID-0", "<DefaultStripeSize>64</DefaultStripeSize><Type>RAID-5</Type><Vendor>x</Vendor>"
                            "<StripeSizes>1,2</StripeSizes><StripeSizes/><RAIDType>x</RAIDType>"
                            "<MinimumNumberOfDisks></MinimumNumberOfDisks><DefaultStripeSize>128</DefaultStripeSize>") +
            "</RAIDCapabilities><RAIDCapabilities>" + entry("RAID-5", "") + "</RAIDCapabilities>"};
    std::string out;
    for (const std::string &adapter : adapters) {
        loadTree(wrapSystem({adapter}));
        out += render() + "\n";
    }
    expectGolden("capabilities.json", out);
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
    const std::string full = renderEntries(entry("RAID-6", "<StripeSizes>64</StripeSizes><Hints>x</Hints>") +
                                           entry("RAID-1", "<SupportedSpan>Enabled</SupportedSpan>"));
    std::string text;
    int status = 0;
    const long points =
        testutil::forEachFaultPoint([&] { status = info2("RAIDCapabilities", 0, &text); },
                                    [&](long nth, bool faulted) {
                                        EXPECT_EQ(status, faulted ? RAIDC_NO_MEMORY : RAIDC_SUCCESS_STRING)
                                            << "allocation " << nth;
                                        EXPECT_EQ(text, faulted ? "-" : full) << "allocation " << nth;
                                        EXPECT_EQ(render(), full) << "after allocation " << nth;
                                    });
    EXPECT_GT(points, 10); // json-c's own allocations are among them
    RecordProperty("fault_points", static_cast<int>(points));
}
#endif

TEST(CtrlInfo2, ArgumentAndCacheChecks)
{
    testutil::onNeverRefreshedCache([] {
        std::string text;
        int64_t v = 0;
        EXPECT_EQ(info2("CtrlId", 0, &text, &v), RAIDC_CACHE_EMPTY);
        EXPECT_TRUE(text == "-" && v == -1);
    });
    std::string text;
    int64_t v = 0;
    loadTree(
        wrapSystem({"<HostName>h</HostName><Spec_MaxChannelInUse>1</Spec_MaxChannelInUse>", "<CtrlId>4</CtrlId>"}));
    for (int idx : {-1, 2})
        EXPECT_EQ(info2("CtrlId", idx, &text), RAIDC_PARAM_NOT_FOUND) << idx;
    for (const char *name : {"HostName", "Spec_MaxChannelInUse", "Missing", "ctrlid"}) {
        EXPECT_EQ(info2(name, 0, &text, &v), RAIDC_PARAM_NOT_FOUND) << name;
        EXPECT_TRUE(text == "-" && v == -1);
    }
}

TEST(CtrlInfo2, TextsAreWholeAndIntegersPassTheLetterTest)
{
    std::string big(10000, 'v'), text;
    int64_t v = 0;
    loadTree(wrapSystem({"<Big>" + big +
                         "</Big><A>12</A><B>010</B><C>0x1F</C><D>0x1F</D><D>N/A</D><D>7</D><E>-12</E>"
                         "<Empty/><Empty>5</Empty><ChipTemperature>0</ChipTemperature>"}));
    EXPECT_EQ(info2("Big", 0, &text), RAIDC_SUCCESS_STRING);
    EXPECT_EQ(text, big);
    EXPECT_EQ(info2("D", 0, &text, &v), RAIDC_SUCCESS_STRING); // a text answer, the first child's
    EXPECT_TRUE(text == "0x1F" && v == -1);
    EXPECT_EQ(info2("Empty", 0, &text), RAIDC_PARAM_NOT_FOUND);
    const std::pair<const char *, int64_t> ints[] = {
        {"A", 12}, {"B", 8}, {"C", -1}, {"D", 7}, {"E", -12}, {"Empty", -1}, {"ChipTemperature", 0}};
    for (auto [name, want] : ints) {
        EXPECT_EQ(info2(name, 0, nullptr, &v), want == -1 ? RAIDC_PARAM_NOT_FOUND : RAIDC_SUCCESS_INT) << name;
        EXPECT_EQ(v, want) << name;
    }
}

} // namespace
