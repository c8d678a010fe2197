// watch: one line per change of the device tree or of the agent's liveness,
// optionally handed to a program per event.
#include "changes.h"
#include "cli.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace cli;
using namespace raidchealth;

namespace {

constexpr long long kMinGapMs = 50;

struct Options {
    long intervalMs = 2000;
    long execTimeoutMs = 10000;
    const char *program = nullptr;
    bool json = false;
};

long long nowMs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

bool toMs(const char *text, long *out)
{
    char *end = nullptr;
    errno = 0;
    double s = strtod(text, &end);
    if (errno || end == text || *end || !std::isfinite(s) || s < 0.05 || s > 86400)
        return false;
    *out = static_cast<long>(s * 1000);
    return true;
}

// SIGINT and SIGTERM end the watch, SIGCHLD ends waiting for a program: all
// three arrive through one descriptor, so every wait is one poll.
class Signals {
public:
    Signals()
    {
        sigemptyset(&set_);
        for (int s : {SIGINT, SIGTERM, SIGCHLD})
            sigaddset(&set_, s);
        sigprocmask(SIG_BLOCK, &set_, &old_);
        fd_ = signalfd(-1, &set_, SFD_CLOEXEC | SFD_NONBLOCK);
        signal(SIGPIPE, SIG_IGN); // a program that closed its input is not our end
    }
    ~Signals()
    {
        if (fd_ >= 0)
            close(fd_);
        sigprocmask(SIG_SETMASK, &old_, nullptr);
    }
    int fd() const { return fd_; }
    bool stopped() const { return stop_; }
    // Reads what arrived; true when it was a stop.
    bool drain()
    {
        signalfd_siginfo si;
        while (read(fd_, &si, sizeof si) == static_cast<ssize_t>(sizeof si))
            if (si.ssi_signo == SIGINT || si.ssi_signo == SIGTERM)
                stop_ = true;
        return stop_;
    }
    const sigset_t &original() const { return old_; }

private:
    sigset_t set_, old_;
    int fd_ = -1;
    bool stop_ = false;
};

// Watches the device tree's folder so that a rewrite is seen at once rather
// than at the next interval. Without the folder it falls back to the
// interval and tries again later.
class TreeNotify {
public:
    TreeNotify()
    {
        std::string path = RAIDC_DEVICE_TREE_PATH;
        size_t slash = path.rfind('/');
        dir_ = slash == 0 ? "/" : path.substr(0, slash);
        name_ = path.substr(slash + 1);
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        arm();
    }
    ~TreeNotify()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    int fd() const { return fd_; }
    // Not IN_CLOSE_WRITE: the refresh itself opens the file for writing
    // (for its lock), which would wake us again and again.
    void arm()
    {
        if (fd_ >= 0 && wd_ < 0)
            wd_ = inotify_add_watch(fd_, dir_.c_str(),
                                    IN_MODIFY | IN_ATTRIB | IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM |
                                        IN_DELETE_SELF | IN_MOVE_SELF);
    }
    // True when something happened to the tree file.
    bool drain()
    {
        alignas(inotify_event) char buf[4096];
        bool hit = false;
        ssize_t n;
        while ((n = read(fd_, buf, sizeof buf)) > 0) {
            for (char *p = buf; p < buf + n;) {
                auto *ev = reinterpret_cast<inotify_event *>(p);
                if (ev->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
                    wd_ = -1; // the folder went away: watch it again when it is back
                    hit = true;
                } else if (ev->len && name_ == ev->name) {
                    hit = true;
                }
                p += sizeof *ev + ev->len;
            }
        }
        return hit;
    }

private:
    std::string dir_, name_;
    int fd_ = -1, wd_ = -1;
};

// Runs the program once for the event, never through a shell: the event as
// RAIDC_EVENT_* variables and as one JSON line on its standard input, its
// standard output sent to our standard error so that ours stays the event
// stream. It gets a bounded time, then it and its process group are killed.
// False when it failed, hung or could not be started.
bool runProgram(const Options &o, const Event &e, Signals &sig)
{
    std::vector<std::string> env;
    for (char **p = environ; *p; ++p)
        if (strncmp(*p, "RAIDC_EVENT_", 12) != 0)
            env.emplace_back(*p);
    for (const Field &f : fields(e)) {
        std::string key = f.key;
        for (char &ch : key)
            ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
        env.push_back("RAIDC_EVENT_" + key + "=" + f.value);
    }
    std::vector<char *> envp;
    for (std::string &s : env)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    char *argv[] = {const_cast<char *>(o.program), nullptr};
    std::string input = toJson(e) + "\n";

    int in[2];
    if (pipe2(in, O_CLOEXEC) != 0)
        return false;
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        signal(SIGPIPE, SIG_DFL);
        sigprocmask(SIG_SETMASK, &sig.original(), nullptr);
        dup2(in[0], 0);
        dup2(2, 1);
        execvpe(o.program, argv, envp.data());
        fprintf(stderr, "raidc: cannot run %s: %s\n", o.program, strerror(errno));
        _exit(127);
    }
    close(in[0]);
    if (pid < 0) {
        close(in[1]);
        return false;
    }
    setpgid(pid, pid); // also here, so that the kill below cannot miss the group
    long long deadline = nowMs() + o.execTimeoutMs;
    fcntl(in[1], F_SETFL, O_NONBLOCK);
    size_t sent = 0;
    int status = 0;
    bool done = false;
    while (!done) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            done = true;
            break;
        }
        long long left = deadline - nowMs();
        if (left <= 0 || sig.stopped() || r < 0)
            break;
        pollfd fds[2] = {{sig.fd(), POLLIN, 0}, {in[1], POLLOUT, 0}};
        nfds_t nfds = in[1] >= 0 ? 2 : 1;
        if (::poll(fds, nfds, static_cast<int>(left)) < 0 && errno != EINTR)
            break;
        if (fds[0].revents)
            sig.drain();
        if (nfds == 2 && fds[1].revents) {
            ssize_t w = write(in[1], input.data() + sent, input.size() - sent);
            if (w > 0)
                sent += static_cast<size_t>(w);
            if (w < 0 && errno != EAGAIN && errno != EINTR)
                sent = input.size(); // it closed its input: nothing more to give
            if (sent == input.size()) {
                close(in[1]);
                in[1] = -1;
            }
        }
        done = waitpid(pid, &status, WNOHANG) == pid;
    }
    if (in[1] >= 0)
        close(in[1]);
    if (!done && waitpid(pid, &status, WNOHANG) != pid) {
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        if (!sig.stopped())
            fprintf(stderr, "raidc: %s did not finish within %ld ms for a %s event; killed\n", o.program,
                    o.execTimeoutMs, e.type.c_str());
        return false;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    fprintf(stderr, "raidc: %s failed (%s %d) for a %s event\n", o.program,
            WIFEXITED(status) ? "exit status" : "signal", WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status),
            e.type.c_str());
    return false;
}

bool emit(const Options &o, const Event &e, Signals &sig)
{
    printf("%s\n", (o.json ? toJson(e) : toText(e)).c_str());
    fflush(stdout);
    return !o.program || runProgram(o, e, sig);
}

int watch(const Args &a)
{
    Options o;
    o.json = a.json;
    if (!a.pos.empty())
        return usageError(a, "watch takes no words, only options");
    for (auto &[name, value] : a.options) {
        if (name == "interval" && !toMs(value.c_str(), &o.intervalMs))
            return usageError(a, "--interval wants seconds, from 0.05 up");
        else if (name == "exec-timeout" && !toMs(value.c_str(), &o.execTimeoutMs))
            return usageError(a, "--exec-timeout wants seconds, from 0.05 up");
        else if (name == "exec") {
            if (value.empty())
                return usageError(a, "--exec wants a program");
            o.program = value.c_str();
        } else if (name != "interval" && name != "exec-timeout" && name != "test")
            return usageError(a, "unknown option --%s", name.c_str());
    }
    Signals sig;
    if (sig.fd() < 0)
        return fail("cannot wait for signals: %s", strerror(errno));

    Watcher w;
    w.poll();
    if (a.option("test")) {
        bool all = true;
        for (const Event &e : testEvents(w.snapshot(), time(nullptr)))
            all = emit(o, e, sig) && all;
        return all ? EXIT_OK : EXIT_FAIL;
    }

    TreeNotify tree;
    while (!sig.stopped()) {
        long long polled = nowMs(), next = polled + o.intervalMs;
        for (long long left; !sig.stopped() && (left = next - nowMs()) > 0;) {
            pollfd fds[2] = {{sig.fd(), POLLIN, 0}, {tree.fd(), POLLIN, 0}};
            int n = ::poll(fds, tree.fd() >= 0 ? 2 : 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
            if (n < 0 && errno != EINTR)
                return fail("waiting failed: %s", strerror(errno));
            if (fds[0].revents)
                sig.drain();
            // A burst of writes costs one refresh per kMinGapMs at most.
            if (tree.fd() >= 0 && fds[1].revents && tree.drain())
                next = std::min(next, polled + kMinGapMs);
        }
        if (sig.stopped())
            break;
        tree.arm();
        for (const Event &e : w.poll()) {
            emit(o, e, sig);
            if (sig.stopped())
                break;
        }
    }
    return EXIT_OK;
}

Register r({"watch", "[--interval SEC] [--json] [--exec PROGRAM] [--exec-timeout SEC] [--test]",
            "print a line per change of the RAID state or the agent's liveness", watch,
            "interval= json exec= exec-timeout= test"});

} // namespace
