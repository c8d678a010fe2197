// raidc watch end to end: the agent simulator rewrites the device tree and
// stops serving, and each change must come out exactly once, on standard
// output and through --exec. The liveness probe is checked against a
// listener of the test's own.
#include "liveness.h"
#include "monitor.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <optional>
#include <thread>
#include <utility>

using namespace monitor;

namespace {

size_t lines(const std::string &path)
{
    return static_cast<size_t>(std::ranges::count(readFile(path), '\n'));
}

class Watch : public InTempDir {
protected:
    void SetUp() override
    {
        InTempDir::SetUp();
        out_ = dir + "/out";
        unlink(RAIDC_CMD_SOCKET_PATH);
    }
    void TearDown() override
    {
        if (watch_ > 0) {
            EXPECT_EQ(stopChild(watch_), 0) << readFile(dir + "/err"); // a watch ends cleanly
        }
        InTempDir::TearDown();
    }

    // A program for --exec that logs its variables and its input, then runs `then`.
    std::string program(const std::string &then = "")
    {
        const std::string path = dir + "/on-event";
        std::ofstream(path)
            << "#!/bin/sh\necho \"$RAIDC_EVENT_EVENT $RAIDC_EVENT_CONTROLLER $RAIDC_EVENT_DEVICE_INDEX\" >> " << dir
            << "/exec.env\ncat >> " << dir << "/exec.json\n"
            << then;
        chmod(path.c_str(), 0755);
        return path;
    }

    // The event lines and what the program was given, paths and times masked.
    std::string transcript()
    {
        std::string events = readFile(out_);
        EXPECT_EQ(readFile(dir + "/exec.json"), events);
        return masked(events) + "The program's variables:\n" + readFile(dir + "/exec.env");
    }

    void startWatch(const std::string &extra = "")
    {
        watch_ = spawn({"/bin/sh", "-c",
                        "exec " + toolPath("raidc") + " watch --json --interval 0.2 " + extra + " >" + out_ + " 2>" +
                            dir + "/err"},
                       "/dev/null");
        // It has its baseline once it watches the tree's folder.
        const std::string notify = "ls -l /proc/" + std::to_string(watch_) + "/fd | grep -q inotify";
        EXPECT_TRUE(eventually([&] { return runCommand(notify + " 2>/dev/null") == 0; }));
    }

    // How many event lines came since the last call: once `expected` more
    // are there, or for none after more than three intervals.
    size_t next(size_t expected)
    {
        if (expected)
            eventually([&] { return lines(out_) >= seen_ + expected; });
        else
            std::this_thread::sleep_for(700ms);
        const size_t before = std::exchange(seen_, lines(out_));
        return seen_ - before;
    }

    std::string out_;
    pid_t watch_ = -1;
    size_t seen_ = 0;
};

TEST_F(Watch, EachChangeOfTheTreeOrTheAgentGivesOneEventOnceThroughEveryPath)
{
    // The first run hangs until it is killed, the later ones fail: neither
    // may stop the watch or lose an event.
    const std::string hung = dir + "/hung";
    const Pd d0 = {0, "Operational"}, failed = {1, "Failed"}, d2 = {2, "Operational"}, spare = {7, "Unconfigured Good"};
    const std::vector<Pd> three = {d0, {1, "Operational"}, d2};
    installAsAgent(smallTree(three));
    std::optional<cmdtest::PeerProcess> agent(std::in_place, cmdtest::simulator());
    startWatch("--exec " + program("[ -e " + hung + " ] && exit 1\n: > " + hung + "\nexec sleep 30\n") +
               " --exec-timeout 0.5");

    const struct {
        std::vector<Pd> pds;
        const char *ld;
        size_t events;
    } steps[] = {
        {three, "Operational", 0},                           // rewritten unchanged
        {{d0, failed, d2}, "Operational", 1},                // a drive fails
        {{d0, failed, d2}, "Degraded", 1},                   // the logical drive degrades
        {{d0, failed}, "Degraded", 1},                       // a drive is removed
        {{d0, failed, spare}, "Degraded", 1},                // a spare is added
        {{d0, {1, "Rebuilding", 3}, spare}, "Degraded", 1},  // a rebuild starts
        {{d0, {1, "Rebuilding", 9}, spare}, "Degraded", 0},  // within one 10% step
        {{d0, {1, "Rebuilding", 12}, spare}, "Degraded", 1}, // past 10%
        {{d0, {1, "Rebuilding", 31}, spare}, "Degraded", 1}, // past 20% and 30%: one event
        {{d0, {1, "Operational"}, spare}, "Degraded", 1},    // the rebuild ends
    };
    for (const auto &s : steps) {
        installAsAgent(smallTree(s.pds, s.ld));
        EXPECT_EQ(next(s.events), s.events) << "step " << &s - steps;
    }
    // A tree that goes away and comes back unchanged (whole, by rename):
    // one event each way.
    removeTree();
    EXPECT_EQ(next(1), 1u);
    std::ofstream(dir + "/back.xml") << smallTree(std::rbegin(steps)->pds, "Degraded");
    ASSERT_EQ(rename((dir + "/back.xml").c_str(), RAIDC_DEVICE_TREE_PATH), 0);
    EXPECT_EQ(next(1), 1u);
    EXPECT_EQ(next(0), 0u);
    // The agent stopping and starting again: one event each way.
    EXPECT_EQ(agent->stop(), 0);
    EXPECT_EQ(next(1), 1u);
    agent.emplace(cmdtest::simulator());
    EXPECT_EQ(next(1), 1u);
    EXPECT_EQ(next(0), 0u);
    // The program saw every event once, in order, as variables and as JSON.
    eventually([&] { return lines(dir + "/exec.json") >= seen_; });
    expectGolden("monitor/golden/watch-events.txt", transcript());
}

TEST_F(Watch, TestEventsGoThroughEveryPathOncePerController)
{
    installFile(examplePath("two-controllers.xml"));
    std::string raidc = toolPath("raidc");
    EXPECT_EQ(runCommand(raidc + " watch --test --json --exec " + program() + " >" + out_), 0);
    expectGolden("monitor/golden/watch-test.txt", transcript());
    EXPECT_EQ(runCommand(raidc + " watch --test --exec /bin/false 2>/dev/null >&2"), 1);
    for (const char *bad : {"--interval 0", "--interval x", "--exec-timeout -1", "--bogus 1"})
        EXPECT_EQ(runCommand(raidc + " watch " + bad + " 2>/dev/null"), 2) << bad;
}

// Sanitizer builds keep freed memory in quarantine, and the emulator's own
// memory shows in the figure: they leave memory to the leak checker, and
// flip fewer times as they run slower.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(RAIDC_TOOL_RUNNER)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

long vmRssKiB(pid_t pid)
{
    std::string kib;
    runCommand("awk '/^VmRSS:/ { print $2 }' /proc/" + std::to_string(pid) + "/status", &kib);
    return kib.empty() ? -1 : std::stol(kib);
}

// A tree that flips between two states as fast as the watch follows: every
// flip is one event, none lost, none twice, and the watch does not grow.
TEST_F(Watch, TreeFlippingQuicklyLosesNoEventAndDoesNotGrow)
{
    const int flips = kSanitized ? 100 : 200;
    const char *states[2] = {"Operational", "Offline"};
    installAsAgent(smallTree({{0, states[0]}}));
    startWatch();
    long before = -1;
    for (int i = 1; i <= flips; ++i) {
        installAsAgent(smallTree({{0, states[i % 2]}}));
        // Each write waits for the last one's event: two writes between
        // refreshes would be one change, or none.
        ASSERT_EQ(next(1), 1u) << "flip " << i;
        const std::string change = std::string("status ") + states[(i + 1) % 2] + " -> " + states[i % 2] + "\"}";
        ASSERT_TRUE(readFile(out_).ends_with(change + "\n")) << "flip " << i;
        if (i == 20) // by now the heap has its working size
            before = vmRssKiB(watch_);
    }
    EXPECT_EQ(next(0), 0u);
    const long after = vmRssKiB(watch_);
    if (!kSanitized) {
        EXPECT_LE(after - before, 64) << "VmRSS " << before << " kB after 20 flips, " << after << " kB at the end";
    }
}

// The probe connects and hangs up: the listener reads end of file, never a
// byte. A socket nobody listens on is down.
TEST(Liveness, ProbeTellsUpOrDownWithoutSendingAByte)
{
    using namespace raidchealth;
    makePathDirs();
    unlink(RAIDC_CMD_SOCKET_PATH);
    int l = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ASSERT_EQ(cmdtest::atAgentPath(bind, l), 0);
    ASSERT_EQ(listen(l, 4), 0);
    EXPECT_EQ(probeAgent(), AgentState::Up);
    // The probe is over: its connection waits to be accepted, at its end.
    int c = accept4(l, nullptr, nullptr, SOCK_NONBLOCK);
    ASSERT_GE(c, 0);
    char byte;
    EXPECT_EQ(read(c, &byte, 1), 0) << "a byte, or the probe did not hang up";
    close(c);
    close(l); // the socket file stays, nobody listens
    EXPECT_EQ(probeAgent(), AgentState::Down);
    unlink(RAIDC_CMD_SOCKET_PATH);
}

} // namespace
