// The capabilities list and the growable-string parameter lookup, through
// RaidC_getCtrlInfo2 on real device tree files.
#include "testutil.h"

namespace {

using namespace testutil;

// One call of RaidC_getCtrlInfo2 as a transcript line: the status, the
// integer and the text, null where not asked for; a long run of one letter
// is shown as 'v'*n.
std::string call(const char *param, int ctrl, bool withText, bool withValue)
{
    string_t s;
    string_init(s);
    string_set_str(s, "untouched");
    int64_t v = 0;
    const int st = RaidC_getCtrlInfo2(param, ctrl, withText ? s : nullptr, withValue ? &v : nullptr);
    const std::string text = string_get_cstr(s);
    string_clear(s);
    const bool run = text.size() > 40 && text.find_first_not_of(text[0]) == std::string::npos;
    return "RaidC_getCtrlInfo2(\"" + std::string(param) + "\", " + std::to_string(ctrl) + ") = " + std::to_string(st) +
           " " + (withValue ? std::to_string(v) : "null") + " " +
           (!withText ? "null"
            : run     ? "'" + text.substr(0, 1) + "'*" + std::to_string(text.size())
                      : "'" + text + "'") +
           "\n";
}

// An adapter body whose capabilities element holds `entries`.
std::string caps(const std::string &entries)
{
    return "<CtrlId>0</CtrlId><RAIDCapabilities>" + entries + "</RAIDCapabilities>";
}

std::string entry(const std::string &level, const std::string &body)
{
    return "<Capability Type=\"" + level + "\">" + body + "</Capability>";
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

#ifdef RAIDC_FAULT_INJECTION
// Every allocation of a rendering, ours and json-c's, may fail: each gives
// 10 with "-" and nothing leaked, and the next rendering is whole again.
TEST(Capabilities, FailedAllocationsReportNoMemory)
{
    loadTree(wrapSystem({caps(entry("RAID-6", "<StripeSizes>64</StripeSizes><Hints>x</Hints>") +
                              entry("RAID-1", "<SupportedSpan>Enabled</SupportedSpan>"))}));
    const std::string full = call("RAIDCapabilities", 0, true, false);
    std::string line;
    const long points = forEachFaultPoint(
        [&] { line = call("RAIDCapabilities", 0, true, false); },
        [&](long nth, bool faulted) {
            EXPECT_EQ(line, faulted ? "RaidC_getCtrlInfo2(\"RAIDCapabilities\", 0) = 10 null '-'\n" : full) << nth;
            EXPECT_EQ(call("RAIDCapabilities", 0, true, false), full) << "after allocation " << nth;
        });
    EXPECT_GT(points, 10); // json-c's own allocations are among them
}
#endif

// Indexes, names and the cache state; texts are whole, integers pass the letter
// test, the first of repeated elements answers; then a document per caps rule.
TEST(CtrlInfo2, ArgumentsCacheTextsTheLetterTestAndCapabilities)
{
    onNeverRefreshedCache(
        [] { EXPECT_EQ(call("CtrlId", 0, true, true), "RaidC_getCtrlInfo2(\"CtrlId\", 0) = 5 -1 '-'\n"); });
    std::string out;
    loadTree(
        wrapSystem({"<HostName>h</HostName><Spec_MaxChannelInUse>1</Spec_MaxChannelInUse>", "<CtrlId>4</CtrlId>"}));
    for (int idx : {-1, 2})
        out += call("CtrlId", idx, true, false);
    for (const char *name : {"HostName", "Spec_MaxChannelInUse", "Missing", "ctrlid"})
        out += call(name, 0, true, true);
    loadTree(wrapSystem({"<Big>" + std::string(10000, 'v') +
                         "</Big><A>12</A><B>010</B><C>0x1F</C><D>0x1F</D><D>N/A</D><D>7</D><E>-12</E>"
                         "<Empty/><Empty>5</Empty><ChipTemperature>0</ChipTemperature>"}));
    out += call("Big", 0, true, false) + call("D", 0, true, true) + call("Empty", 0, true, false);
    for (const char *name : {"A", "B", "C", "D", "E", "Empty", "ChipTemperature"})
        out += call(name, 0, false, true);
    expectGolden("caps/golden/ctrlinfo2.txt", out);
    out.clear();
    for (const std::string &adapter :
         {caps(entry("RAID-5", "<StripeSizes>64,128</StripeSizes><DefaultStripeSize>64</DefaultStripeSize>"
                               "<SupportedInitMode>Fast Initialization,Normal Initialization</SupportedInitMode>"
                               "<Hints>VariableRaid6StripeSize</Hints>")),
          // A missing or comment-only element gives an empty list.
          std::string("<CtrlId>0</CtrlId>"), caps("\n  <!-- none -->\n  "), caps(levelEntries()),
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
              entry("RAID-0",
                    "<DefaultStripeSize>64</DefaultStripeSize><Type>RAID-5</Type><Vendor>x</Vendor>"
                    "<StripeSizes>1,2</StripeSizes><StripeSizes/><RAIDType>x</RAIDType>"
                    "<MinimumNumberOfDisks></MinimumNumberOfDisks><DefaultStripeSize>128</DefaultStripeSize>") +
              "</RAIDCapabilities><RAIDCapabilities>" + entry("RAID-5", "") + "</RAIDCapabilities>"}) {
        loadTree(wrapSystem({adapter}));
        out += call("RAIDCapabilities", 0, true, false);
    }
    expectGolden("caps/golden/capabilities.txt", out);
}

} // namespace
