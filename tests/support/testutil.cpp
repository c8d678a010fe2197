#include "testutil.h"
#include "treefile.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <regex>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testutil {

void installTree(const std::string &xml)
{
    const int err = treefile::install(xml.data(), xml.size());
    ASSERT_EQ(err, 0) << strerror(err);
}

void installFile(const std::string &path)
{
    installTree(readFile(path));
}

void loadTree(const std::string &xml)
{
    installTree(xml);
    ASSERT_EQ(RaidC_updateCache(), 0);
}

void removeTree()
{
    unlink(RAIDC_DEVICE_TREE_PATH);
}

std::string readFile(const std::string &path)
{
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

std::string examplePath(const char *name)
{
    return std::string(RAIDC_SOURCE_DIR) + "/examples/" + name;
}

std::vector<std::string> toolArgv(const char *name, std::initializer_list<std::string> args)
{
    std::vector<std::string> argv;
#ifdef RAIDC_TOOL_RUNNER
    // The runner is one word list, split where the shell would split it.
    std::istringstream runner(RAIDC_TOOL_RUNNER);
    for (std::string word; runner >> word;)
        argv.push_back(word);
#endif
    argv.push_back(std::string(RAIDC_TOOLS_DIR) + "/" + name);
    argv.insert(argv.end(), args);
    return argv;
}

std::string toolPath(const char *name)
{
    std::string cmd;
    for (const std::string &word : toolArgv(name))
        cmd += (cmd.empty() ? "" : " ") + word;
    return cmd;
}

std::string captureStdout(const std::function<void()> &fn)
{
    fflush(stdout);
    FILE *tmp = tmpfile();
    const int saved = dup(1);
    dup2(fileno(tmp), 1);
    fn();
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string out = readFile("/proc/self/fd/" + std::to_string(fileno(tmp)));
    fclose(tmp);
    return out;
}

int runCommand(const std::string &cmd, std::string *output)
{
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return -1;
    std::string out;
    char buf[65536];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    const int st = pclose(p);
    if (output)
        *output = out;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::string wrapSystem(std::initializer_list<std::string> adapters, const std::string &systemExtra)
{
    std::string xml = "<?xml version=\"1.0\"?>\n<RAIDStorageDeviceTree><System><Name>testhost</Name>" + systemExtra;
    int i = 0;
    for (const std::string &a : adapters)
        xml += "<Adapter Nr=\"" + std::to_string(i++) + "\">" + a + "</Adapter>";
    return xml + "</System></RAIDStorageDeviceTree>\n";
}

bool eventually(const std::function<bool()> &done, int ms)
{
    for (const double end = seconds() + ms / 1e3; !done(); usleep(20000))
        if (seconds() > end)
            return false;
    return true;
}

pid_t spawn(std::vector<std::string> args, const std::string &logPath)
{
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(fd, 1);
        dup2(fd, 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

int waitChild(pid_t pid, int ms)
{
    int st = 0;
    if (!eventually([&] { return waitpid(pid, &st, WNOHANG) == pid; }, ms))
        return -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

int stopChild(pid_t &pid)
{
    if (pid <= 0)
        return -1;
    kill(pid, SIGTERM);
    int st = waitChild(pid);
    if (st < 0 && kill(pid, SIGKILL) == 0)
        st = waitChild(pid);
    pid = -1;
    return st;
}

double seconds(clockid_t clock)
{
    struct timespec t;
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

bool readable(int fd, int ms)
{
    struct pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
}

void InTempDir::SetUp()
{
    char tmpl[] = "/tmp/raidc-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr) << strerror(errno);
    dir = tmpl;
}

void InTempDir::TearDown()
{
    if (!dir.empty())
        runCommand("rm -rf " + dir);
}

std::string masked(std::string s)
{
    for (const auto &[from, to] :
         {std::pair<std::string, std::string>{RAIDC_PATH_PREFIX, "<prefix>"}, {RAIDC_SOURCE_DIR, "<source>"}})
        for (size_t at; (at = s.find(from)) != std::string::npos;)
            s.replace(at, from.size(), to);
    static const std::pair<std::regex, const char *> clock[] = {
        {std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z"), "<time>"},
        {std::regex("[0-9]+ (s|days) ago"), "<age> ago"},
        {std::regex("\"(modified_timestamp|age_seconds|process_id|timestamp)\":[0-9]+"), "\"$1\":<n>"},
        {std::regex("(pid=|'tree_age'=|_timestamp_seconds )[0-9]+"), "$1<n>"}};
    for (const auto &[re, to] : clock)
        s = std::regex_replace(s, re, to);
    return s;
}

void expectGolden(const std::string &name, const std::string &text)
{
    const std::string path = std::string(RAIDC_SOURCE_DIR) + "/tests/" + name;
    if (const char *update = getenv("RAIDC_UPDATE_GOLDEN"); update && strcmp(update, "1") == 0)
        std::ofstream(path, std::ios::binary) << text;
    EXPECT_EQ(readFile(path), text) << "differs from " << path << " (RAIDC_UPDATE_GOLDEN=1 writes it anew)";
}

#ifdef RAIDC_FAULT_INJECTION
long forEachFaultPoint(const std::function<void()> &run, const std::function<void(long nth, bool faulted)> &check,
                       long limit)
{
    long faulted = 0;
    for (long nth = 1; nth <= limit; ++nth) {
        raidc_fault_arm(nth);
        run();
        const bool hit = raidc_fault_calls() >= nth;
        raidc_fault_arm(0);
        check(nth, hit);
        if (!hit)
            return faulted;
        faulted++;
    }
    ADD_FAILURE() << "still meeting fault points after " << limit << " runs";
    return faulted;
}
#endif

namespace {

// Whether no tree was ever taken into the cache in this process.
bool neverRefreshed()
{
    pthread_mutex_lock(&RaidC_ThreadMutex);
    const bool never = rootNode == nullptr && RaidC_getCacheStatus() == 0;
    pthread_mutex_unlock(&RaidC_ThreadMutex);
    return never;
}

// In the copy: the checks' failures go to standard error, where the calling
// test shows them, and decide the exit status. exit, not _exit, so that the
// leak check of a sanitized build still runs.
[[noreturn, maybe_unused]] void runChecksAndExit(const std::function<void()> &checks)
{
    if (!neverRefreshed()) {
        fprintf(stderr, "the cache was refreshed before the checks\n");
        exit(2);
    }
    ::testing::TestPartResultArray results;
    {
        ::testing::ScopedFakeTestPartResultReporter intercept(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &results);
        checks();
    }
    bool failed = false;
    for (int i = 0; i < results.size(); ++i)
        if (const ::testing::TestPartResult &r = results.GetTestPartResult(i); r.failed()) {
            fprintf(stderr, "%s:%d: %s\n", r.file_name() ? r.file_name() : "?", r.line_number(), r.message());
            failed = true;
        }
    fflush(stderr);
    exit(failed ? 1 : 0);
}

// Open descriptors, less the library's one client connection: the library
// keeps that open between calls by design, whichever test opened it.
int openDescriptorCount()
{
    int n = 0;
    bool clientSeen = false;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (const dirent *e = readdir(d)) {
            // A socket connected to the command socket path (its peer may have gone since).
            struct sockaddr_un a = {};
            socklen_t len = sizeof a;
            const int fd = atoi(e->d_name);
            if (e->d_name[0] != '.' && fd != dirfd(d) && !clientSeen &&
                getpeername(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0 && a.sun_family == AF_UNIX &&
                strcmp(a.sun_path, RAIDC_CMD_SOCKET_PATH) == 0)
                clientSeen = true;
            else
                n++;
        }
        closedir(d);
    }
    return n;
}

// Every socket and FIFO test must leave the process with the descriptors it
// found: a lost descriptor fails the test.
class DescriptorLeakCheck : public ::testing::EmptyTestEventListener {
    int before_ = 0;
    bool watched_ = false;

    void OnTestStart(const ::testing::TestInfo &t) override
    {
        const std::string suite = t.test_suite_name();
        watched_ = suite == "TrapPipe" || suite == "Link" || suite == "CmdSocket";
        before_ = openDescriptorCount();
    }
    void OnTestEnd(const ::testing::TestInfo &) override
    {
        if (watched_) {
            EXPECT_EQ(openDescriptorCount(), before_) << "the test left descriptors open";
        }
    }
};

[[maybe_unused]] const bool kLeakCheckInstalled = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new DescriptorLeakCheck);
    return true;
}();

} // namespace

void onNeverRefreshedCache(const std::function<void()> &checks, std::source_location at)
{
    ::testing::ScopedTrace trace(at.file_name(), static_cast<int>(at.line()), "checks on a never refreshed cache");
#ifdef RAIDC_TOOL_RUNNER
    if (!neverRefreshed())
        GTEST_SKIP() << "the emulator cannot start a fresh copy of the test program, and this process has "
                        "refreshed its cache already";
    checks();
#else
    // "threadsafe": the copy is a new program, not a fork of this one and
    // its cache.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(runChecksAndExit(checks), ::testing::ExitedWithCode(0), "");
#endif
}

} // namespace testutil
