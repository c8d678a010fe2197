// Runs `raidc` as a monitoring system would and splits what it printed.
#pragma once

#include "testutil.h"

#include <string>

namespace monitor {

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

inline Output onTree(const char *example, const std::string &args)
{
    testutil::installFile(testutil::examplePath(example));
    return raidc(args);
}

} // namespace monitor
