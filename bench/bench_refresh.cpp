// Refresh cost against its floors: a bare expat parse of the same bytes for
// a full refresh, and open + lockf + stat + unlock + close for an unchanged one.
#include "bench_util.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <expat.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const int kShapes[][2] = {{1, 8}, {2, 64}, {8, 1000}};

void shapes(benchmark::internal::Benchmark *b)
{
    for (auto &s : kShapes)
        b->Args({s[0], s[1]});
}

// The floor: expat with handlers that do nothing, over bytes in memory.
void bareParse(const std::string &text)
{
    XML_Parser p = XML_ParserCreate(nullptr);
    XML_SetElementHandler(
        p, [](void *, const XML_Char *, const XML_Char **) {}, [](void *, const XML_Char *) {});
    XML_SetCharacterDataHandler(p, [](void *, const XML_Char *, int) {});
    benchmark::DoNotOptimize(XML_Parse(p, text.data(), static_cast<int>(text.size()), 1));
    XML_ParserFree(p);
}

void BM_BareExpatParse(benchmark::State &state)
{
    const std::string &text = benchutil::treeText(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state)
        bareParse(text);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_BareExpatParse)->Apply(shapes)->Unit(benchmark::kMicrosecond);

// A bare parse and a full refresh of the same bytes in turn, so that both
// see the same moment of a machine whose speed drifts; "ratio" is the
// refresh time over the bare parse time.
void BM_RefreshOverBareParse(benchmark::State &state)
{
    using Clock = std::chrono::steady_clock;
    const std::string &text = benchutil::treeText(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    Clock::duration bare{}, refresh{};
    for (auto _ : state) {
        state.PauseTiming();
        benchutil::installTree(text);
        state.ResumeTiming();
        auto t0 = Clock::now();
        bareParse(text);
        auto t1 = Clock::now();
        if (RaidC_updateCache() != 0)
            state.SkipWithError("refresh failed");
        refresh += Clock::now() - t1;
        bare += t1 - t0;
    }
    state.counters["ratio"] = std::chrono::duration<double>(refresh) / std::chrono::duration<double>(bare);
}
BENCHMARK(BM_RefreshOverBareParse)->Apply(shapes)->Unit(benchmark::kMicrosecond);

void BM_FullRefresh(benchmark::State &state)
{
    const std::string &text = benchutil::treeText(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    // Page faults inside the refresh mean memory that is not reused.
    long faults = 0;
    for (auto _ : state) {
        state.PauseTiming();
        benchutil::installTree(text);
        long before = benchutil::minorFaults();
        state.ResumeTiming();
        if (RaidC_updateCache() != 0)
            state.SkipWithError("refresh failed");
        state.PauseTiming();
        faults += benchutil::minorFaults() - before;
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
    state.counters["faults"] = benchmark::Counter(static_cast<double>(faults), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_FullRefresh)->Apply(shapes)->Unit(benchmark::kMicrosecond);

// The system calls an unchanged-file refresh cannot do without: open, lock,
// the time of the open file, unlock, close.
void unchangedFloorOnce()
{
    FILE *f = fopen(RAIDC_DEVICE_TREE_PATH, "r+b");
    int fd = fileno(f);
    if (lockf(fd, F_LOCK, 0) == 0) {
        struct stat st;
        benchmark::DoNotOptimize(fstat(fd, &st));
        if (lockf(fd, F_ULOCK, 0) != 0) {
        }
    }
    fclose(f);
}

void BM_UnchangedCheckFloor(benchmark::State &state)
{
    benchutil::loadTree(1, 8);
    for (auto _ : state) {
        unchangedFloorOnce();
    }
}
BENCHMARK(BM_UnchangedCheckFloor);

void BM_UnchangedRefresh(benchmark::State &state)
{
    benchutil::loadTree(1, 8);
    for (auto _ : state)
        benchmark::DoNotOptimize(RaidC_updateCache());
}
BENCHMARK(BM_UnchangedRefresh);

// The unchanged-file refresh and its floor in turn, as one ratio.
void BM_UnchangedOverFloor(benchmark::State &state)
{
    using Clock = std::chrono::steady_clock;
    benchutil::loadTree(1, 8);
    Clock::duration floor{}, refresh{};
    for (auto _ : state) {
        auto t0 = Clock::now();
        for (int i = 0; i < 100; ++i) {
            unchangedFloorOnce();
        }
        auto t1 = Clock::now();
        for (int i = 0; i < 100; ++i)
            benchmark::DoNotOptimize(RaidC_updateCache());
        refresh += Clock::now() - t1;
        floor += t1 - t0;
    }
    state.counters["ratio"] = std::chrono::duration<double>(refresh) / std::chrono::duration<double>(floor);
}
BENCHMARK(BM_UnchangedOverFloor);

// The same controller parameter queries on the 8x1000 tree and on the 1x8
// tree, in turn, as one ratio: a query must not slow down with the tree.
void BM_CtrlParamLookupLargeOverSmall(benchmark::State &state)
{
    using Clock = std::chrono::steady_clock;
    static const char *const names[] = {"Name", "Status", "SerialNumber", "FirmwareVersion", "PortType"};
    char buf[128];
    auto queries = [&](int ctrls) {
        auto t0 = Clock::now();
        for (int i = 0; i < 20000; ++i)
            benchmark::DoNotOptimize(RaidC_getCtrlInfo(names[i % 5], i % ctrls, buf, sizeof buf, nullptr));
        return Clock::now() - t0;
    };
    Clock::duration small{}, large{};
    for (auto _ : state) {
        state.PauseTiming();
        benchutil::loadTree(1, 8);
        state.ResumeTiming();
        small += queries(1);
        state.PauseTiming();
        benchutil::loadTree(8, 1000);
        state.ResumeTiming();
        large += queries(8);
    }
    state.counters["ratio"] = std::chrono::duration<double>(large) / std::chrono::duration<double>(small);
}
BENCHMARK(BM_CtrlParamLookupLargeOverSmall)->Iterations(12);

void BM_CtrlParamLookup(benchmark::State &state)
{
    benchutil::loadTree(8, 1000);
    static const char *const names[] = {"Name", "Status", "SerialNumber", "FirmwareVersion", "PortType"};
    char buf[128];
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(RaidC_getCtrlInfo(names[i % 5], static_cast<int>(i % 8), buf, sizeof buf, nullptr));
        i++;
    }
}
BENCHMARK(BM_CtrlParamLookup);

void BM_CtrlIntLookup(benchmark::State &state)
{
    benchutil::loadTree(8, 1000);
    int64_t v;
    int c = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(RaidC_getCtrlInfo("ChipTemperature", c, nullptr, 0, &v));
        c = (c + 1) & 7;
    }
}
BENCHMARK(BM_CtrlIntLookup);

} // namespace
