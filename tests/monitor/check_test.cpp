// `raidc check`: one device tree per plugin state, thresholds, texts from the
// tree that try to break the plugin output, the agent's liveness, the tree's
// age and the time limit.
#include "monitor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>
#include <utility>

using namespace monitor;
using testutil::wrapSystem;

namespace {

// The tree file's age now, as the check computes it.
long long treeAge()
{
    struct stat st;
    return stat(RAIDC_DEVICE_TREE_PATH, &st) == 0 ? time(nullptr) - st.st_mtime : -1;
}

// Gives the tree file a modification time `ago` seconds in the past.
void writtenAgo(long long ago)
{
    const time_t when = static_cast<time_t>(time(nullptr) - ago);
    timespec t[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, RAIDC_DEVICE_TREE_PATH, t, 0), 0);
}

const std::string ok = "health/ok.xml", warning = "health/warning.xml", critical = "health/critical.xml";

struct Row {
    std::string tree; // an example file, a document (starting with '<'), or "" for none
    std::string args; // after "check"
    int status;
    std::string line;                    // how the first line starts; ending in a line break, the whole output
    std::vector<std::string> parts = {}; // in the output; starting with '!', nowhere in it
    long lines = 0;                      // how many lines the output has, where that matters
    long long ago = -1;                  // the tree's age in seconds, where that matters
};

void expectRow(const Row &row)
{
    SCOPED_TRACE("check " + row.args + " on " + (row.tree.starts_with('<') ? "a document" : row.tree) + ", expecting " +
                 row.line.substr(0, 60));
    if (row.tree.empty())
        testutil::removeTree();
    else if (row.tree[0] == '<')
        testutil::installTree(row.tree);
    else
        testutil::installFile(testutil::examplePath(row.tree.c_str()));
    if (row.ago >= 0)
        writtenAgo(row.ago);
    Output r = raidc("check " + row.args);
    EXPECT_EQ(r.status, row.status) << r.out;
    if (row.line.ends_with('\n')) {
        EXPECT_EQ(r.out, row.line);
    } else {
        EXPECT_TRUE(r.first.starts_with(row.line)) << r.first;
    }
    for (const std::string &p : row.parts) {
        if (p[0] == '!') {
            EXPECT_FALSE(has(r.out, p.substr(1))) << r.out;
        } else {
            EXPECT_TRUE(has(r.out, p)) << p << " not in:\n" << r.out;
        }
    }
    if (row.lines) {
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), row.lines) << r.out;
    }
    // A status line has one '|' at most, before its performance data, and
    // the tree's age there was taken while the check ran.
    if (r.first.starts_with("RAID ")) {
        EXPECT_LE(std::count(r.first.begin(), r.first.end(), '|'), 1) << r.first;
        size_t at = r.first.find(" 'tree_age'=");
        if (at != std::string::npos) {
            const long long age = std::stoll(r.first.substr(at + 12));
            EXPECT_LE(age, treeAge()) << r.first;
            EXPECT_GE(age, treeAge() - 30) << r.first;
        }
    }
}

// The checks run with the simulator as the agent, which one test stops.
class Check : public ::testing::Test {
protected:
    void SetUp() override { agent = serveAgent(); }
    void TearDown() override
    {
        if (agent > 0)
            stop(agent);
    }
    pid_t agent = -1;
};

TEST_F(Check, EachTreeThresholdAndCommandLineGivesItsStateAndLine)
{
    const std::string empty = wrapSystem({}), version = std::string("raidc check ") + RAIDC_VERSION_STRING +
                                                        " (library " + RaidC_GetVersion() + ")\n";
    std::vector<Row> rows = {
        {ok,
         "",
         0,
         "RAID OK - 1 controller, 4 drives, 1 logical drive | 'c0_ctrl_temp'=63;@95:;@105: "
         "'c0_hdd_temp'=41;@55:;@65: 'c0_ssd_temp'=44;@70:;@80: 'c0_pd_temp'=44;@70:;@80: 'c0_nvme_temp'=52;@75:;@85: "
         "'c0_bbu_temp'=29;@50:;@60: 'c0_proc_temp'=31;@55:;@65: 'c0_pds'=4;;;0 'c0_pds_failed'=0;;0;0;4 "
         "'c0_pds_smart'=0;0;;0;4 'c0_lds'=1;;;0 'c0_lds_degraded'=0;0;;0;1 'agent_up'=1;1:;;0;1 'tree_age'=",
         {"s;;;0\n"},
         1},
        // The warning tree names each problem, and two more in its count.
        {warning,
         "",
         1,
         "RAID WARNING - controller 0 (RAID Controller 0): Degraded; controller 0 NVMe temperature 79 (warning at "
         "75); controller 0 logical drive 0 (Data0): Partially Degraded; controller 0 physical drive 2 (SAS HDD 1): "
         "Rebuilding; controller 0 physical drive 3 (SAS SSD 2): Global Hotspare SMART Error; and 2 more | ",
         {"'c0_nvme_temp'=79;@75:;@85:", "'c0_pds_failed'=0;;0;0;4", "'c0_pds_smart'=1;0;;0;4",
          "'c0_lds_degraded'=1;0;;0;1"},
         1},
        {warning,
         "--verbose",
         1,
         "RAID WARNING - controller 0 (RAID Controller 0): Degraded; ",
         {"\nagent: up\ndevice tree: written 20", "\nWARNING: controller 0 battery: Learning\n",
          "\nWARNING: controller 0 enclosure 0 processor 0 fan 0 (Fan 0): Failed\n"},
         10},
        // Failures come first.
        {critical,
         "--verbose",
         2,
         "RAID CRITICAL - controller 0 physical drive 2 (SAS HDD 1): Failed; controller 1 (RAID Controller 1): "
         "Failed; controller 1 logical drive 0 (Data0): Failed; controller 0 (RAID Controller 0): Degraded; "
         "controller 0 logical drive 0 (Data0): Degraded | ",
         {"'c0_pds_failed'=1;;0;0;4", "'c1_ctrl_temp'=71;@95:;@105:", "'c1_pds'=2;;;0",
          "\nCRITICAL: controller 1 logical drive 0 (Data0): Failed\nWARNING: "}},
        {"", "", 3, "RAID UNKNOWN - "},
        {"<RAIDStorageDeviceTree><System><Adapter>", "", 3, "RAID UNKNOWN - ", {"unusable"}},
        // No controllers is UNKNOWN unless allowed; a host with some is judged as always.
        {empty, "", 3, "RAID UNKNOWN - no RAID controllers in the device tree\n"},
        {empty, "--allow-no-controllers --verbose", 0,
         "RAID OK - 0 controllers, 0 drives, 0 logical drives | 'agent_up'=1;1:;;0;1 'tree_age'="},
        {empty, "--allow-no-controllers=yes", 3, "RAID UNKNOWN - "},
        {critical, "--allow-no-controllers", 2, "RAID CRITICAL - "},
        // Temperatures warn at the threshold; a class's own option wins
        // wherever it stands, and the drive class does not name the SSD again.
        {ok, "--warn-temp-hdd 41", 1, "RAID WARNING - controller 0 HDD temperature 41 (warning at 41) | "},
        {ok, "--warn-temp-hdd 42", 0, "RAID OK - 1 controller"},
        {ok,
         "--warn-temp-ctrl=64 --warn-temp 44 --warn-temp-nvme 53 --warn-temp-hdd 42",
         1,
         "RAID WARNING - controller 0 SSD temperature 44 (warning at 44) | ",
         {"'c0_ctrl_temp'=63;@64:;@105: 'c0_hdd_temp'=41;@42:;@65: 'c0_ssd_temp'=44;@44:;@80:"}},
        {warning, "--warn-temp-nvme 80 --verbose", 1, "RAID WARNING - ", {"!NVMe"}},
        // A hottest drive that is neither HDD nor SSD is judged by the drive class.
        {wrapSystem({"<Status>OK</Status><PhysicalDrive Nr=\"0\"><Type>SAS</Type><MediaType>Tape</MediaType>"
                     "<Status>Operational</Status><Temperature>71</Temperature></PhysicalDrive>"}),
         "", 1, "RAID WARNING - controller 0 drive temperature 71 (warning at 70) | "},
        // Texts from the tree cannot break the plugin output.
        {wrapSystem({"<Name>a|b</Name><Status>Failed | 'x'=1\nRAID OK</Status>"}),
         "",
         2,
         "RAID CRITICAL - controller 0 (a/b): Failed / 'x'=1 RAID OK | ",
         {},
         1},
        // Thresholds in the monitoring-plugin range syntax against the HDD at
        // 41 degrees (SSD 44, controller 63).
        {ok, "-w hdd=41", 0, "RAID OK - 1 controller"},
        {ok, "-w hdd=40", 1, "RAID WARNING - controller 0 HDD temperature 41 (warning above 40)"},
        {ok, "-w hdd=42:", 1, "RAID WARNING - controller 0 HDD temperature 41 (warning below 42)"},
        {ok, "-w hdd=~:40", 1, "RAID WARNING - controller 0 HDD temperature 41 (warning above 40)"},
        {ok, "-w hdd=~:41", 0, "RAID OK - 1 controller"},
        {ok, "-w hdd=30:50", 0, "RAID OK - 1 controller"},
        {ok, "-w hdd=@30:50.5", 1, "RAID WARNING - controller 0 HDD temperature 41 (warning between 30 and 50.5)"},
        {ok, "-w hdd=@42:50", 0, "RAID OK - 1 controller"},
        {ok, "-w hdd=@~:41", 1, "RAID WARNING - controller 0 HDD temperature 41 (warning at most 41)"},
        {ok, "-w hdd=@41:", 1, "RAID WARNING - controller 0 HDD temperature 41 (warning at 41)"},
        {ok, "-c hdd=40 -w hdd=30", 2, "RAID CRITICAL - controller 0 HDD temperature 41 (critical above 40)"},
        {ok, "--critical=hdd=40", 2, "RAID CRITICAL - controller 0 HDD temperature 41 (critical above 40)"},
        {ok, "-chdd=40", 2, "RAID CRITICAL - controller 0 HDD temperature 41 (critical above 40)"},
        {ok, "--crit-temp-hdd 41", 2, "RAID CRITICAL - controller 0 HDD temperature 41 (critical at 41)"},
        // A class's own threshold wins over the one for every class.
        {ok, "-w 43 -w hdd=50 -w ssd=50 -w ctrl=70 -w nvme=60 -w bbu=30 -w proc=40 -w pd=50", 0, "RAID OK - 1 "},
        {ok, "-w 50 -c 62 -w ctrl=70", 2, "RAID CRITICAL - controller 0 chip temperature 63 (critical above 62)"},
        {ok, "--warn-temp 60 -c ctrl=~:100", 1, "RAID WARNING - controller 0 chip temperature 63 (warning at 60)"},
        {ok,
         "-w hdd=@30:50.5 -c ssd=~:43",
         2,
         "RAID CRITICAL - ",
         {"'c0_hdd_temp'=41;@30:50.5;@65: 'c0_ssd_temp'=44;@70:;~:43 "}},
        // --max-age warns past it and is critical past twice it; unless
        // asked, even an old tree is only reported.
        {ok, "--max-age 60", 0, "RAID OK - 1 controller", {"s;60;120;0"}, 1, 30},
        {ok,
         "--max-age 60",
         1,
         "RAID WARNING - device tree written 10", // 100 s, or a little more on a slow host
         {"s;60;120;0", " s ago (warning above 60 s) | "},
         1,
         100},
        {ok,
         "--max-age 60",
         2,
         "RAID CRITICAL - device tree written 2 min ago (critical above 120 s) | ",
         {"s;60;120;0"},
         1,
         130},
        {ok, "", 0, "RAID OK - 1 controller", {}, 1, 10 * 365 * 86400LL},
        {ok, "-V", 0, version},
        {ok, "--version", 0, version},
    };
    for (const char *args : {"-h", "--help", "-w 5 --help"})
        rows.push_back({ok, args, 0, "usage: raidc check ", {"--agent-down"}});
    // A bad command line must not page anyone as CRITICAL.
    for (const char *args : {"--warn-temp hot",
                             "--warn-temp-gpu 50",
                             "--output x",
                             "0",
                             "--json",
                             "-w",
                             "-w x",
                             "-w hdd=",
                             "-w gpu=5",
                             "-w 5:3",
                             "-w @",
                             "-w -1",
                             "-c ssd=~",
                             "-t",
                             "-t 0",
                             "-t x",
                             "-x",
                             "--crit-temp-gpu 3",
                             "--agent-down maybe",
                             "--max-age 0",
                             "--max-age x"})
        rows.push_back({critical, args, 3, "RAID UNKNOWN - "});
    for (const Row &row : rows)
        expectRow(row);
}

// The simulator serving the command socket, then gone: the tree alone looks
// healthy, the missing agent is a warning that says how old the tree is.
TEST_F(Check, AgentThatStopsAnsweringIsAWarningNamingTheTreeAge)
{
    expectRow({ok, "", 0, "RAID OK - ", {" 'agent_up'=1;1:;;0;1 'tree_age'=30"}, 1, 300});
    EXPECT_EQ(stop(std::exchange(agent, -1)), 0);
    const Row rows[] = {
        {ok,
         "",
         1,
         "RAID WARNING - RAID agent not answering (device tree written 5 min ago) | ",
         {"'agent_up'=0;1:;;0;1"},
         1,
         300},
        {ok, "--agent-down warning", 1, "RAID WARNING - ", {"'agent_up'=0;1:;;0;1"}},
        {ok, "--agent-down critical", 2, "RAID CRITICAL - ", {"'agent_up'=0;;1:;0;1"}},
        {ok, "--agent-down=ignore", 0, "RAID OK - ", {"'agent_up'=0;;;0;1"}},
        // Without a tree nothing can be judged; the line still names the agent.
        {"", "", 3,
         "RAID UNKNOWN - " RAIDC_DEVICE_TREE_PATH ": device tree file could not be opened or locked; RAID agent not "
         "answering (no device tree)\n"},
    };
    for (const Row &row : rows)
        expectRow(row);
}

// A probe that may not connect cannot tell whether the agent runs: that is
// never a dead agent.
TEST_F(Check, AgentThatCannotBeProbedIsNotCountedAsDown)
{
    testutil::installFile(testutil::examplePath(ok.c_str()));
    ASSERT_EQ(chmod(RAIDC_CMD_SOCKET_PATH, 0), 0);
    ASSERT_EQ(chmod(RAIDC_DEVICE_TREE_PATH, 0666), 0); // the library opens it for its lock
    std::string as = getuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    std::string out;
    int status = testutil::runCommand(as + testutil::toolPath("raidc") + " check -v 2>&1", &out);
    EXPECT_EQ(status, 0) << out;
    EXPECT_FALSE(has(out, "agent_up")) << out;
    EXPECT_TRUE(has(out, "\nagent: unknown\n")) << out;
}

// A writer that holds the tree's file lock and hangs would hold the check
// too: -t ends it as UNKNOWN.
TEST_F(Check, TimeoutEndsAHungCheckAsUnknown)
{
    testutil::installFile(testutil::examplePath(ok.c_str()));
    int fd = open(RAIDC_DEVICE_TREE_PATH, O_RDWR);
    ASSERT_EQ(lockf(fd, F_LOCK, 0), 0);
    auto start = std::chrono::steady_clock::now();
    Output r = raidc("check -t 1");
    auto took = std::chrono::steady_clock::now() - start;
    close(fd);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "RAID UNKNOWN - no result within 1 s (-t)\n");
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 5s);
    EXPECT_EQ(raidc("check -t 1").status, 0) << "the lock is gone";
}

} // namespace
