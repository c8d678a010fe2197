// `raidc check`: one device tree per plugin state, thresholds, texts from the
// tree that try to break the plugin output, the agent's liveness, the tree's
// age and the time limit. Whole outputs are compared with golden files.
#include "monitor.h"

#include <fcntl.h>
#include <regex>
#include <sys/stat.h>

using namespace monitor;

namespace {

const std::string ok = "health/ok.xml", warning = "health/warning.xml", critical = "health/critical.xml";

struct Row {
    std::string tree;   // an example file, a document (starting with '<'), or "" for none
    std::string args;   // after "check"
    long long ago = -1; // the tree's age in seconds, where that matters
};

// The check on the row's tree: the command, the output and the exit status,
// the paths, the versions and what changes with the clock masked.
std::string run(const Row &row)
{
    const std::string on = row.tree.empty() ? "no tree" : row.tree[0] == '<' ? "a document" : row.tree;
    SCOPED_TRACE("check " + row.args + " on " + on);
    row.tree.empty()     ? removeTree()
    : row.tree[0] == '<' ? installTree(row.tree)
                         : installFile(examplePath(row.tree.c_str()));
    if (row.ago >= 0) {
        const time_t when = static_cast<time_t>(time(nullptr) - row.ago);
        timespec t[2] = {{when, 0}, {when, 0}};
        EXPECT_EQ(utimensat(AT_FDCWD, RAIDC_DEVICE_TREE_PATH, t, 0), 0);
    }
    Output r = raidc("check " + row.args);
    // The tree's age in the performance data was taken while the check ran,
    // and the status line gives the same.
    std::smatch m;
    struct stat st;
    if (std::regex_search(r.out, m, std::regex(R"('tree_age'=(\d+)s)")) && stat(RAIDC_DEVICE_TREE_PATH, &st) == 0) {
        const long long age = std::stoll(m[1]), now = time(nullptr) - st.st_mtime;
        EXPECT_LE(age, now) << r.out;
        EXPECT_GE(age, now - 30) << r.out;
    }
    if (std::regex_search(r.out, m, std::regex(R"(written (\d+) s ago.*'tree_age'=(\d+)s)"))) {
        EXPECT_EQ(m[1], m[2]);
    }
    std::string out = masked(r.out);
    const std::string version = std::string("check ") + RAIDC_VERSION_STRING + " (library " + RaidC_GetVersion() + ")";
    if (size_t at = out.find(version); at != std::string::npos)
        out.replace(at, version.size(), "check VERSION (library VERSION)");
    return "$ raidc check " + row.args + " (" + on + ")\n" + out + "[exit " + std::to_string(r.status) + "]\n";
}

TEST(Check, EachTreeThresholdAndCommandLineGivesItsStateAndLine)
{
    cmdtest::PeerProcess agent(cmdtest::simulator());
    const Row rows[] = {
        // The warning tree names five problems and counts the rest; failures
        // come first.
        {ok, ""},
        {warning, ""},
        {warning, "--verbose"},
        {critical, "--verbose"},
        {"<RAIDStorageDeviceTree><System><Adapter>", ""},
        // No controllers is UNKNOWN unless allowed; a host with some is judged as always.
        {wrapSystem({}), ""},
        {wrapSystem({}), "--allow-no-controllers --verbose"},
        {wrapSystem({}), "--allow-no-controllers=yes"},
        {critical, "--allow-no-controllers"},
        // A hottest drive that is neither HDD nor SSD is judged by the drive class.
        {wrapSystem({"<Status>OK</Status><PhysicalDrive Nr=\"0\"><Type>SAS</Type><MediaType>Tape</MediaType>"
                     "<Status>Operational</Status><Temperature>71</Temperature></PhysicalDrive>"}),
         ""},
        // Texts from the tree cannot break the plugin output.
        {wrapSystem({"<Name>a|b</Name><Status>Failed | 'x'=1\nRAID OK</Status>"}), ""},
        // --max-age warns past it and is critical past twice it; unless
        // asked, even an old tree is only reported.
        {ok, "--max-age 60", 30},
        {ok, "--max-age 60", 100},
        {ok, "--max-age 60", 130},
        {ok, "", 10 * 365 * 86400LL},
    };
    std::string transcript;
    for (const Row &row : rows)
        transcript += run(row);
    // Thresholds against the HDD at 41 degrees (SSD 44, controller 63):
    // temperatures warn at the threshold; a class's own option wins wherever
    // it stands, and the drive class does not name the SSD again; the
    // monitoring-plugin range syntax; a class's own threshold wins over the
    // one for every class.
    for (const char *args :
         {"--warn-temp-hdd 41", "--warn-temp-hdd 42",
          "--warn-temp-ctrl=64 --warn-temp 44 --warn-temp-nvme 53 --warn-temp-hdd 42", "-w hdd=41", "-w hdd=40",
          "-w hdd=42:", "-w hdd=~:40", "-w hdd=30:50", "-w hdd=@30:50.5", "-w hdd=@~:41", "-c hdd=40 -w hdd=30",
          "--critical=hdd=40", "-chdd=40", "--crit-temp-hdd 41",
          "-w 43 -w hdd=50 -w ssd=50 -w ctrl=70 -w nvme=60 -w bbu=30 -w proc=40 -w pd=50", "-w 50 -c 62 -w ctrl=70",
          "-w hdd=@30:50.5 -c ssd=~:43",
          // Help and version, even after other options.
          "-h", "-w 5 --help", "-V", "--version"})
        transcript += run({ok, args});
    // A bad command line must not page anyone as CRITICAL.
    for (const char *args :
         {"--warn-temp hot", "--warn-temp-gpu 50", "--output x", "0", "-w", "-w x", "-w hdd=", "-w gpu=5", "-w 5:3",
          "-w -1", "-t 0", "-t x", "-x", "--agent-down maybe", "--max-age 0", "--max-age x"})
        transcript += run({critical, args});
    expectGolden("monitor/golden/check.txt", transcript);
}

// A writer that holds the tree's file lock and hangs would hold the check
// too: -t ends it as UNKNOWN. A probe that may not connect cannot tell
// whether the agent runs: that is never a dead agent. One that finds no
// agent gives a warning that says how old the tree is; without a tree
// nothing can be judged, and the line still names the agent.
TEST(Check, HungChecksEndAsUnknownAndAMissingAgentIsAWarningOneThatCannotBeProbedIsNot)
{
    cmdtest::PeerProcess agent(cmdtest::simulator());
    installFile(examplePath(ok.c_str()));
    ASSERT_EQ(chmod(RAIDC_CMD_SOCKET_PATH, 0), 0);
    ASSERT_EQ(chmod(RAIDC_DEVICE_TREE_PATH, 0666), 0); // the library opens it for its lock
    std::string as = getuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "", out;
    EXPECT_EQ(runCommand(as + toolPath("raidc") + " check -v 2>&1", &out), 0) << out;
    EXPECT_EQ(out.find("agent_up"), std::string::npos) << out;
    EXPECT_NE(out.find("\nagent: unknown\n"), std::string::npos) << out;

    EXPECT_EQ(agent.stop(), 0);
    std::string transcript;
    for (const char *args : {"", "--agent-down warning", "--agent-down critical", "--agent-down=ignore"})
        transcript += run({ok, args, 300});
    transcript += run({"", ""});
    expectGolden("monitor/golden/check-agent-down.txt", transcript);

    installFile(examplePath(ok.c_str()));
    int fd = open(RAIDC_DEVICE_TREE_PATH, O_RDWR);
    ASSERT_EQ(lockf(fd, F_LOCK, 0), 0);
    const double start = seconds();
    Output r = raidc("check -t 1");
    const double took = seconds() - start;
    close(fd);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "RAID UNKNOWN - no result within 1 s (-t)\n");
    EXPECT_GE(took, 0.9);
    EXPECT_LT(took, 5.0);
    EXPECT_EQ(raidc("check -t 1").status, 1) << "the lock is gone, the agent too";
}

} // namespace
