// Is the RAID agent alive, and how old is its device tree? Both answers come
// from outside the library's cache: a connect probe of the command socket
// and a stat of the device tree file.
#pragma once

#include <ctime>

namespace raidchealth {

enum class AgentState {
    Up,      // something accepts connections on the command socket
    Down,    // no socket, nobody listening, or not accepting in time
    Unknown, // the probe was not allowed to look (permissions)
};

const char *agentStateName(AgentState s);

// Connects to the command socket on a connection of its own and closes it
// again without sending a byte, waiting at most timeoutMs. The library's own
// command connection is never touched.
AgentState probeAgent(int timeoutMs = 500);

struct TreeAge {
    bool exists = false;
    time_t mtime = 0;          // the file's modification time
    long long ageSeconds = -1; // now - mtime, never negative; -1 without a file
};

TreeAge treeAge();

} // namespace raidchealth
