// MIB mappers against the MIB file itself: each enumeration's names, in any
// letter case, give the MIB's numbers; fallbacks; the stripe size arithmetic.
#include "testutil.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <regex>

namespace {

using Mapper = int (*)(const char *, int32_t *);
using Names = std::map<std::string, int32_t>;
constexpr int32_t kNone = INT32_MIN + 7; // preset; stays when nothing is written

// Every OBJECT-TYPE whose syntax is an enumeration, with its name(number) pairs.
std::map<std::string, Names> mibEnumerations()
{
    const std::string mib = testutil::readFile(RAIDC_SOURCE_DIR "/mib/RAIDC-MIB.txt");
    const std::regex object(R"((\w+)\s+OBJECT-TYPE\s+SYNTAX\s+INTEGER\s*\{([^}]*)\})"), item(R"((\w+)\((-?\d+)\))");
    std::map<std::string, Names> out;
    for (std::sregex_iterator o(mib.begin(), mib.end(), object), end; o != end; ++o) {
        const std::string body = (*o)[2];
        for (std::sregex_iterator i(body.begin(), body.end(), item); i != end; ++i)
            out[(*o)[1]][(*i)[1]] = std::stoi((*i)[2]);
    }
    return out;
}

// The text a MIB name stands for: "partiallyDegraded" is "partially Degraded",
// "raid1E0" is "raid-1E0".
std::string textOf(const std::string &name)
{
    const std::string spaced = std::regex_replace(name, std::regex("([a-z])([A-Z])"), "$1 $2");
    return std::regex_replace(spaced, std::regex("^([^0-9]*)([0-9])"), "$1-$2");
}

// Each mapper's MIB object and the name whose number it writes for any other
// text (null: it writes nothing, and the caller's preset stands for the MIB's
// "unknown"). `extra`: the agent's other wordings of a MIB name, as
// "text=name|..."; `refused`: names whose own text is not the agent's wording.
// Without an object, names are numbers: the numberings of an older MIB.
const struct {
    Mapper fn;
    const char *object, *fallback, *extra, *refused;
} kMappers[] = {
    {mibMapper_getCtrlStatus, "raidcCtrlStatus", nullptr, "", ""},
    {mibMapper_getCtrlInterface, "raidcCtrlInterface", "unknown", "", ""},
    {mibMapper_getLdWriteMode, "raidcLdWriteMode", "unknown", "Write-back=writeBack|Write-through=writeThrough", ""},
    {mibMapper_getLdReadMode, "raidcLdReadMode", "unknown",
     "Read-ahead=readAhead|ReadAhead=readAhead|No read-ahead=noReadAhead|No ReadAhead=noReadAhead|"
     "Adaptive read-ahead=adaptive",
     "readAhead|noReadAhead"},
    {mibMapper_getLdCacheMode, "raidcLdCacheMode", "unknown", "", ""},
    {mibMapper_getLdDiskCacheMode, "raidcLdDiskCacheMode", "unknown", "", ""},
    {mibMapper_getLdInitStatus, "raidcLdInitState", "unknown", "", ""},
    {mibMapper_getLdStatusEx, "raidcLdStatus", "unknown", "", ""},
    {mibMapper_getLdRaidLevelNum, "raidcLdRaidLevel", "unknown", "Unknown RAID Level=unknown", ""},
    {mibMapper_getPdPowerStatus, "raidcPdPowerStatus", nullptr, "Activated=active", ""},
    {mibMapper_getPdStatusEx, "raidcPdStatus", "unknown",
     "Rebuilding SMART Error=rebuilding|Global Hotspare SMART Error=globalHotspare|"
     "Dedicated Hotspare SMART Error=dedicatedHotspare|Offline - SMART Error=offline|Failed SMART Error=failed|"
     "Failed (Missing)=missing|Copyback / SMART Error=copyback|Migrating / SMART Error=migrating|"
     "JBOD / SMART Error=jbod|Shield smart=shield",
     "missing"},
    {mibMapper_getPdInterface, "raidcPdInterface", "unknown", "", ""},
    {mibMapper_getPdDeviceType, "raidcPdDeviceType", "other", "SSD=disk|HDD=disk", "disk"},
    {mibMapper_getPdForeignConfig, "raidcPdForeignConfig", nullptr, "false=none|true=present", "none|present"},
    {mibMapper_getLdStatus, nullptr, "1", "Operational=2|Degraded=3|Failed=4|Partially Degraded=9", ""},
    {mibMapper_getPdStatus, nullptr, "1",
     "Operational=3|Available=4|Rebuilding=6|Rebuilding SMART Error=6|Global Hotspare=7|"
     "Global Hotspare SMART Error=7|Dedicated Hotspare=8|Dedicated Hotspare SMART Error=8|"
     "Offline=9|Offline - SMART Error=9|Failed=10|Failed SMART Error=10",
     ""},
    {mibMapper_getSvrStatus, nullptr, nullptr, "OK=1|Warning=2|Failed=3", ""},
};

// fn maps text, in its own, upper and lower letter case, each with result 0,
// to want (kNone: it writes nothing).
void expectMapped(Mapper fn, const std::string &text, int32_t want)
{
    for (auto fold : {+[](int c) noexcept { return c; }, toupper, tolower}) {
        std::string s = text;
        std::transform(s.begin(), s.end(), s.begin(), [fold](unsigned char c) { return static_cast<char>(fold(c)); });
        int32_t v = kNone;
        EXPECT_EQ(fn(s.c_str(), &v), 0) << s;
        EXPECT_EQ(v, want) << "'" << s << "'";
    }
}

// Whole-text matching: no trimming, no prefixes, no substrings.
TEST(MibMappers, EveryMibNameInAnyLetterCaseAndNothingElse)
{
    const auto mib = mibEnumerations();
    const std::regex extra("([^=|]+)=([^|]+)");
    for (const auto &m : kMappers) {
        SCOPED_TRACE(m.object ? m.object : m.extra);
        const auto found = m.object ? mib.find(m.object) : mib.end();
        EXPECT_TRUE(!m.object || found != mib.end()) << m.object << " is not an enumeration of the MIB";
        const Names names = found == mib.end() ? Names{} : found->second;
        auto number = [&](const std::string &name) {
            EXPECT_TRUE(!m.object || names.count(name)) << m.object << " has no " << name;
            return !m.object ? std::stoi(name) : names.count(name) ? names.at(name) : kNone;
        };
        const int32_t fallback = m.fallback ? number(m.fallback) : kNone;
        const std::string refused = std::string("|") + m.refused + "|", extras = m.extra;
        for (const auto &[name, value] : names) {
            const bool own = refused.find("|" + name + "|") == std::string::npos;
            expectMapped(m.fn, textOf(name), own && (m.fallback || name != "unknown") ? value : fallback);
        }
        for (std::sregex_iterator e(extras.begin(), extras.end(), extra), end; e != end; ++e)
            expectMapped(m.fn, (*e)[1], number((*e)[2]));
        for (const char *text : {"", "No such state", "OK ", " Failed", "Degrade", "Write Back ", "RAID-1E00"})
            expectMapped(m.fn, text, fallback);
    }
    expectMapped(mibMapper_getPdStatus, "Failed (Missing)", 1);
    expectMapped(mibMapper_getLdRaidLevelNum, "RAID10", 1);
}

TEST(MibMappers, StripeSizeIsTheLeadingNumberTimes1024)
{
    // 32-bit arithmetic: the shift wraps, out-of-range numbers saturate first.
    std::string out;
    for (const char *text : {"64", "64 KB", "-1", "KB", "", "1.5", "12-1", "0x10", "010", "2097151", "2097152",
                             "99999999999", "-99999999999 KB"}) {
        std::string buf = text;
        int32_t v = kNone;
        const int r = mibMapper_getLdStripeSize(buf.data(), &v);
        out += "mibMapper_getLdStripeSize(\"" + buf + "\") = " + std::to_string(r) + " " + std::to_string(v) + "\n";
        EXPECT_EQ(buf, text);
    }
    testutil::expectGolden("mib/golden/stripe-sizes.txt", out);
}

#ifdef RAIDC_FAULT_INJECTION
TEST(MibMappers, StripeSizeWithoutScratchMemoryWritesNothing)
{
    int32_t v = kNone;
    int r = 0;
    testutil::forEachFaultPoint(
        [&] {
            char text[] = "64 KB";
            v = kNone;
            r = mibMapper_getLdStripeSize(text, &v);
        },
        [&](long nth, bool faulted) {
            EXPECT_EQ(r, faulted ? 1 : 0) << "fault point " << nth;
            EXPECT_EQ(v, faulted ? kNone : 65536) << "fault point " << nth;
        });
}
#endif

} // namespace
