// Runs `raidc` as a monitoring system would and compares what it printed
// with golden files; and the children (the simulator, a watch) the tests
// start and stop.
#pragma once

#include "testutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace monitor {

using namespace std::chrono_literals;

struct Output {
    int status;
    std::string out;
    std::string first; // the first line, without its line break
};

inline Output raidc(const std::string &args)
{
    Output r;
    r.status = testutil::runCommand(testutil::toolPath("raidc") + " " + args + " 2>/dev/null", &r.out);
    r.first = r.out.substr(0, r.out.find('\n'));
    return r;
}

inline bool has(const std::string &s, const std::string &part)
{
    return s.find(part) != std::string::npos;
}

// `text` with this build's paths replaced by their names.
inline std::string withoutPaths(std::string text)
{
    for (auto [path, name] : {std::pair{RAIDC_DEVICE_TREE_PATH, "TREE"}, {RAIDC_CMD_SOCKET_PATH, "SOCKET"}})
        for (size_t at; (at = text.find(path)) != std::string::npos;)
            text.replace(at, strlen(path), name);
    return text;
}

// `text` byte for byte against tests/monitor/golden/<name>, which
// RAIDC_UPDATE_GOLDEN=1 writes anew instead.
inline void expectGolden(const std::string &name, const std::string &text)
{
    const std::string path = std::string(RAIDC_SOURCE_DIR) + "/tests/monitor/golden/" + name;
    if (const char *update = getenv("RAIDC_UPDATE_GOLDEN"); update && !strcmp(update, "1")) {
        FILE *f = fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr) << path;
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
    }
    EXPECT_EQ(testutil::readFile(path), text) << "differs from " << path;
}

inline std::vector<std::string> lines(const std::string &path)
{
    std::vector<std::string> v;
    std::istringstream in(testutil::readFile(path));
    for (std::string l; std::getline(in, l);)
        v.push_back(l);
    return v;
}

inline bool eventually(const std::function<bool()> &done, std::chrono::milliseconds limit = 5000ms)
{
    for (auto end = std::chrono::steady_clock::now() + limit; !done();) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// A shell command in the background, its output appended to `out`.
inline pid_t spawn(const std::string &cmd, const std::string &out, const std::string &err = "/dev/null")
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

// SIGTERM, and SIGKILL for a child that does not end by it; its exit status.
inline int stop(pid_t pid)
{
    kill(pid, SIGTERM);
    int st = -1;
    if (!eventually([&] { return waitpid(pid, &st, WNOHANG) == pid; })) {
        kill(pid, SIGKILL);
        waitpid(pid, &st, 0);
    }
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

// The simulator serving the command socket, once it does.
inline pid_t serveAgent(const std::string &out = "/dev/null")
{
    testutil::makePathDirs();
    unlink(RAIDC_CMD_SOCKET_PATH);
    pid_t pid = spawn(testutil::toolPath("raidc-agent-sim") + " serve", out);
    EXPECT_TRUE(eventually([] { return access(RAIDC_CMD_SOCKET_PATH, F_OK) == 0; }));
    return pid;
}

} // namespace monitor
