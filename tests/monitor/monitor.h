// Runs `raidc` as a monitoring system would, compares what it printed with
// golden files, and starts and stops the children (the simulator, a watch).
#pragma once

#include "testutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace monitor {

using namespace std::chrono_literals;

struct Output {
    int status;
    std::string out;
};

inline Output raidc(const std::string &args)
{
    Output r;
    r.status = testutil::runCommand(testutil::toolPath("raidc") + " " + args + " 2>/dev/null", &r.out);
    return r;
}

// `text` with this build's path prefix replaced by "PREFIX".
inline std::string withoutPaths(std::string text)
{
    for (size_t at; *RAIDC_PATH_PREFIX && (at = text.find(RAIDC_PATH_PREFIX)) != std::string::npos;)
        text.replace(at, strlen(RAIDC_PATH_PREFIX), "PREFIX");
    return text;
}

// `text` byte for byte against tests/monitor/golden/<name>, which
// RAIDC_UPDATE_GOLDEN=1 writes anew instead.
inline void expectGolden(const std::string &name, const std::string &text)
{
    const std::string path = std::string(RAIDC_SOURCE_DIR) + "/tests/monitor/golden/" + name;
    if (const char *update = getenv("RAIDC_UPDATE_GOLDEN"); update && !strcmp(update, "1"))
        std::ofstream(path, std::ios::binary) << text;
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

// A shell command in the background (its redirections in `cmd`).
inline pid_t spawn(const std::string &cmd)
{
    pid_t pid = fork();
    if (pid == 0) {
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

// A test with a folder of its own, removed after it.
class InTempDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/raidc-monitor-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { testutil::runCommand("rm -rf " + dir); }
    std::string dir;
};

// The simulator serving the command socket, once it does.
inline pid_t serveAgent(const std::string &out = "/dev/null")
{
    testutil::makePathDirs();
    unlink(RAIDC_CMD_SOCKET_PATH);
    pid_t pid = spawn(testutil::toolPath("raidc-agent-sim") + " serve >>" + out + " 2>/dev/null");
    EXPECT_TRUE(eventually([] { return access(RAIDC_CMD_SOCKET_PATH, F_OK) == 0; }));
    return pid;
}

} // namespace monitor
