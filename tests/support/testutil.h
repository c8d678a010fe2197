// Shared test helpers: every test goes through the public interface and the
// real device tree file (below the test build's path prefix).
#pragma once

#include "raidcommon.h"

#include <functional>
#include <string>

// Under the ARM emulator of the cross build, threads and child processes
// cannot be started: tests that need them skip there.
#ifdef RAIDC_TOOL_RUNNER
#define SKIP_UNDER_EMULATOR() GTEST_SKIP() << "needs threads or child processes, which the emulator cannot start"
#else
#define SKIP_UNDER_EMULATOR() static_cast<void>(0)
#endif

#ifdef RAIDC_FAULT_INJECTION
// The fault build's control: the nth allocation or read point from now fails
// (0 disarms); and how many points were passed since the last arming.
extern "C" void raidc_fault_arm(long nth) noexcept;
extern "C" long raidc_fault_calls(void) noexcept;
#endif

namespace testutil {

// Writes `xml` as the device tree file and gives it a modification time
// that no earlier call used, so the next refresh re-reads it.
void installTree(const std::string &xml);
// The same with a file's content.
void installFile(const std::string &path);
// installTree + RaidC_updateCache, which must succeed.
void loadTree(const std::string &xml);
void removeTree();

std::string readFile(const std::string &path);
std::string examplePath(const char *name); // examples/<name>
std::string toolPath(const char *name);    // built raidc / raidc-agent-sim

// What fn wrote to standard output.
std::string captureStdout(const std::function<void()> &fn);

// Runs a shell command; returns its exit status and (optionally) its output.
int runCommand(const std::string &cmd, std::string *output = nullptr);

// A document with one System and the given Adapter bodies, e.g.
// wrapSystem({"<CtrlId>0</CtrlId>"}) for one controller.
std::string wrapSystem(std::initializer_list<std::string> adapters, const std::string &systemExtra = "");

// Creates the folders of the three paths.
void makePathDirs();

} // namespace testutil
