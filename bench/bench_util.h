// Shared by the benchmarks: generated device trees and installing them.
#pragma once

#include "raidcommon.h"

#include <cstdio>
#include <string>

namespace benchutil {

// The generator's tree for C controllers x D drives (indented, seed 1), made
// once and kept in /tmp.
const std::string &treeText(int controllers, int drives);

// Writes the text as the device tree file with a modification time no
// earlier install used, so the next refresh re-reads it.
void installTree(const std::string &text);

// Everything left to read from a stream.
std::string readStream(FILE *f);

// Minor page faults of this process so far.
long minorFaults();

// installTree + RaidC_updateCache; aborts the benchmark program on failure.
void loadTree(int controllers, int drives);

} // namespace benchutil
