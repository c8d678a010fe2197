// `raidc check`: one device tree per plugin state, thresholds, and texts
// from the tree that try to break the plugin output.
#include "monitor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace monitor;
using testutil::wrapSystem;

namespace {

bool has(const std::string &s, const std::string &part)
{
    return s.find(part) != std::string::npos;
}

// The tree file's age now, as the check computes it.
long long treeAge()
{
    struct stat st;
    return stat(RAIDC_DEVICE_TREE_PATH, &st) == 0 ? time(nullptr) - st.st_mtime : -1;
}

// The performance data's tree age, -1 without one.
long long perfAge(const std::string &line)
{
    size_t at = line.find(" 'tree_age'=");
    return at == std::string::npos ? -1 : std::stoll(line.substr(at + 12));
}

// Gives the tree file a modification time `ago` seconds in the past.
void writtenAgo(long long ago)
{
    const time_t when = static_cast<time_t>(time(nullptr) - ago);
    timespec t[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, RAIDC_DEVICE_TREE_PATH, t, 0), 0);
}

// The tree checks run with an agent that answers; the tests of the agent's
// liveness start the simulator or let it be gone.
class Check : public ::testing::Test {
protected:
    std::unique_ptr<AgentStandIn> agent = std::make_unique<AgentStandIn>();
};

TEST_F(Check, HealthyTreeIsOkWithPerfdata)
{
    Output r = onTree("health/ok.xml", "check");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, r.first + "\n");
    EXPECT_EQ(r.first.substr(0, r.first.find(" 'tree_age'=")),
              "RAID OK - 1 controller, 4 drives, 1 logical drive | 'c0_ctrl_temp'=63;@95:;@105: "
              "'c0_hdd_temp'=41;@55:;@65: 'c0_ssd_temp'=44;@70:;@80: 'c0_pd_temp'=44;@70:;@80: "
              "'c0_nvme_temp'=52;@75:;@85: 'c0_bbu_temp'=29;@50:;@60: 'c0_proc_temp'=31;@55:;@65: 'c0_pds'=4;;;0 "
              "'c0_pds_failed'=0;;0;0;4 'c0_pds_smart'=0;0;;0;4 'c0_lds'=1;;;0 'c0_lds_degraded'=0;0;;0;1 "
              "'agent_up'=1;1:;;0;1");
    // Taken while the check ran: no older than now, and not before the run.
    EXPECT_LE(perfAge(r.first), treeAge()) << r.first;
    EXPECT_GE(perfAge(r.first), treeAge() - 30) << r.first;
    EXPECT_TRUE(r.first.ends_with("s;;;0")) << r.first;
}

TEST_F(Check, WarningTreeNamesEachProblem)
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
    for (const char *p : {"'c0_nvme_temp'=79;@75:;@85:", "'c0_pds_failed'=0;;0;0;4", "'c0_pds_smart'=1;0;;0;4",
                          "'c0_lds_degraded'=1;0;;0;1"})
        EXPECT_TRUE(has(r.first, p)) << p;
    EXPECT_EQ(r.out, r.first + "\n");

    r = raidc("check --verbose");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 10);
    EXPECT_TRUE(has(r.out, "\nagent: up\ndevice tree: written 20")) << r.out;
    EXPECT_TRUE(has(r.out, "\nWARNING: controller 0 battery: Learning\n"));
    EXPECT_TRUE(has(r.out, "\nWARNING: controller 0 enclosure 0 processor 0 fan 0 (Fan 0): Failed\n"));
}

TEST_F(Check, CriticalTreePutsFailuresFirst)
{
    Output r = onTree("health/critical.xml", "check --verbose");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.first.rfind("RAID CRITICAL - controller 0 physical drive 2 (SAS HDD 1): Failed; controller 1 (RAID "
                            "Controller 1): Failed; controller 1 logical drive 0 (Data0): Failed; controller 0 (RAID "
                            "Controller 0): Degraded; controller 0 logical drive 0 (Data0): Degraded | ",
                            0),
              0u)
        << r.first;
    for (const char *p : {"'c0_pds_failed'=1;;0;0;4", "'c1_ctrl_temp'=71;@95:;@105:", "'c1_pds'=2;;;0"})
        EXPECT_TRUE(has(r.first, p)) << p;
    EXPECT_TRUE(has(r.out, "\nCRITICAL: controller 1 logical drive 0 (Data0): Failed\nWARNING: "));
}

TEST_F(Check, UnreadableTreeOrBadCommandLineIsUnknown)
{
    testutil::removeTree();
    Output r = raidc("check");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.first.rfind("RAID UNKNOWN - ", 0), 0u) << r.first;
    testutil::installTree("<RAIDStorageDeviceTree><System><Adapter>");
    EXPECT_TRUE(has(raidc("check").first, "unusable"));
    // A bad command line must not page anyone as CRITICAL.
    testutil::installFile(testutil::examplePath("health/critical.xml"));
    for (const char *args : {"--warn-temp hot", "--warn-temp-gpu 50", "--output x", "0", "--json", "-w", "-w x",
                             "-w hdd=", "-w gpu=5", "-w 5:3", "-w @", "-w -1", "-c ssd=~", "-t", "-t 0", "-t x",
                             "-x", "--crit-temp-gpu 3", "--agent-down maybe", "--max-age 0", "--max-age x"}) {
        r = raidc(std::string("check ") + args);
        EXPECT_EQ(r.status, 3) << args;
        EXPECT_EQ(r.first.rfind("RAID UNKNOWN - ", 0), 0u) << r.first;
    }
}

TEST_F(Check, NoControllersIsUnknownUnlessAllowed)
{
    testutil::installTree(wrapSystem({}));
    Output r = raidc("check");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "RAID UNKNOWN - no RAID controllers in the device tree\n");
    r = raidc("check --allow-no-controllers --verbose");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.first.substr(0, r.first.find("'tree_age'=")),
              "RAID OK - 0 controllers, 0 drives, 0 logical drives | 'agent_up'=1;1:;;0;1 ");
    EXPECT_EQ(raidc("check --allow-no-controllers=yes").status, 3);
    // A host that has controllers is judged as always.
    EXPECT_EQ(onTree("health/critical.xml", "check --allow-no-controllers").status, 2);
}

TEST_F(Check, TemperatureWarnsAtTheThresholdAndClassOptionsWin)
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
    EXPECT_TRUE(has(r.first, "'c0_ctrl_temp'=63;@64:;@105: 'c0_hdd_temp'=41;@42:;@65: 'c0_ssd_temp'=44;@44:;@80:"));
    EXPECT_EQ(onTree("health/warning.xml", "check --warn-temp-nvme 80 --verbose").out.find("NVMe"),
              std::string::npos);
    // A hottest drive that is neither HDD nor SSD is judged by the drive class.
    testutil::installTree(wrapSystem({"<Status>OK</Status><PhysicalDrive Nr=\"0\"><Type>SAS</Type><MediaType>Tape"
                                      "</MediaType><Status>Operational</Status><Temperature>71</Temperature>"
                                      "</PhysicalDrive>"}));
    r = raidc("check");
    EXPECT_EQ(r.first.rfind("RAID WARNING - controller 0 drive temperature 71 (warning at 70) | ", 0), 0u) << r.first;
}

TEST_F(Check, TreeTextsCannotBreakThePluginOutput)
{
    testutil::installTree(wrapSystem({"<Name>a|b</Name><Status>Failed | 'x'=1\nRAID OK</Status>"}));
    Output r = raidc("check");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, r.first + "\n");
    EXPECT_EQ(std::count(r.first.begin(), r.first.end(), '|'), 1) << r.first;
    EXPECT_TRUE(has(r.first, "controller 0 (a/b): Failed / 'x'=1 RAID OK |")) << r.first;
}

// Thresholds in the monitoring-plugin range syntax, against the healthy
// tree's HDD at 41 degrees (SSD 44, controller 63).
TEST_F(Check, TemperatureRangesFollowThePluginSyntax)
{
    testutil::installFile(testutil::examplePath("health/ok.xml"));
    const struct {
        const char *args;
        int status;
        const char *problem; // the status line's text, or "" for OK
    } cases[] = {
        {"-w hdd=41", 0, ""},
        {"-w hdd=40", 1, "controller 0 HDD temperature 41 (warning above 40)"},
        {"-w hdd=42:", 1, "controller 0 HDD temperature 41 (warning below 42)"},
        {"-w hdd=~:40", 1, "controller 0 HDD temperature 41 (warning above 40)"},
        {"-w hdd=~:41", 0, ""},
        {"-w hdd=30:50", 0, ""},
        {"-w hdd=@30:50.5", 1, "controller 0 HDD temperature 41 (warning between 30 and 50.5)"},
        {"-w hdd=@42:50", 0, ""},
        {"-w hdd=@~:41", 1, "controller 0 HDD temperature 41 (warning at most 41)"},
        {"-w hdd=@41:", 1, "controller 0 HDD temperature 41 (warning at 41)"},
        {"-c hdd=40 -w hdd=30", 2, "controller 0 HDD temperature 41 (critical above 40)"},
        {"--critical=hdd=40", 2, "controller 0 HDD temperature 41 (critical above 40)"},
        {"-chdd=40", 2, "controller 0 HDD temperature 41 (critical above 40)"},
        {"--crit-temp-hdd 41", 2, "controller 0 HDD temperature 41 (critical at 41)"},
        // A class's own threshold wins over the one for every class.
        {"-w 43 -w hdd=50 -w ssd=50 -w ctrl=70 -w nvme=60 -w bbu=30 -w proc=40 -w pd=50", 0, ""},
        {"-w 50 -c 62 -w ctrl=70", 2, "controller 0 chip temperature 63 (critical above 62)"},
        {"--warn-temp 60 -c ctrl=~:100", 1, "controller 0 chip temperature 63 (warning at 60)"},
    };
    for (const auto &c : cases) {
        Output r = raidc(std::string("check ") + c.args);
        EXPECT_EQ(r.status, c.status) << c.args << ": " << r.first;
        std::string prefix = std::string("RAID ") + (c.status == 0 ? "OK - 1 controller" : "") + c.problem;
        if (c.status)
            prefix = r.first.substr(0, r.first.find(" - ") + 3) + c.problem;
        EXPECT_EQ(r.first.rfind(prefix, 0), 0u) << c.args << ": " << r.first;
    }
    Output r = raidc("check -w hdd=@30:50.5 -c ssd=~:43");
    EXPECT_TRUE(has(r.first, "'c0_hdd_temp'=41;@30:50.5;@65: 'c0_ssd_temp'=44;@70:;~:43 ")) << r.first;
}

TEST_F(Check, HelpAndVersionPrintAndSucceed)
{
    for (const char *args : {"-h", "--help", "-w 5 --help"}) {
        Output r = raidc(std::string("check ") + args);
        EXPECT_EQ(r.status, 0) << args;
        EXPECT_EQ(r.first.rfind("usage: raidc check ", 0), 0u) << r.first;
        EXPECT_TRUE(has(r.out, "--agent-down")) << r.out;
    }
    for (const char *args : {"-V", "--version"}) {
        Output r = raidc(std::string("check ") + args);
        EXPECT_EQ(r.status, 0) << args;
        EXPECT_EQ(r.out, std::string("raidc check ") + RAIDC_VERSION_STRING + " (library " + RaidC_GetVersion() +
                             ")\n");
    }
}

// The simulator serving the command socket, then gone: the tree alone looks
// healthy, the missing agent is a warning that says how old the tree is.
TEST_F(Check, AgentThatStopsAnsweringIsAWarningNamingTheTreeAge)
{
    agent.reset();
    testutil::installFile(testutil::examplePath("health/ok.xml"));
    writtenAgo(300);
    std::vector<std::string> sim = testutil::toolArgv("raidc-agent-sim", {"serve"});
    std::vector<char *> argv;
    for (std::string &w : sim)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(open("/dev/null", O_WRONLY), 1);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    for (int i = 0; i < 250 && access(RAIDC_CMD_SOCKET_PATH, F_OK) != 0; ++i)
        usleep(20000);
    Output r = raidc("check");
    EXPECT_EQ(r.status, 0) << r.first;
    EXPECT_TRUE(has(r.first, " 'agent_up'=1;1:;;0;1 'tree_age'=30")) << r.first;
    kill(pid, SIGTERM);
    int st = 0;
    waitpid(pid, &st, 0);

    r = raidc("check");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.first.rfind("RAID WARNING - RAID agent not answering (device tree written 5 min ago) | ", 0), 0u)
        << r.first;
    const struct {
        const char *args;
        int status;
        const char *perf;
    } cases[] = {{"", 1, "'agent_up'=0;1:;;0;1"},
                 {"--agent-down warning", 1, "'agent_up'=0;1:;;0;1"},
                 {"--agent-down critical", 2, "'agent_up'=0;;1:;0;1"},
                 {"--agent-down=ignore", 0, "'agent_up'=0;;;0;1"}};
    for (const auto &c : cases) {
        r = raidc(std::string("check ") + c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_TRUE(has(r.first, c.perf)) << r.first;
    }
    // Without a tree nothing can be judged; the line still names the agent.
    testutil::removeTree();
    EXPECT_EQ(raidc("check").out, "RAID UNKNOWN - " RAIDC_DEVICE_TREE_PATH
                                  ": device tree file could not be opened or locked; RAID agent not answering (no "
                                  "device tree)\n");
}

// A probe that may not connect cannot tell whether the agent runs: that is
// never a dead agent.
TEST_F(Check, AgentThatCannotBeProbedIsNotCountedAsDown)
{
    testutil::installFile(testutil::examplePath("health/ok.xml"));
    ASSERT_EQ(chmod(RAIDC_CMD_SOCKET_PATH, 0), 0);
    ASSERT_EQ(chmod(RAIDC_DEVICE_TREE_PATH, 0666), 0); // the library opens it for its lock
    std::string as = getuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    std::string out;
    int status = testutil::runCommand(as + testutil::toolPath("raidc") + " check -v 2>&1", &out);
    EXPECT_EQ(status, 0) << out;
    EXPECT_FALSE(has(out, "agent_up")) << out;
    EXPECT_TRUE(has(out, "\nagent: unknown\n")) << out;
}

TEST_F(Check, MaxAgeWarnsPastItAndIsCriticalPastTwiceIt)
{
    testutil::installFile(testutil::examplePath("health/ok.xml"));
    const struct {
        long long ago;
        int status;
        const char *line;
    } cases[] = {
        {30, 0, "RAID OK - 1 controller"},
        {100, 1, "RAID WARNING - device tree written 10"}, // 100 s, or a little more on a slow host
        {130, 2, "RAID CRITICAL - device tree written 2 min ago (critical above 120 s) | "},
    };
    for (const auto &c : cases) {
        writtenAgo(c.ago);
        Output r = raidc("check --max-age 60");
        EXPECT_EQ(r.status, c.status) << c.ago;
        EXPECT_EQ(r.first.rfind(c.line, 0), 0u) << r.first;
        EXPECT_TRUE(has(r.first, "s;60;120;0")) << r.first;
    }
    EXPECT_TRUE(has(raidc("check --max-age 60").first, "ago (critical above 120 s) | "));
    writtenAgo(100);
    EXPECT_TRUE(has(raidc("check --max-age 60").first, " s ago (warning above 60 s) | "));
    // Unless asked, even an old tree is only reported.
    writtenAgo(10 * 365 * 86400LL);
    EXPECT_EQ(raidc("check").status, 0);
}

// A writer that holds the tree's file lock and hangs would hold the check
// too: -t ends it as UNKNOWN.
TEST_F(Check, TimeoutEndsAHungCheckAsUnknown)
{
    testutil::installFile(testutil::examplePath("health/ok.xml"));
    int fd = open(RAIDC_DEVICE_TREE_PATH, O_RDWR);
    ASSERT_EQ(lockf(fd, F_LOCK, 0), 0);
    auto start = std::chrono::steady_clock::now();
    Output r = raidc("check -t 1");
    auto took = std::chrono::steady_clock::now() - start;
    close(fd);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "RAID UNKNOWN - no result within 1 s (-t)\n");
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_EQ(raidc("check -t 1").status, 0) << "the lock is gone";
}

} // namespace
