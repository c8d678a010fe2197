// `raidc metrics`: valid exposition text (checked by promtool), values as
// the device tree gives them, label escaping, and the atomic --output.
#include "monitor.h"

#include <algorithm>
#include <sys/stat.h>

using namespace monitor;

namespace {

// `raidc metrics` on the tree there is, which promtool must accept (its
// findings go to standard error); the tree's time masked.
std::string metrics(int status = 0)
{
    Output r = raidc("metrics");
    EXPECT_EQ(r.status, status);
    FILE *p = popen("promtool check metrics >&2", "w");
    if (p)
        fwrite(r.out.data(), 1, r.out.size(), p);
    EXPECT_EQ(p ? pclose(p) : -1, 0) << "promtool (Debian prometheus) is missing or rejects:\n" << r.out;
    return masked(r.out);
}

// Statuses as MIB integers, sizes from MiB, texts in labels, every line of
// every example tree, first with no agent.
TEST(Metrics, EveryExampleTreeGivesValidTextWithItsValuesAndTheAgentsLiveness)
{
    unlink(RAIDC_CMD_SOCKET_PATH);
    for (std::string tree :
         {"health/ok.xml", "health/warning.xml", "health/critical.xml", "one-controller.xml", "two-controllers.xml"}) {
        SCOPED_TRACE(tree);
        installFile(examplePath(tree.c_str()));
        std::replace(tree.begin(), tree.end(), '/', '-');
        expectGolden("monitor/golden/metrics-" + tree.substr(0, tree.size() - 4) + ".txt", metrics());
    }
    // A quote, a backslash, a line break, and a name cut by its 128-byte
    // field in the middle of a two-byte character; a drive of no known type.
    installTree(wrapSystem({"<Name>say \"hi\" \\ \nnow</Name><Status>OK</Status>"
                            "<PhysicalDrive Nr=\"0\"><Name>" +
                            std::string(127, 'a') +
                            "\xc3\xa9</Name></PhysicalDrive>"
                            "<PhysicalDrive Nr=\"1\"><Temperature>30</Temperature></PhysicalDrive>"}));
    expectGolden("monitor/golden/metrics-escaped.txt", metrics());

    // The agent's liveness and the tree's time are exported, and the
    // liveness even when the tree cannot be read; a missing file has no time.
    installFile(examplePath("health/ok.xml"));
    struct stat st;
    ASSERT_EQ(stat(RAIDC_DEVICE_TREE_PATH, &st), 0);
    cmdtest::PeerProcess agent(cmdtest::simulator());
    Output r = raidc("metrics");
    EXPECT_NE(r.out.find("\nraid_agent_up 1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nraid_device_tree_modified_timestamp_seconds " + std::to_string(st.st_mtime) + "\n"),
              std::string::npos);
    EXPECT_EQ(agent.stop(), 0);
    removeTree();
    expectGolden("monitor/golden/metrics-no-tree.txt", metrics(1));
}

using MetricsOutput = InTempDir;

// Only a regular file is replaced, by a temporary file beside it renamed
// over it: whatever else stands at the path (a FIFO as any other), even a
// link to a regular file, stays as it was, and a failed write leaves nothing
// behind.
TEST_F(MetricsOutput, OnlyARegularFileIsReplacedByRenameAndAFailedWriteLeavesNothing)
{
    installFile(examplePath("health/warning.xml"));
    const std::string target = dir + "/raid.prom", other = dir + "/other", expected = raidc("metrics").out;
    auto entries = [&] {
        std::string out;
        runCommand("ls -A " + dir, &out);
        return out;
    };
    ASSERT_EQ(runCommand("echo other > " + other), 0);
    for (bool fifo : {true, false}) {
        SCOPED_TRACE(fifo ? "fifo" : "symlink");
        ASSERT_EQ(fifo ? mkfifo(target.c_str(), 0644) : symlink(other.c_str(), target.c_str()), 0);
        Output r = raidc("metrics --output " + target);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        struct stat st;
        ASSERT_EQ(lstat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IFMT, fifo ? S_IFIFO : S_IFLNK);
        EXPECT_EQ(entries(), "other\nraid.prom\n");
        EXPECT_EQ(readFile(other), "other\n");
        remove(target.c_str());
    }
    EXPECT_EQ(raidc("metrics --output " + dir + "/missing/raid.prom").status, 1);
    EXPECT_EQ(raidc("metrics --output").status, 2);
    EXPECT_EQ(raidc("metrics --format json").status, 2);
    EXPECT_EQ(entries(), "other\n");
    EXPECT_EQ(raidc("metrics --output " + target).status, 0) << "a new file is made";
    EXPECT_EQ(readFile(target), expected);

    // The target is never opened for writing, so that a reader never sees a
    // part of it: it only appears by rename, which leaves a second name of
    // the old file as it was.
    ASSERT_EQ(runCommand("echo old > " + target + " && ln " + target + " " + dir + "/old"), 0);
    Output r = raidc("metrics --output " + target);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(readFile(dir + "/old"), "old\n");
    EXPECT_EQ(readFile(target), expected);
    EXPECT_EQ(entries(), "old\nother\nraid.prom\n");
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0644 & ~mask);
}

} // namespace
