// `raidc metrics`: valid exposition text (checked by promtool), values as
// the device tree gives them, label escaping, and the atomic --output.
#include "monitor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <poll.h>
#include <regex>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace monitor;
using testutil::readFile;
using testutil::wrapSystem;

namespace {

// promtool's verdict on an exposition text; its findings go to standard error.
void expectPromtoolAccepts(const std::string &text)
{
    FILE *p = popen("promtool check metrics >&2", "w");
    ASSERT_NE(p, nullptr);
    fwrite(text.data(), 1, text.size(), p);
    EXPECT_EQ(pclose(p), 0) << "promtool (Debian prometheus) is missing or rejects:\n" << text;
}

// `raidc metrics` on the tree there is, which promtool must accept; the
// tree's time masked.
std::string metrics(int status = 0)
{
    Output r = raidc("metrics");
    EXPECT_EQ(r.status, status);
    expectPromtoolAccepts(r.out);
    return std::regex_replace(r.out, std::regex("\nraid_device_tree_modified_timestamp_seconds \\d+\n"),
                              "\nraid_device_tree_modified_timestamp_seconds TIME\n");
}

// Statuses as MIB integers, sizes from MiB, texts in labels, every line of
// every example tree; with no agent.
TEST(Metrics, EveryExampleTreeGivesValidTextWithItsValues)
{
    unlink(RAIDC_CMD_SOCKET_PATH);
    for (std::string tree :
         {"health/ok.xml", "health/warning.xml", "health/critical.xml", "one-controller.xml", "two-controllers.xml"}) {
        SCOPED_TRACE(tree);
        testutil::installFile(testutil::examplePath(tree.c_str()));
        std::replace(tree.begin(), tree.end(), '/', '-');
        expectGolden("metrics-" + tree.substr(0, tree.size() - 4) + ".txt", metrics());
    }
    // A quote, a backslash, a line break, and a name cut by its 128-byte
    // field in the middle of a two-byte character.
    testutil::installTree(wrapSystem({"<Name>say \"hi\" \\ \nnow</Name><Status>OK</Status>"
                                      "<PhysicalDrive Nr=\"0\"><Name>" +
                                      std::string(127, 'a') + "\xc3\xa9</Name></PhysicalDrive>"}));
    expectGolden("metrics-escaped.txt", metrics());
}

// The agent's liveness and the tree's time are exported, and the liveness
// even when the tree cannot be read; a missing file has no time.
TEST(Metrics, AgentLivenessAndTreeTimeAreExportedEvenWithoutATree)
{
    testutil::installFile(testutil::examplePath("health/ok.xml"));
    struct stat st;
    ASSERT_EQ(stat(RAIDC_DEVICE_TREE_PATH, &st), 0);
    pid_t agent = serveAgent();
    Output r = raidc("metrics");
    EXPECT_TRUE(has(r.out, "\nraid_agent_up 1\n")) << r.out;
    EXPECT_TRUE(has(r.out, "\nraid_device_tree_modified_timestamp_seconds " + std::to_string(st.st_mtime) + "\n"));
    EXPECT_EQ(stop(agent), 0);
    testutil::removeTree();
    expectGolden("metrics-no-tree.txt", metrics(1));
}

class MetricsOutput : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/raidc-prom-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        target = dir + "/raid.prom";
    }
    void TearDown() override { testutil::runCommand("rm -rf " + dir); }

    std::string entries() const
    {
        std::string out;
        testutil::runCommand("ls -A " + dir, &out);
        return out;
    }

    std::string dir, target;
};

TEST_F(MetricsOutput, AReaderNeverSeesAPartialFile)
{
    std::string drives;
    for (int i = 0; i < 400; ++i)
        drives += "<PhysicalDrive Nr=\"" + std::to_string(i) + "\"><Status>Operational</Status><Name>drive " +
                  std::to_string(i) + "</Name><Temperature>30</Temperature></PhysicalDrive>";
    testutil::installTree(wrapSystem({"<Status>OK</Status>" + drives}));
    std::string expected = raidc("metrics").out;
    ASSERT_GT(expected.size(), 100000u);
    ASSERT_EQ(testutil::runCommand("echo old > " + target), 0);
    // Ten writes run in the background while this process keeps reading.
    std::string loop = "for i in 0 1 2 3 4 5 6 7 8 9; do " + testutil::toolPath("raidc") + " metrics --output " +
                       target + " || echo failed; done; echo done";
    FILE *writer = popen(loop.c_str(), "r");
    ASSERT_NE(writer, nullptr);
    int reads = 0, bad = 0;
    for (pollfd p{fileno(writer), POLLIN, 0}; poll(&p, 1, 0) == 0; reads++) {
        std::string seen = readFile(target);
        bad += seen != "old\n" && seen != expected;
    }
    char said[64] = {};
    EXPECT_EQ(fread(said, 1, sizeof said - 1, writer), 5u);
    EXPECT_STREQ(said, "done\n");
    pclose(writer);
    EXPECT_GT(reads, 0);
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(entries(), "raid.prom\n");
}

// Only a regular file is replaced, by a temporary file beside it renamed
// over it: whatever else stands at the path, even a link to a regular file
// or a folder, stays as it was, and a failed write leaves nothing behind.
TEST_F(MetricsOutput, OnlyARegularFileIsReplacedByRenameAndAFailedWriteLeavesNothing)
{
    testutil::installFile(testutil::examplePath("health/warning.xml"));
    const std::string other = dir + "/other", expected = raidc("metrics").out;
    ASSERT_EQ(testutil::runCommand("echo other > " + other), 0);
    const struct {
        const char *name;
        std::function<int()> make;
        mode_t type;
    } kinds[] = {
        {"fifo", [&] { return mkfifo(target.c_str(), 0644); }, S_IFIFO},
        {"symlink", [&] { return symlink(other.c_str(), target.c_str()); }, S_IFLNK},
        {"device", [&] { return mknod(target.c_str(), S_IFCHR | 0644, makedev(1, 3)); }, S_IFCHR},
        {"folder", [&] { return mkdir(target.c_str(), 0755); }, S_IFDIR}, // rename cannot replace it
    };
    for (const auto &k : kinds) {
        SCOPED_TRACE(k.name);
        if (k.make() != 0) {
            EXPECT_EQ(errno, EPERM); // device nodes need privileges
            continue;
        }
        Output r = raidc("metrics --output " + target);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        struct stat st;
        ASSERT_EQ(lstat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IFMT, k.type);
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

    ASSERT_EQ(testutil::runCommand("echo old > " + target), 0);
    int in = inotify_init1(IN_NONBLOCK);
    ASSERT_GE(inotify_add_watch(in, dir.c_str(), IN_CREATE | IN_MODIFY | IN_MOVED_FROM | IN_MOVED_TO), 0);
    Output r = raidc("metrics --output " + target);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    std::string events;
    alignas(inotify_event) char buf[8192];
    for (ssize_t n; (n = read(in, buf, sizeof buf)) > 0;)
        for (char *p = buf; p < buf + n; p += sizeof(inotify_event) + reinterpret_cast<inotify_event *>(p)->len) {
            auto *e = reinterpret_cast<inotify_event *>(p);
            const char *what = e->mask & IN_CREATE       ? "create "
                               : e->mask & IN_MODIFY     ? "modify "
                               : e->mask & IN_MOVED_FROM ? "from "
                                                         : "to ";
            events += what + std::string(strcmp(e->name, "raid.prom") ? "tmp;" : "TARGET;");
        }
    close(in);
    // The target is never opened for writing: it only appears by rename.
    EXPECT_EQ(events, "create tmp;modify tmp;from tmp;to TARGET;");
    EXPECT_EQ(readFile(target), expected);
    EXPECT_EQ(entries(), "other\nraid.prom\n");
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0644 & ~mask);
}

} // namespace
