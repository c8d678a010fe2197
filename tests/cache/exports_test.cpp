// The shared object exports exactly what the public header declares.
#include "testutil.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>

using namespace testutil;

namespace {

// Every function and object the public header declares for export.
std::set<std::string> declaredInHeader()
{
    std::istringstream header(readFile(RAIDC_SOURCE_DIR "/include/raidcommon.h"));
    const std::regex declared(R"(^(extern\s+)?RAIDC_API\s+[^;(]*?\b(\w+)\s*[(;])");
    std::set<std::string> names;
    std::smatch m;
    for (std::string line; std::getline(header, line);)
        if (std::regex_search(line, m, declared))
            names.insert(m[2]);
    return names;
}

TEST(Exports, ExactlyTheInterface)
{
    std::string out;
    ASSERT_EQ(runCommand(std::string("nm -D --defined-only ") + RAIDC_LIBRARY_FILE, &out), 0);
    std::set<std::string> got;
    std::istringstream lines(out);
    std::string addr, type, name;
    while (lines >> addr >> type >> name) {
        // Sanitizer and coverage runtimes and the fault-injection controls of test builds come along.
        if (name.rfind("__", 0) == 0 || name.rfind("raidc_fault_", 0) == 0 || name == "mangle_path" || type == "w" ||
            type == "V")
            continue;
        got.insert(name);
    }
    const std::set<std::string> want = declaredInHeader();
    ASSERT_GT(want.size(), 150u) << "the header's declarations were not found";
    for (const auto &n : want)
        EXPECT_TRUE(got.count(n)) << "not exported: " << n;
    for (const auto &n : got)
        EXPECT_TRUE(want.count(n)) << "exported but not part of the interface: " << n;
}

TEST(Exports, SonameHeaderAndLibraryVersionsAgree)
{
    std::string out;
    ASSERT_EQ(runCommand(std::string("objdump -p ") + RAIDC_LIBRARY_FILE, &out), 0);
    EXPECT_NE(out.find("SONAME               libzep_RaidCommon.so.1\n"), std::string::npos);
    char want[32];
    snprintf(want, sizeof want, "%d.%d.%d", RAIDC_VERSION_MAJOR, RAIDC_VERSION_MINOR, RAIDC_VERSION_PATCH);
    EXPECT_STREQ(RAIDC_VERSION_STRING, want);
    EXPECT_STREQ(RaidC_GetVersion(), RAIDC_VERSION_STRING);
    EXPECT_EQ(RAIDC_VERSION_MAJOR, 1); // the soname's major
}

} // namespace
