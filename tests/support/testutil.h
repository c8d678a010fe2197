// Shared test helpers: every test goes through the public interface and the
// real device tree file (below the test build's path prefix).
#pragma once

#include "raidcommon.h"
#include "treefile.h"

#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <source_location>
#include <string>
#include <sys/types.h>
#include <vector>

// The cross build runs its tests under a user-mode emulator. A test skips
// there only where the emulator itself falls short, saying how.
#ifdef RAIDC_TOOL_RUNNER
#define SKIP_UNDER_EMULATOR(shortfall) GTEST_SKIP() << "the emulator " shortfall
#else
#define SKIP_UNDER_EMULATOR(shortfall) static_cast<void>(0)
#endif

#ifdef RAIDC_FAULT_INJECTION
// The fault build's control: the nth allocation or read point from now fails
// (0 disarms); and how many points were passed since the last arming.
extern "C" void raidc_fault_arm(long nth) noexcept;
extern "C" long raidc_fault_calls(void) noexcept;
#endif

namespace testutil {

#ifdef RAIDC_FAULT_INJECTION
// The loop over failure points: runs `run` with the 1st, 2nd, ... fault point
// armed, until a run passes every point. After each run, faults disarmed,
// `check(nth, faulted)` judges it (faulted: the armed point was reached);
// the last call has faulted false. Returns how many runs met a fault.
long forEachFaultPoint(const std::function<void()> &run, const std::function<void(long nth, bool faulted)> &check,
                       long limit = 10000);
#endif

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
// A built tool (raidc, raidc-agent-sim, ...) as a shell command: under the
// emulator, the runner and then the program.
std::string toolPath(const char *name);
// The same as separate arguments for exec; args follow the program.
std::vector<std::string> toolArgv(const char *name, std::initializer_list<std::string> args = {});

// What fn wrote to standard output.
std::string captureStdout(const std::function<void()> &fn);

// Runs a shell command; returns its exit status and (optionally) its output.
int runCommand(const std::string &cmd, std::string *output = nullptr);

// A document with one System and the given Adapter bodies, e.g.
// wrapSystem({"<CtrlId>0</CtrlId>"}) for one controller.
std::string wrapSystem(std::initializer_list<std::string> adapters, const std::string &systemExtra = "");

using treefile::makePathDirs; // the folders of the three paths

// Whether `done` comes true within `ms` milliseconds, asked every 20 ms.
bool eventually(const std::function<bool()> &done, int ms = 10000);
// Starts argv[0], found on PATH, its standard output and error appended to `logPath`.
pid_t spawn(std::vector<std::string> argv, const std::string &logPath);
// A child's exit status (128 + its signal) if it ends within `ms` ms, else -1.
int waitChild(pid_t pid, int ms = 10000);
// Ends a child with SIGTERM, or SIGKILL when that takes ten seconds, and sets
// pid to -1. Its exit status as waitChild gives it.
int stopChild(pid_t &pid);
// Seconds on `clock`, for measuring how long a call took.
double seconds(clockid_t clock = CLOCK_MONOTONIC);
// Whether fd has something to read (or hung up) within `ms` milliseconds.
bool readable(int fd, int ms);

// `text` with placeholders for what differs from run to run: the paths'
// prefix, the source folder, times, ages, timestamps and process ids.
std::string masked(std::string text);

// A test with a folder of its own, removed with all in it after the test.
class InTempDir : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string dir;
};

// Compares `text` whole with the file tests/<name>; writes the file instead
// when RAIDC_UPDATE_GOLDEN=1.
void expectGolden(const std::string &name, const std::string &text);

// Runs `checks` on a cache this process never refreshed: in a fresh copy of
// the test program that re-runs the calling test up to here, so the call comes
// first in its test; their failures fail that test. Under the emulator, which
// cannot start a copy, they run in place, or the test skips if something has
// refreshed already (there ctest runs each case in a process of its own).
void onNeverRefreshedCache(const std::function<void()> &checks,
                           std::source_location at = std::source_location::current());

} // namespace testutil
