// `raidc check` and `raidc metrics` on the 8 x 1000 tree, run as the
// monitoring system runs them: a fresh process that refreshes and walks
// everything. Each run is set against a full refresh in this process taken
// right before it, so the ratio holds while the machine's speed drifts.
// `raidc refresh` shows what a process and its one refresh cost alone.
#include "bench_util.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>

namespace {

using Clock = std::chrono::steady_clock;

bool runTool(const char *command)
{
    std::string tool = std::string(RAIDC_TOOLS_DIR) + "/raidc";
    char *argv[] = {tool.data(), const_cast<char *>(command), nullptr};
    posix_spawn_file_actions_t io;
    posix_spawn_file_actions_init(&io);
    posix_spawn_file_actions_addopen(&io, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int st = -1;
    bool ok = posix_spawn(&pid, tool.c_str(), &io, nullptr, argv, environ) == 0 && waitpid(pid, &st, 0) == pid;
    posix_spawn_file_actions_destroy(&io);
    // check exits 0 to 2 by the tree's health; anything else is a failure.
    return ok && WIFEXITED(st) && WEXITSTATUS(st) <= 2;
}

void BM_MonitorCommand(benchmark::State &state, const char *command)
{
    const std::string &text = benchutil::treeText(8, 1000);
    Clock::duration refresh{}, tool{};
    for (auto _ : state) {
        state.PauseTiming();
        benchutil::installTree(text);
        Clock::time_point t0 = Clock::now();
        if (RaidC_updateCache() != 0)
            state.SkipWithError("refresh failed");
        refresh += Clock::now() - t0;
        state.ResumeTiming();
        t0 = Clock::now();
        if (!runTool(command))
            state.SkipWithError("raidc failed");
        tool += Clock::now() - t0;
    }
    double n = static_cast<double>(state.iterations());
    state.counters["refresh_ms"] = std::chrono::duration<double, std::milli>(refresh).count() / n;
    state.counters["per_refresh"] = std::chrono::duration<double>(tool) / std::chrono::duration<double>(refresh);
}
BENCHMARK_CAPTURE(BM_MonitorCommand, refresh, "refresh")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK_CAPTURE(BM_MonitorCommand, check, "check")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK_CAPTURE(BM_MonitorCommand, metrics, "metrics")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

} // namespace
