// MIB mappers: every table row in three letter cases, fallbacks, null
// input and the stripe size arithmetic.
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <sstream>
#include <string>

namespace {

using Mapper = int (*)(const char *, int32_t *);
constexpr int32_t kNone = INT32_MIN + 7; // preset; stays when nothing is written

// Each mapper's rows as "text=value|...", and what it writes for other texts.
const struct {
    Mapper fn;
    int32_t fallback;
    const char *rows;
} kTables[] = {
    {mibMapper_getCtrlStatus, kNone, "OK=1|Degraded=2|Failed=3"},
    {mibMapper_getCtrlInterface, 1, "SCSI=2|SATA=5|SAS=6"},
    {mibMapper_getLdWriteMode, 1, "Write-back=2|Write Back=2|Write-through=3|Write Through=3"},
    {mibMapper_getLdReadMode, 1, "Unknown=1|Read-ahead=2|ReadAhead=2|No read-ahead=3|No ReadAhead=3|Adaptive=4|"
                                 "Adaptive read-ahead=4"},
    {mibMapper_getLdCacheMode, 1, "Cached=2|Direct=3"},
    {mibMapper_getLdDiskCacheMode, 1, "Enabled=2|Disabled=3|Unchanged=4"},
    {mibMapper_getLdInitStatus, 1, "Initialized=2|Uninitialized=3"},
    {mibMapper_getLdStatus, 1, "Operational=2|Degraded=3|Failed=4|Partially Degraded=9"},
    {mibMapper_getLdStatusEx, 1, "Operational=2|Partially Degraded=3|Degraded=4|Failed=5"},
    {mibMapper_getLdRaidLevelNum, 1, "Unknown RAID Level=1|RAID-0=2|RAID-1=4|RAID-1E=5|RAID-10=6|RAID-5=9|"
                                     "RAID-50=10|RAID-6=13|RAID-60=16|RAID-1E0=17"},
    {mibMapper_getPdPowerStatus, kNone, "Active=1|Activated=1|Stopped=2|Transition=3"},
    {mibMapper_getPdStatus, 1, "Operational=3|Available=4|Rebuilding=6|Rebuilding SMART Error=6|Global Hotspare=7|"
                               "Global Hotspare SMART Error=7|Dedicated Hotspare=8|Dedicated Hotspare SMART Error=8|"
                               "Offline=9|Offline - SMART Error=9|Failed=10|Failed SMART Error=10"},
    {mibMapper_getPdStatusEx, 1, "Available=3|Operational=4|Rebuilding=6|Rebuilding SMART Error=6|Global Hotspare=7|"
                                 "Global Hotspare SMART Error=7|Dedicated Hotspare=8|Dedicated Hotspare SMART Error=8|"
                                 "Offline=9|Offline - SMART Error=9|Failed=10|Failed SMART Error=10|"
                                 "Failed (Missing)=11|Copyback=12|Copyback / SMART Error=12|Migrating=16|"
                                 "Migrating / SMART Error=16|JBOD=17|JBOD / SMART Error=17|Shield=18|Shield smart=18"},
    {mibMapper_getPdInterface, 1, "SATA=5|SAS=6"},
    {mibMapper_getPdDeviceType, 99, "SSD=2|HDD=2"},
    {mibMapper_getPdForeignConfig, kNone, "false=1|true=2"},
    {mibMapper_getSvrStatus, kNone, "OK=1|Warning=2|Failed=3"},
};

int32_t mapped(Mapper fn, const std::string &text)
{
    int32_t v = kNone;
    EXPECT_EQ(fn(text.c_str(), &v), 0) << text;
    return v;
}

std::string folded(std::string s, int (*fold)(int))
{
    std::transform(s.begin(), s.end(), s.begin(), [fold](unsigned char c) { return static_cast<char>(fold(c)); });
    return s;
}

TEST(MibMappers, EveryRowInAnyLetterCase)
{
    for (const auto &t : kTables) {
        std::istringstream rows(t.rows);
        for (std::string row; std::getline(rows, row, '|');) {
            std::string text = row.substr(0, row.find('='));
            int32_t want = std::stoi(row.substr(text.size() + 1));
            for (const std::string &s : {text, folded(text, toupper), folded(text, tolower)})
                EXPECT_EQ(mapped(t.fn, s), want) << s;
        }
    }
}

TEST(MibMappers, UnknownTextsTakeTheFallbackOrWriteNothing)
{
    // Whole-text matching: no trimming, no prefixes, no substrings.
    for (const auto &t : kTables) {
        for (const char *text : {"", "No such state", "OK ", " Failed", "Degrade", "Write Back ", "RAID-1E00"})
            EXPECT_EQ(mapped(t.fn, text), t.fallback) << "'" << text << "' in " << t.rows;
        int32_t v = kNone;
        EXPECT_EQ(t.fn(nullptr, &v), 1);
        EXPECT_EQ(v, kNone);
        EXPECT_EQ(t.fn("OK", nullptr), 1);
    }
    EXPECT_EQ(mapped(mibMapper_getPdStatus, "Failed (Missing)"), 1);
    EXPECT_EQ(mapped(mibMapper_getLdRaidLevelNum, "RAID10"), 1);
}

TEST(MibMappers, StripeSizeIsTheLeadingNumberTimes1024)
{
    const std::pair<const char *, int32_t> cases[] = {
        {"64", 65536}, {"64 KB", 65536}, {"256KiB", 262144}, {"-1", -1024}, {"KB", 0}, {"", 0}, {"7", 7168},
        {" 8k", 8192}, {"1.5", 1024}, {"12-1", 12288}, {"0x10", 0}, {"010", 10240}, {"2097151", INT32_MAX - 1023},
        // 32-bit arithmetic: the shift wraps, out-of-range numbers saturate first
        {"2097152", INT32_MIN}, {"4194304", 0}, {"99999999999", -1024}, {"-99999999999 KB", 0}};
    for (auto [text, want] : cases) {
        std::string buf = text;
        int32_t v = kNone;
        EXPECT_EQ(mibMapper_getLdStripeSize(buf.data(), &v), 0) << text;
        EXPECT_EQ(v, want) << text;
        EXPECT_EQ(buf, text);
    }
    int32_t v = kNone;
    EXPECT_EQ(mibMapper_getLdStripeSize(nullptr, &v), 1);
    EXPECT_EQ(v, kNone);
}

#ifdef RAIDC_FAULT_INJECTION
TEST(MibMappers, StripeSizeWithoutScratchMemoryWritesNothing)
{
    char text[] = "64 KB";
    int32_t v = kNone;
    raidc_fault_arm(1);
    EXPECT_EQ(mibMapper_getLdStripeSize(text, &v), 1);
    raidc_fault_arm(0);
    EXPECT_EQ(v, kNone);
}
#endif

TEST(MibTool, PrintsValuesAndListsObjects)
{
    std::string out, raidc = testutil::toolPath("raidc");
    EXPECT_EQ(testutil::runCommand(raidc + " mib ld-status 'partially degraded'", &out), 0);
    EXPECT_EQ(out, "9\n");
    EXPECT_EQ(testutil::runCommand(raidc + " mib ld-stripe-size '256KiB' --json", &out), 0);
    EXPECT_EQ(out, "{\"format_version\":1,\"object\":\"ld-stripe-size\",\"text\":\"256KiB\",\"value\":262144}\n");
    EXPECT_EQ(testutil::runCommand(raidc + " mib svr-status Unknown 2>/dev/null", &out), 3);
    EXPECT_EQ(testutil::runCommand(raidc + " mib no-such-object OK 2>&1", &out), 2);
    EXPECT_NE(out.find("pd-status-ex"), std::string::npos) << out;
}

} // namespace
