// `raidc check`: one device tree per plugin state, thresholds, and texts
// from the tree that try to break the plugin output.
#include "monitor.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace monitor;
using testutil::wrapSystem;

namespace {

bool has(const std::string &s, const std::string &part)
{
    return s.find(part) != std::string::npos;
}

TEST(Check, HealthyTreeIsOkWithPerfdata)
{
    Output r = onTree("health/ok.xml", "check");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, r.first + "\n");
    EXPECT_EQ(r.first, "RAID OK - 1 controller, 4 drives, 1 logical drive | 'c0_ctrl_temp'=63;@95: "
                       "'c0_hdd_temp'=41;@55: 'c0_ssd_temp'=44;@70: 'c0_pd_temp'=44;@70: 'c0_nvme_temp'=52;@75: "
                       "'c0_bbu_temp'=29;@50: 'c0_proc_temp'=31;@55: 'c0_pds'=4;;;0 'c0_pds_failed'=0;;0;0;4 "
                       "'c0_pds_smart'=0;0;;0;4 'c0_lds'=1;;;0 'c0_lds_degraded'=0;0;;0;1");
}

TEST(Check, WarningTreeNamesEachProblem)
{
    Output r = onTree("health/warning.xml", "check");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.first.rfind("RAID WARNING - controller 0 (RAID Controller 0): Degraded; controller 0 NVMe "
                            "temperature 79 (warning at 75); controller 0 logical drive 0 (Data0): Partially "
                            "Degraded; controller 0 physical drive 2 (SAS HDD 1): Rebuilding; controller 0 physical "
                            "drive 3 (SAS SSD 2): Global Hotspare SMART Error; and 2 more | ",
                            0),
              0u)
        << r.first;
    for (const char *p : {"'c0_nvme_temp'=79;@75:", "'c0_pds_failed'=0;;0;0;4", "'c0_pds_smart'=1;0;;0;4",
                          "'c0_lds_degraded'=1;0;;0;1"})
        EXPECT_TRUE(has(r.first, p)) << p;
    EXPECT_EQ(r.out, r.first + "\n");

    r = raidc("check --verbose");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 8);
    EXPECT_TRUE(has(r.out, "\nWARNING: controller 0 battery: Learning\n"));
    EXPECT_TRUE(has(r.out, "\nWARNING: controller 0 enclosure 0 processor 0 fan 0 (Fan 0): Failed\n"));
}

TEST(Check, CriticalTreePutsFailuresFirst)
{
    Output r = onTree("health/critical.xml", "check --verbose");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.first.rfind("RAID CRITICAL - controller 0 physical drive 2 (SAS HDD 1): Failed; controller 1 (RAID "
                            "Controller 1): Failed; controller 1 logical drive 0 (Data0): Failed; controller 0 (RAID "
                            "Controller 0): Degraded; controller 0 logical drive 0 (Data0): Degraded | ",
                            0),
              0u)
        << r.first;
    for (const char *p : {"'c0_pds_failed'=1;;0;0;4", "'c1_ctrl_temp'=71;@95:", "'c1_pds'=2;;;0"})
        EXPECT_TRUE(has(r.first, p)) << p;
    EXPECT_TRUE(has(r.out, "\nCRITICAL: controller 1 logical drive 0 (Data0): Failed\nWARNING: "));
}

TEST(Check, UnreadableTreeOrBadCommandLineIsUnknown)
{
    testutil::removeTree();
    Output r = raidc("check");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.first.rfind("RAID UNKNOWN - ", 0), 0u) << r.first;
    testutil::installTree("<RAIDStorageDeviceTree><System><Adapter>");
    EXPECT_TRUE(has(raidc("check").first, "unusable"));
    // A bad command line must not page anyone as CRITICAL.
    testutil::installFile(testutil::examplePath("health/critical.xml"));
    for (const char *args : {"--warn-temp hot", "--warn-temp-gpu 50", "--output x", "0", "--json"}) {
        r = raidc(std::string("check ") + args);
        EXPECT_EQ(r.status, 3) << args;
        EXPECT_EQ(r.first.rfind("RAID UNKNOWN - ", 0), 0u) << r.first;
    }
}

TEST(Check, NoControllersIsUnknownUnlessAllowed)
{
    testutil::installTree(wrapSystem({}));
    Output r = raidc("check");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "RAID UNKNOWN - no RAID controllers in the device tree\n");
    r = raidc("check --allow-no-controllers --verbose");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "RAID OK - 0 controllers, 0 drives, 0 logical drives |\n");
    EXPECT_EQ(raidc("check --allow-no-controllers=yes").status, 3);
    // A host that has controllers is judged as always.
    EXPECT_EQ(onTree("health/critical.xml", "check --allow-no-controllers").status, 2);
}

TEST(Check, TemperatureWarnsAtTheThresholdAndClassOptionsWin)
{
    Output r = onTree("health/ok.xml", "check --warn-temp-hdd 41");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.first.rfind("RAID WARNING - controller 0 HDD temperature 41 (warning at 41) | ", 0), 0u) << r.first;
    EXPECT_EQ(raidc("check --warn-temp-hdd 42").status, 0);
    // The per-class option wins wherever it stands; the drive class does
    // not name the SSD again.
    r = raidc("check --warn-temp-ctrl=64 --warn-temp 44 --warn-temp-nvme 53 --warn-temp-hdd 42");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.first.rfind("RAID WARNING - controller 0 SSD temperature 44 (warning at 44) | ", 0), 0u) << r.first;
    EXPECT_TRUE(has(r.first, "'c0_ctrl_temp'=63;@64: 'c0_hdd_temp'=41;@42: 'c0_ssd_temp'=44;@44:"));
    EXPECT_EQ(onTree("health/warning.xml", "check --warn-temp-nvme 80 --verbose").out.find("NVMe"),
              std::string::npos);
    // A hottest drive that is neither HDD nor SSD is judged by the drive class.
    testutil::installTree(wrapSystem({"<Status>OK</Status><PhysicalDrive Nr=\"0\"><Type>SAS</Type><MediaType>Tape"
                                      "</MediaType><Status>Operational</Status><Temperature>71</Temperature>"
                                      "</PhysicalDrive>"}));
    r = raidc("check");
    EXPECT_EQ(r.first.rfind("RAID WARNING - controller 0 drive temperature 71 (warning at 70) | ", 0), 0u) << r.first;
}

TEST(Check, TreeTextsCannotBreakThePluginOutput)
{
    testutil::installTree(wrapSystem({"<Name>a|b</Name><Status>Failed | 'x'=1\nRAID OK</Status>"}));
    Output r = raidc("check");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, r.first + "\n");
    EXPECT_EQ(std::count(r.first.begin(), r.first.end(), '|'), 1) << r.first;
    EXPECT_TRUE(has(r.first, "controller 0 (a/b): Failed / 'x'=1 RAID OK |")) << r.first;
}

} // namespace
