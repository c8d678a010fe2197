// Runs `raidc` as a monitoring system would, compares what it printed with
// golden files, and installs trees as the agent does.
#pragma once

#include "../cmd/peers.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace monitor {

using namespace std::chrono_literals;
using namespace testutil;

struct Output {
    int status;
    std::string out;
};

inline Output raidc(const std::string &args)
{
    Output r;
    r.status = runCommand(toolPath("raidc") + " " + args + " 2>/dev/null", &r.out);
    return r;
}

// Through the simulator, as the agent writes it: under the file lock, with a
// modification time of its own.
inline void installAsAgent(const std::string &xml)
{
    const std::string sim = toolPath("raidc-agent-sim");
    ASSERT_EQ(runCommand(sim + " install /dev/stdin >/dev/null <<'EOF'\n" + xml + "EOF"), 0);
}

struct Pd {
    int id;
    std::string status;
    int rebuild = 0;
};

// One controller C0 with logical drive LD0 and the drives given, then `more`
// (batteries, ports): a tree each of whose devices a test can change.
inline std::string smallTree(const std::vector<Pd> &pds, const std::string &ld = "Operational",
                             const std::string &ctrl = "OK", const std::string &more = "")
{
    std::string a = "<AdapterNumber>0</AdapterNumber><CtrlId>0</CtrlId><Name>C0</Name><Status>" + ctrl +
                    "</Status><LogicalDrive Nr=\"0\"><Name>LD0</Name><RAIDLevel>RAID-5</RAIDLevel><Status>" + ld +
                    "</Status></LogicalDrive>";
    for (const Pd &p : pds)
        a += "<PhysicalDrive Nr=\"" + std::to_string(p.id) + "\"><Product>P</Product><Name>D" + std::to_string(p.id) +
             "</Name><Status>" + p.status + "</Status><PowerStatus>Active</PowerStatus><RebuildProgress>" +
             std::to_string(p.rebuild) + "</RebuildProgress><Temperature>30</Temperature></PhysicalDrive>";
    return wrapSystem({a + more});
}

} // namespace monitor
