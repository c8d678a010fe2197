// Runs `raidc` as a monitoring system would, compares what it printed with
// golden files, and starts the simulator.
#pragma once

#include "testutil.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

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

using testutil::eventually;
using testutil::InTempDir;
using testutil::stopChild;

// Through the simulator, as the agent writes it: under the file lock, with a
// modification time of its own.
inline void installAsAgent(const std::string &xml)
{
    const std::string sim = testutil::toolPath("raidc-agent-sim");
    ASSERT_EQ(testutil::runCommand(sim + " install /dev/stdin >/dev/null <<'EOF'\n" + xml + "EOF"), 0);
}

// The simulator serving the command socket, once it does.
inline pid_t serveAgent(const std::string &out = "/dev/null")
{
    testutil::makePathDirs();
    unlink(RAIDC_CMD_SOCKET_PATH);
    pid_t pid =
        testutil::spawn({"/bin/sh", "-c", "exec " + testutil::toolPath("raidc-agent-sim") + " serve 2>/dev/null"}, out);
    EXPECT_TRUE(eventually([] { return access(RAIDC_CMD_SOCKET_PATH, F_OK) == 0; }));
    return pid;
}

} // namespace monitor
