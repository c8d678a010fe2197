// raidc watch end to end: the agent simulator rewrites the device tree and
// stops serving, and each change must come out exactly once, on standard
// output and through --exec. The liveness probe is checked against a
// listener of the test's own.
#include "liveness.h"
#include "monitor.h"

#include <gtest/gtest.h>

#include <json-c/json.h>

#include <iostream>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <utility>

using namespace monitor;

namespace {

// Fields of one JSON event line, "?" for a missing one.
std::vector<std::string> fields(const std::string &line, std::initializer_list<const char *> keys)
{
    json_object *o = json_tokener_parse(line.c_str());
    std::vector<std::string> v;
    for (const char *k : keys) {
        json_object *f = nullptr;
        v.push_back(o && json_object_object_get_ex(o, k, &f) ? json_object_get_string(f) : "?");
    }
    json_object_put(o);
    return v;
}

// "event device controller/index old -> new" of one JSON event line.
std::string summary(const std::string &line)
{
    auto f =
        fields(line, {"event", "device", "controller", "device_index", "old_value", "new_value", "format_version"});
    if (f[0] == "?")
        return "not JSON: " + line;
    return f[0] + " " + f[1] + " " + f[2] + "/" + f[3] + " " + f[4] + " -> " + f[5] +
           (f[6] == "1" ? "" : " (format " + f[6] + ")");
}

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

    // Through the simulator, as the agent writes it: under the file lock.
    void install(const std::string &xml)
    {
        std::string cmd = testutil::toolPath("raidc-agent-sim") + " install " + writeFile("tree.xml", xml);
        ASSERT_EQ(testutil::runCommand(cmd + " >/dev/null"), 0);
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

    void startWatch(const std::string &extra = "")
    {
        watch_ = spawn(testutil::toolPath("raidc") + " watch --json --interval 0.2 " + extra, out(), dir_ + "/err");
        std::this_thread::sleep_for(500ms); // its baseline
    }

    // Ends the watch, which must end cleanly.
    void stopWatch() { EXPECT_EQ(stop(std::exchange(watch_, -1)), 0) << testutil::readFile(dir_ + "/err"); }

    // The event lines that came after the first `seen`.
    std::vector<std::string> next(size_t &seen, size_t expected)
    {
        if (expected)
            eventually([&] { return lines(out()).size() >= seen + expected; });
        else
            std::this_thread::sleep_for(700ms); // more than three intervals
        std::vector<std::string> all = lines(out()), got;
        for (size_t i = seen; i < all.size(); ++i)
            got.push_back(summary(all[i]));
        seen = all.size();
        return got;
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
    std::string script =
        writeFile("on-event",
                  "#!/bin/sh\nread -r line\n"
                  "echo \"$RAIDC_EVENT_EVENT $RAIDC_EVENT_DEVICE_INDEX $line\" >> " +
                      dir_ + "/exec.log\n[ -e " + hung + " ] && exit 1\n: > " + hung + "\nexec sleep 30\n",
                  0755);
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
        std::vector<std::string> events;
    } steps[] = {
        {"unchanged rewrite", three, "Operational", {}},
        {"drive fails",
         with(failed, {{2, "Operational"}}),
         "Operational",
         {"status_changed physical_drive 0/1 Operational -> Failed"}},
        {"logical drive degrades",
         with(failed, {{2, "Operational"}}),
         "Degraded",
         {"status_changed logical_drive 0/0 Operational -> Degraded"}},
        {"drive removed", failed, "Degraded", {"device_removed physical_drive 0/2 yes -> no"}},
        {"drive added", with(failed, spare), "Degraded", {"device_added physical_drive 0/2 no -> yes"}},
        {"rebuild starts",
         with({{0, "Operational"}, {1, "Rebuilding", 3}}, spare),
         "Degraded",
         {"status_changed physical_drive 0/1 Failed -> Rebuilding"}},
        {"rebuild within a step", with({{0, "Operational"}, {1, "Rebuilding", 9}}, spare), "Degraded", {}},
        {"rebuild passes 10%",
         with({{0, "Operational"}, {1, "Rebuilding", 12}}, spare),
         "Degraded",
         {"rebuild_progress physical_drive 0/1 9 -> 12"}},
        {"rebuild passes 20% and 30%",
         with({{0, "Operational"}, {1, "Rebuilding", 31}}, spare),
         "Degraded",
         {"rebuild_progress physical_drive 0/1 12 -> 31"}},
        {"rebuild ends",
         with({{0, "Operational"}, {1, "Operational"}}, spare),
         "Degraded",
         {"rebuild_finished physical_drive 0/1 Rebuilding -> Operational"}},
    };
    size_t seen = 0;
    for (const auto &s : steps) {
        install(tree(s.pds, s.ld));
        EXPECT_EQ(next(seen, s.events.size()), s.events) << s.what;
    }
    // A tree that goes away and comes back unchanged: one event each way.
    testutil::removeTree();
    EXPECT_EQ(next(seen, 1), (std::vector<std::string>{"tree_unreadable tree -1/-1 0 -> 3"}));
    install(tree(std::rbegin(steps)->pds, "Degraded"));
    std::vector<std::string> back = next(seen, 1); // it may catch the file just created, still empty (2)
    ASSERT_EQ(back.size(), 1u);
    EXPECT_TRUE(back[0] == "tree_readable tree -1/-1 3 -> 0" || back[0] == "tree_readable tree -1/-1 2 -> 0")
        << back[0];
    EXPECT_EQ(next(seen, 0), std::vector<std::string>{});
    // The agent stopping and starting again: one event each way, and the
    // probes sent it no command.
    EXPECT_EQ(stop(children_.back()), 0);
    EXPECT_EQ(next(seen, 1), (std::vector<std::string>{"agent_down agent -1/-1 up -> down"}));
    children_.back() = serveAgent(dir_ + "/serve.out");
    EXPECT_EQ(next(seen, 1), (std::vector<std::string>{"agent_up agent -1/-1 down -> up"}));
    EXPECT_EQ(next(seen, 0), std::vector<std::string>{});
    EXPECT_EQ(testutil::readFile(dir_ + "/serve.out"), "ready\nready\n");

    // The program saw every event once, in order, as variables and as JSON.
    std::vector<std::string> printed = lines(out()), ran;
    eventually([&] { return (ran = lines(dir_ + "/exec.log")).size() >= printed.size(); });
    ASSERT_EQ(ran.size(), printed.size());
    for (size_t i = 0; i < ran.size(); ++i) {
        auto f = fields(printed[i], {"event", "device_index"});
        EXPECT_EQ(ran[i], f[0] + " " + f[1] + " " + printed[i]);
    }
    stopWatch();
}

TEST_F(Watch, TestEventsGoThroughEveryPathOncePerController)
{
    testutil::installFile(testutil::examplePath("two-controllers.xml"));
    std::string script = writeFile(
        "on-event", "#!/bin/sh\necho \"$RAIDC_EVENT_EVENT $RAIDC_EVENT_CONTROLLER $(cat)\" >> " + dir_ + "/exec.log\n",
        0755);
    std::string out, raidc = testutil::toolPath("raidc");
    EXPECT_EQ(testutil::runCommand(raidc + " watch --test --json --exec " + script, &out), 0);
    std::vector<std::string> ran = lines(dir_ + "/exec.log"), printed = lines(writeFile("printed", out));
    ASSERT_EQ(ran.size(), 2u);
    ASSERT_EQ(printed.size(), 2u);
    for (size_t c = 0; c < 2; ++c) {
        EXPECT_EQ(summary(printed[c]), "test controller " + std::to_string(c) + "/-1  -> ");
        EXPECT_EQ(ran[c], "test " + std::to_string(c) + " " + printed[c]);
    }
    EXPECT_EQ(testutil::runCommand(raidc + " watch --test --exec /bin/false 2>/dev/null >&2"), 1);
    for (const char *bad : {"--interval 0", "--interval x", "--exec-timeout -1", "extra", "--bogus 1"})
        EXPECT_EQ(testutil::runCommand(raidc + " watch " + bad + " 2>/dev/null"), 2) << bad;
}

// Sanitizer builds run slower and keep freed memory in quarantine, and the
// emulator's own memory shows in the figure: they flip for a shorter time
// and leave memory to the leak checker.
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

// A tree that flips between two states every 100 ms for a minute (or
// RAIDC_FLIP_SECONDS): every flip is one event, none lost, none twice, and
// the watch does not grow. Written here, under the agent's file lock, each
// time with a modification time of its own.
TEST_F(Watch, TreeFlippingEveryTenthOfASecondLosesNoEventAndDoesNotGrow)
{
    const char *env = getenv("RAIDC_FLIP_SECONDS");
    const int seconds = env ? atoi(env) : kSanitized ? 10 : 60, flips = seconds * 10;
    const std::string states[2] = {tree({{0, "Operational"}}), tree({{0, "Offline"}})};
    time_t stamp = time(nullptr) - 100000;
    auto write = [&](const std::string &xml) {
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
    write(states[0]);
    startWatch();
    long before = -1;
    for (int i = 1; i <= flips; ++i) {
        // A tenth of a second after the last write, even when this process
        // was held up: two writes in a row would be one change.
        std::this_thread::sleep_for(100ms);
        write(states[i % 2]);
        if (i == std::min(flips, 20)) // after the first two seconds the heap has its working size
            before = vmRssKiB(watch_);
    }
    size_t seen = 0;
    std::vector<std::string> got = next(seen, static_cast<size_t>(flips));
    long after = vmRssKiB(watch_);
    EXPECT_EQ(next(seen, 0), std::vector<std::string>{});
    ASSERT_EQ(got.size(), size_t(flips));
    for (size_t i = 0; i < got.size(); ++i) {
        const char *from = i % 2 ? "Offline" : "Operational", *to = i % 2 ? "Operational" : "Offline";
        ASSERT_EQ(got[i], std::string("status_changed physical_drive 0/0 ") + from + " -> " + to) << "flip " << i;
    }
    if (!kSanitized) {
        EXPECT_LE(after - before, 64) << "VmRSS " << before << " kB after two seconds, " << after << " kB at the end";
    }
    std::cerr << "watch VmRSS " << before << " kB -> " << after << " kB over " << flips << " flips\n";
    stopWatch();
}

// The probe connects and hangs up: the listener reads end of file, never a
// byte. A refused or missing socket is down; a probe that may not look says
// nothing about the agent.
TEST(Liveness, ProbeTellsUpDownOrUnknownWithoutSendingAByte)
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

    // Not allowed to connect: unknown, whoever asks.
    chmod(RAIDC_CMD_SOCKET_PATH, 0);
    pid_t pid = fork();
    if (pid == 0) {
        if (getuid() == 0 && setuid(65534) != 0)
            _exit(99);
        _exit(static_cast<int>(probeAgent()));
    }
    int st = 0;
    waitpid(pid, &st, 0);
    EXPECT_EQ(WEXITSTATUS(st), static_cast<int>(AgentState::Unknown));

    close(l); // the socket file stays, nobody listens
    EXPECT_EQ(probeAgent(), AgentState::Down);
    unlink(RAIDC_CMD_SOCKET_PATH);

    testutil::installTree(testutil::wrapSystem({}));
    struct stat s;
    ASSERT_EQ(stat(RAIDC_DEVICE_TREE_PATH, &s), 0);
    time_t before = time(nullptr);
    raidchealth::TreeAge age = raidchealth::treeAge();
    EXPECT_TRUE(age.exists);
    EXPECT_EQ(age.mtime, s.st_mtime);
    EXPECT_GE(age.ageSeconds, before - s.st_mtime);
    EXPECT_LE(age.ageSeconds, time(nullptr) - s.st_mtime);
    testutil::removeTree();
    EXPECT_FALSE(raidchealth::treeAge().exists);
    EXPECT_EQ(raidchealth::treeAge().ageSeconds, -1);
}

} // namespace
