// Installs a device tree file: shared by the tests, the benchmarks and the
// fuzz target, which need no test framework for it.
#pragma once

#include <cstddef>

namespace treefile {

// Writes the bytes as the device tree file (creating its folders) with a
// modification time that no earlier call in this process used, so the next
// refresh re-reads it. Returns 0, or the errno of the step that failed.
int install(const void *data, size_t size);

// Creates the folders of the device tree, command socket and trap FIFO paths.
void makePathDirs();

} // namespace treefile
