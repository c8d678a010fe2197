// raidc watch end to end: the agent simulator rewrites the device tree and
// stops serving, and each change must come out exactly once, on standard
// output and through --exec. The liveness probe is checked against a
// listener of the test's own.
#include "liveness.h"
#include "monitor.h"

#include <gtest/gtest.h>

#include <iostream>
#include <poll.h>
#include <regex>
#include <sys/socket.h>
#include <sys/un.h>
#include <utility>

using namespace monitor;

namespace {

struct Pd {
    int id;
    std::string status;
    int rebuild = 0;
};

std::string tree(const std::vector<Pd> &pds, const std::string &ldStatus = "Operational")
{
    std::string a = "<AdapterNumber>0</AdapterNumber><CtrlId>0</CtrlId><Name>C0</Name><Status>OK</Status>"
                    "<LogicalDrive Nr=\"0\"><Name>LD0</Name><RAIDLevel>RAID-5</RAIDLevel><Status>" +
                    ldStatus + "</Status></LogicalDrive>";
    for (const Pd &p : pds)
        a += "<PhysicalDrive Nr=\"" + std::to_string(p.id) + "\"><Product>P</Product><Name>D" + std::to_string(p.id) +
             "</Name><Status>" + p.status + "</Status><PowerStatus>Active</PowerStatus><RebuildProgress>" +
             std::to_string(p.rebuild) + "</RebuildProgress><Temperature>30</Temperature></PhysicalDrive>";
    return testutil::wrapSystem({a});
}

class Watch : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/raidc-watch-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        testutil::makePathDirs();
        unlink(RAIDC_CMD_SOCKET_PATH);
    }
    void TearDown() override
    {
        for (pid_t p : children_)
            stop(p);
        if (watch_ > 0)
            stop(watch_);
        testutil::runCommand("rm -rf " + dir_);
    }

    std::string writeFile(const std::string &name, const std::string &text, mode_t mode = 0644)
    {
        std::string path = dir_ + "/" + name;
        FILE *f = fopen(path.c_str(), "w");
        fputs(text.c_str(), f);
        fclose(f);
        chmod(path.c_str(), mode);
        return path;
    }

    // Through the simulator, as the agent writes it: under the file lock.
    void install(const std::string &xml)
    {
        std::string cmd = testutil::toolPath("raidc-agent-sim") + " install " + writeFile("tree.xml", xml);
        ASSERT_EQ(testutil::runCommand(cmd + " >/dev/null"), 0);
    }

    // A program for --exec that logs its variables and its input, then runs `then`.
    std::string program(const std::string &then = "")
    {
        return writeFile(
            "on-event",
            "#!/bin/sh\necho \"$RAIDC_EVENT_EVENT $RAIDC_EVENT_CONTROLLER $RAIDC_EVENT_DEVICE_INDEX\" >> " + dir_ +
                "/exec.env\ncat >> " + dir_ + "/exec.json\n" + then,
            0755);
    }

    // The event lines and what the program was given, paths and times masked.
    std::string transcript()
    {
        std::string events = testutil::readFile(out());
        EXPECT_EQ(testutil::readFile(dir_ + "/exec.json"), events);
        return std::regex_replace(withoutPaths(events), std::regex(R"("time":"[^"]*","timestamp":\d+)"),
                                  R"("time":"TIME","timestamp":0)") +
               "The program's variables:\n" + testutil::readFile(dir_ + "/exec.env");
    }

    void startWatch(const std::string &extra = "")
    {
        watch_ = spawn(testutil::toolPath("raidc") + " watch --json --interval 0.2 " + extra, out(), dir_ + "/err");
        std::this_thread::sleep_for(500ms); // its baseline
    }

    // Ends the watch, which must end cleanly.
    void stopWatch() { EXPECT_EQ(stop(std::exchange(watch_, -1)), 0) << testutil::readFile(dir_ + "/err"); }

    // How many event lines came after the first `seen`: once `expected`
    // are there, or for none after more than three intervals.
    size_t next(size_t &seen, size_t expected)
    {
        if (expected)
            eventually([&] { return lines(out()).size() >= seen + expected; });
        else
            std::this_thread::sleep_for(700ms);
        const size_t before = std::exchange(seen, lines(out()).size());
        return seen - before;
    }

    std::string out() const { return dir_ + "/out"; }

    std::string dir_;
    pid_t watch_ = -1;
    std::vector<pid_t> children_;
};

TEST_F(Watch, EachChangeOfTheTreeOrTheAgentGivesOneEventOnceThroughEveryPath)
{
    // The first run hangs until it is killed, the later ones fail: neither
    // may stop the watch or lose an event.
    const std::string hung = dir_ + "/hung";
    std::string script = program("[ -e " + hung + " ] && exit 1\n: > " + hung + "\nexec sleep 30\n");
    const std::vector<Pd> three = {{0, "Operational"}, {1, "Operational"}, {2, "Operational"}};
    install(tree(three));
    children_.push_back(serveAgent(dir_ + "/serve.out"));
    startWatch("--exec " + script + " --exec-timeout 0.5");

    const std::vector<Pd> failed = {{0, "Operational"}, {1, "Failed"}}, spare = {{7, "Unconfigured Good"}};
    auto with = [](std::vector<Pd> a, const std::vector<Pd> &b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const struct {
        const char *what;
        std::vector<Pd> pds;
        const char *ld;
        size_t events;
    } steps[] = {
        {"unchanged rewrite", three, "Operational", 0},
        {"drive fails", with(failed, {{2, "Operational"}}), "Operational", 1},
        {"logical drive degrades", with(failed, {{2, "Operational"}}), "Degraded", 1},
        {"drive removed", failed, "Degraded", 1},
        {"drive added", with(failed, spare), "Degraded", 1},
        {"rebuild starts", with({{0, "Operational"}, {1, "Rebuilding", 3}}, spare), "Degraded", 1},
        {"rebuild within a step", with({{0, "Operational"}, {1, "Rebuilding", 9}}, spare), "Degraded", 0},
        {"rebuild passes 10%", with({{0, "Operational"}, {1, "Rebuilding", 12}}, spare), "Degraded", 1},
        {"rebuild passes 20% and 30%", with({{0, "Operational"}, {1, "Rebuilding", 31}}, spare), "Degraded", 1},
        {"rebuild ends", with({{0, "Operational"}, {1, "Operational"}}, spare), "Degraded", 1},
    };
    size_t seen = 0;
    for (const auto &s : steps) {
        install(tree(s.pds, s.ld));
        EXPECT_EQ(next(seen, s.events), s.events) << s.what;
    }
    // A tree that goes away and comes back unchanged (whole, by rename):
    // one event each way.
    testutil::removeTree();
    EXPECT_EQ(next(seen, 1), 1u);
    const std::string back = writeFile("back.xml", tree(std::rbegin(steps)->pds, "Degraded"));
    ASSERT_EQ(rename(back.c_str(), RAIDC_DEVICE_TREE_PATH), 0);
    EXPECT_EQ(next(seen, 1), 1u);
    EXPECT_EQ(next(seen, 0), 0u);
    // The agent stopping and starting again: one event each way, and the
    // probes sent it no command.
    EXPECT_EQ(stop(children_.back()), 0);
    EXPECT_EQ(next(seen, 1), 1u);
    children_.back() = serveAgent(dir_ + "/serve.out");
    EXPECT_EQ(next(seen, 1), 1u);
    EXPECT_EQ(next(seen, 0), 0u);
    EXPECT_EQ(testutil::readFile(dir_ + "/serve.out"), "ready\nready\n");
    // The program saw every event once, in order, as variables and as JSON.
    eventually([&] { return lines(dir_ + "/exec.json").size() >= seen; });
    expectGolden("watch-events.txt", transcript());
    stopWatch();
}

TEST_F(Watch, TestEventsGoThroughEveryPathOncePerController)
{
    testutil::installFile(testutil::examplePath("two-controllers.xml"));
    std::string raidc = testutil::toolPath("raidc");
    EXPECT_EQ(testutil::runCommand(raidc + " watch --test --json --exec " + program() + " >" + out()), 0);
    expectGolden("watch-test.txt", transcript());
    EXPECT_EQ(testutil::runCommand(raidc + " watch --test --exec /bin/false 2>/dev/null >&2"), 1);
    for (const char *bad : {"--interval 0", "--interval x", "--exec-timeout -1", "extra", "--bogus 1"})
        EXPECT_EQ(testutil::runCommand(raidc + " watch " + bad + " 2>/dev/null"), 2) << bad;
}

// Sanitizer builds keep freed memory in quarantine, and the emulator's own
// memory shows in the figure: they leave memory to the leak checker, and
// flip fewer times as they run slower.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(RAIDC_TOOL_RUNNER)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

long vmRssKiB(pid_t pid)
{
    for (const std::string &l : lines("/proc/" + std::to_string(pid) + "/status"))
        if (l.rfind("VmRSS:", 0) == 0)
            return std::stol(l.substr(6));
    return -1;
}

// A tree that flips between two states as fast as the watch follows: every
// flip is one event, none lost, none twice, and the watch does not grow.
// Written here, under the agent's file lock, each time with a modification
// time of its own.
TEST_F(Watch, TreeFlippingQuicklyLosesNoEventAndDoesNotGrow)
{
    const int flips = kSanitized ? 100 : 200;
    const char *states[2] = {"Operational", "Offline"};
    time_t stamp = time(nullptr) - 100000;
    auto write = [&](int i) {
        const std::string xml = tree({{0, states[i % 2]}});
        int fd = open(RAIDC_DEVICE_TREE_PATH, O_RDWR | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(lockf(fd, F_LOCK, 0), 0);
        ASSERT_EQ(ftruncate(fd, 0), 0);
        ASSERT_EQ(::write(fd, xml.data(), xml.size()), ssize_t(xml.size()));
        timespec t[2] = {{stamp, 0}, {stamp, 0}};
        stamp++;
        ASSERT_EQ(futimens(fd, t), 0);
        lockf(fd, F_ULOCK, 0);
        close(fd);
    };
    write(0);
    startWatch();
    long before = -1;
    size_t seen = 0;
    for (int i = 1; i <= flips; ++i) {
        write(i);
        // Each write waits for the last one's event: two writes between
        // refreshes would be one change, or none.
        ASSERT_EQ(next(seen, 1), 1u) << "flip " << i;
        if (i == 20) // by now the heap has its working size
            before = vmRssKiB(watch_);
    }
    EXPECT_EQ(next(seen, 0), 0u);
    const long after = vmRssKiB(watch_);
    std::vector<std::string> got = lines(out());
    for (size_t i = 0; i < got.size(); ++i) {
        const std::string change =
            std::string("\"old_value\":\"") + states[i % 2] + "\",\"new_value\":\"" + states[(i + 1) % 2] + "\"";
        ASSERT_TRUE(has(got[i], "\"event\":\"status_changed\"") && has(got[i], change)) << "flip " << i << got[i];
    }
    if (!kSanitized) {
        EXPECT_LE(after - before, 64) << "VmRSS " << before << " kB after 20 flips, " << after << " kB at the end";
    }
    std::cerr << "watch VmRSS " << before << " kB -> " << after << " kB over " << flips << " flips\n";
    stopWatch();
}

// The probe connects and hangs up: the listener reads end of file, never a
// byte. A refused or missing socket is down. (A probe that may not look is
// Check.AgentThatCannotBeProbedIsNotCountedAsDown.)
TEST(Liveness, ProbeTellsUpOrDownWithoutSendingAByte)
{
    using raidchealth::AgentState;
    using raidchealth::probeAgent;
    testutil::makePathDirs();
    unlink(RAIDC_CMD_SOCKET_PATH);
    EXPECT_EQ(probeAgent(), AgentState::Down);

    int l = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a = {};
    a.sun_family = AF_UNIX;
    strcpy(a.sun_path, RAIDC_CMD_SOCKET_PATH);
    ASSERT_EQ(bind(l, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(listen(l, 4), 0);
    EXPECT_EQ(probeAgent(), AgentState::Up);
    pollfd p = {l, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    int c = accept(l, nullptr, nullptr);
    char byte;
    p = {c, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    EXPECT_EQ(read(c, &byte, 1), 0);
    close(c);
    close(l); // the socket file stays, nobody listens
    EXPECT_EQ(probeAgent(), AgentState::Down);
    unlink(RAIDC_CMD_SOCKET_PATH);

    // The tree's age, which the tools report, is -1 without a file.
    testutil::removeTree();
    EXPECT_FALSE(raidchealth::treeAge().exists);
    EXPECT_EQ(raidchealth::treeAge().ageSeconds, -1);
}

} // namespace
