// raidc watch end to end: the agent simulator rewrites the device tree (or
// stops serving), and each change must come out exactly once, on standard
// output and through --exec. The liveness probe is checked against a
// listener of the test's own.
#include "liveness.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <json-c/json.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <iostream>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

bool eventually(const std::function<bool()> &done, std::chrono::milliseconds limit = 5000ms)
{
    for (auto end = std::chrono::steady_clock::now() + limit; !done();) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

pid_t spawn(const std::string &cmd, const std::string &out, const std::string &err = "/dev/null")
{
    pid_t pid = fork();
    if (pid == 0) {
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644), e = open(err.c_str(), O_WRONLY | O_CREAT, 0644);
        dup2(o, 1);
        dup2(e, 2);
        execl("/bin/sh", "sh", "-c", ("exec " + cmd).c_str(), nullptr);
        _exit(127);
    }
    return pid;
}

int stop(pid_t pid)
{
    kill(pid, SIGTERM);
    int st = -1;
    if (!eventually([&] { return waitpid(pid, &st, WNOHANG) == pid; })) {
        kill(pid, SIGKILL);
        waitpid(pid, &st, 0);
    }
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

std::vector<std::string> lines(const std::string &path)
{
    std::vector<std::string> v;
    std::istringstream in(testutil::readFile(path));
    for (std::string l; std::getline(in, l);)
        v.push_back(l);
    return v;
}

// "event device index old new" of one JSON event line.
std::string summary(const std::string &line)
{
    json_object *o = json_tokener_parse(line.c_str());
    if (!o)
        return "not JSON: " + line;
    auto get = [&](const char *k) {
        json_object *v = nullptr;
        return json_object_object_get_ex(o, k, &v) ? std::string(json_object_get_string(v)) : "?";
    };
    std::string s = get("event") + " " + get("device") + " " + get("controller") + "/" + get("device_index") + " " +
                    get("old_value") + " -> " + get("new_value");
    if (get("format_version") != "1")
        s += " (format " + get("format_version") + ")";
    json_object_put(o);
    return s;
}

struct Pd {
    int id;
    std::string status;
    int rebuild = 0;
};

std::string tree(const std::vector<Pd> &pds, const std::string &ldStatus)
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
        dir_ = mkdtemp(tmpl);
        testutil::makePathDirs();
        unlink(RAIDC_CMD_SOCKET_PATH);
    }
    void TearDown() override
    {
        for (pid_t p : children_)
            stop(p);
        if (!dir_.empty())
            testutil::runCommand("rm -rf " + dir_);
    }

    // Through the simulator, as the agent writes it: under the file lock.
    void install(const std::string &xml)
    {
        std::string f = dir_ + "/tree.xml";
        FILE *o = fopen(f.c_str(), "w");
        fputs(xml.c_str(), o);
        fclose(o);
        ASSERT_EQ(testutil::runCommand(testutil::toolPath("raidc-agent-sim") + " install " + f + " >/dev/null"), 0);
    }

    pid_t start(const std::string &cmd, const std::string &out, const std::string &err = "/dev/null")
    {
        children_.push_back(spawn(cmd, out, err));
        return children_.back();
    }

    void startWatch(const std::string &extra = "")
    {
        watch_ = start(testutil::toolPath("raidc") + " watch --json --interval 0.2 " + extra, out(), dir_ + "/err");
        std::this_thread::sleep_for(500ms); // its baseline
    }

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

TEST_F(Watch, EachChangeOfTheTreeGivesOneEventOnceThroughEveryPath)
{
    // The first run hangs until it is killed, the later ones fail: neither
    // may stop the watch or lose an event.
    std::string script = dir_ + "/on-event";
    FILE *f = fopen(script.c_str(), "w");
    fprintf(f, "#!/bin/sh\nread -r line\necho \"$RAIDC_EVENT_EVENT $RAIDC_EVENT_DEVICE_INDEX $line\" >> %s/exec.log\n"
               "[ -e %s/hung ] && exit 1\n: > %s/hung\nexec sleep 30\n",
            dir_.c_str(), dir_.c_str(), dir_.c_str());
    fclose(f);
    chmod(script.c_str(), 0755);

    const std::vector<Pd> three = {{0, "Operational"}, {1, "Operational"}, {2, "Operational"}};
    install(tree(three, "Operational"));
    startWatch("--exec " + script + " --exec-timeout 0.5");

    struct Step {
        const char *what;
        std::vector<Pd> pds;
        const char *ld;
        std::vector<std::string> events;
    } steps[] = {
        {"unchanged rewrite", three, "Operational", {}},
        {"drive fails", {{0, "Operational"}, {1, "Failed"}, {2, "Operational"}}, "Operational",
         {"status_changed physical_drive 0/1 Operational -> Failed"}},
        {"logical drive degrades", {{0, "Operational"}, {1, "Failed"}, {2, "Operational"}}, "Degraded",
         {"status_changed logical_drive 0/0 Operational -> Degraded"}},
        {"drive removed", {{0, "Operational"}, {1, "Failed"}}, "Degraded",
         {"device_removed physical_drive 0/2 yes -> no"}},
        {"drive added", {{0, "Operational"}, {1, "Failed"}, {7, "Unconfigured Good"}}, "Degraded",
         {"device_added physical_drive 0/2 no -> yes"}},
        {"rebuild starts", {{0, "Operational"}, {1, "Rebuilding", 3}, {7, "Unconfigured Good"}}, "Degraded",
         {"status_changed physical_drive 0/1 Failed -> Rebuilding"}},
        {"rebuild within a step", {{0, "Operational"}, {1, "Rebuilding", 9}, {7, "Unconfigured Good"}}, "Degraded", {}},
        {"rebuild passes 10%", {{0, "Operational"}, {1, "Rebuilding", 12}, {7, "Unconfigured Good"}}, "Degraded",
         {"rebuild_progress physical_drive 0/1 9 -> 12"}},
        {"rebuild passes 20% and 30%", {{0, "Operational"}, {1, "Rebuilding", 31}, {7, "Unconfigured Good"}},
         "Degraded", {"rebuild_progress physical_drive 0/1 12 -> 31"}},
        {"rebuild ends", {{0, "Operational"}, {1, "Operational"}, {7, "Unconfigured Good"}}, "Degraded",
         {"rebuild_finished physical_drive 0/1 Rebuilding -> Operational"}},
    };
    size_t seen = 0;
    for (const Step &s : steps) {
        install(tree(s.pds, s.ld));
        EXPECT_EQ(next(seen, s.events.size()), s.events) << s.what;
    }
    // A tree that goes away and comes back unchanged: one event each way.
    testutil::removeTree();
    EXPECT_EQ(next(seen, 1), (std::vector<std::string>{"tree_unreadable tree -1/-1 0 -> 3"}));
    install(tree(steps[std::size(steps) - 1].pds, "Degraded"));
    std::vector<std::string> back = next(seen, 1); // it may catch the file just created, still empty (2)
    ASSERT_EQ(back.size(), 1u);
    EXPECT_TRUE(back[0] == "tree_readable tree -1/-1 3 -> 0" || back[0] == "tree_readable tree -1/-1 2 -> 0") << back[0];
    EXPECT_EQ(next(seen, 0), std::vector<std::string>{});

    // The program saw every event once, in order, as variables and as JSON.
    std::vector<std::string> printed = lines(out()), ran;
    eventually([&] { return (ran = lines(dir_ + "/exec.log")).size() >= printed.size(); });
    ASSERT_EQ(ran.size(), printed.size());
    for (size_t i = 0; i < ran.size(); ++i) {
        json_object *o = json_tokener_parse(printed[i].c_str());
        json_object *ev = nullptr, *idx = nullptr;
        json_object_object_get_ex(o, "event", &ev);
        json_object_object_get_ex(o, "device_index", &idx);
        EXPECT_EQ(ran[i], std::string(json_object_get_string(ev)) + " " + json_object_get_string(idx) + " " +
                              printed[i]);
        json_object_put(o);
    }
    EXPECT_EQ(stop(watch_), 0) << testutil::readFile(dir_ + "/err");
    children_.clear();
}

TEST_F(Watch, AgentStoppingAndStartingGivesOneEventEach)
{
    install(tree({{0, "Operational"}}, "Operational"));
    auto serve = [&] {
        pid_t p = start(testutil::toolPath("raidc-agent-sim") + " serve", dir_ + "/serve.out");
        EXPECT_TRUE(eventually([] { return access(RAIDC_CMD_SOCKET_PATH, F_OK) == 0; }));
        return p;
    };
    pid_t agent = serve();
    startWatch();
    size_t seen = 0;
    EXPECT_EQ(next(seen, 0), std::vector<std::string>{});
    EXPECT_EQ(stop(agent), 0);
    EXPECT_EQ(next(seen, 1), (std::vector<std::string>{"agent_down agent -1/-1 up -> down"}));
    serve();
    EXPECT_EQ(next(seen, 1), (std::vector<std::string>{"agent_up agent -1/-1 down -> up"}));
    EXPECT_EQ(next(seen, 0), std::vector<std::string>{});
    EXPECT_EQ(testutil::readFile(dir_ + "/serve.out"), "ready\nready\n") << "the probes sent no command";
}

TEST_F(Watch, TestEventsGoThroughEveryPathOncePerController)
{
    testutil::installFile(testutil::examplePath("two-controllers.xml"));
    std::string log = dir_ + "/exec.log", script = dir_ + "/on-event";
    FILE *f = fopen(script.c_str(), "w");
    fprintf(f, "#!/bin/sh\necho \"$RAIDC_EVENT_EVENT $RAIDC_EVENT_CONTROLLER $(cat)\" >> %s\n", log.c_str());
    fclose(f);
    chmod(script.c_str(), 0755);
    std::string out;
    EXPECT_EQ(testutil::runCommand(testutil::toolPath("raidc") + " watch --test --json --exec " + script, &out), 0);
    std::vector<std::string> ran = lines(log);
    ASSERT_EQ(ran.size(), 2u);
    std::istringstream printed(out);
    for (int c = 0; c < 2; ++c) {
        std::string line;
        std::getline(printed, line);
        EXPECT_EQ(summary(line), "test controller " + std::to_string(c) + "/-1  -> ");
        EXPECT_EQ(ran[static_cast<size_t>(c)], "test " + std::to_string(c) + " " + line);
    }
    EXPECT_EQ(testutil::runCommand(testutil::toolPath("raidc") + " watch --test --exec /bin/false 2>/dev/null >&2"), 1);
    for (const char *bad : {"--interval 0", "--interval x", "--exec-timeout -1", "extra", "--bogus 1"})
        EXPECT_EQ(testutil::runCommand(testutil::toolPath("raidc") + " watch " + bad + " 2>/dev/null"), 2) << bad;
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
    std::istringstream in(testutil::readFile("/proc/" + std::to_string(pid) + "/status"));
    for (std::string l; std::getline(in, l);)
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
    const std::string states[2] = {tree({{0, "Operational"}}, "Operational"), tree({{0, "Offline"}}, "Operational")};
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
    for (int i = 0; i < flips; ++i) {
        const char *from = i % 2 ? "Offline" : "Operational", *to = i % 2 ? "Operational" : "Offline";
        ASSERT_EQ(got[static_cast<size_t>(i)], std::string("status_changed physical_drive 0/0 ") + from + " -> " + to) << "flip " << i;
    }
    if (!kSanitized) {
        EXPECT_LE(after - before, 64) << "VmRSS " << before << " kB after two seconds, " << after << " kB at the end";
    }
    std::cerr << "watch VmRSS " << before << " kB -> " << after << " kB over " << flips << " flips\n";
    EXPECT_EQ(stop(watch_), 0) << testutil::readFile(dir_ + "/err");
    children_.clear();
}

// The probe connects and hangs up: the listener reads end of file, never a
// byte. A refused or missing socket is down; a probe that may not look says
// nothing about the agent.
TEST(Liveness, ProbeTellsUpDownOrUnknownWithoutSendingAByte)
{
    using raidchealth::AgentState;
    testutil::makePathDirs();
    unlink(RAIDC_CMD_SOCKET_PATH);
    EXPECT_EQ(raidchealth::probeAgent(), AgentState::Down);

    int l = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a = {};
    a.sun_family = AF_UNIX;
    strcpy(a.sun_path, RAIDC_CMD_SOCKET_PATH);
    ASSERT_EQ(bind(l, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(listen(l, 4), 0);
    EXPECT_EQ(raidchealth::probeAgent(), AgentState::Up);
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
        _exit(static_cast<int>(raidchealth::probeAgent()));
    }
    int st = 0;
    waitpid(pid, &st, 0);
    EXPECT_EQ(WEXITSTATUS(st), static_cast<int>(AgentState::Unknown));

    close(l); // the socket file stays, nobody listens
    EXPECT_EQ(raidchealth::probeAgent(), AgentState::Down);
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
