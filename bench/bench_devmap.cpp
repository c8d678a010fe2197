// What the relation map adds to a refresh, and what an SNMP agent's walk
// over every drive costs per query.
#include "bench_util.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Release, allocate and fill, as the refresh does, on the cached tree.
double rebuildMap()
{
    pthread_mutex_lock(&RaidC_ThreadMutex);
    raidInternal_freeDeviceMapStructure(&ctrlDevStructure);
    auto t0 = Clock::now();
    raidInternal_dynAllocDeviceMapStructure(&ctrlDevStructure);
    raidInternal_getDeviceStructure(&ctrlDevStructure);
    double s = since(t0);
    pthread_mutex_unlock(&RaidC_ThreadMutex);
    return s;
}

void BM_DevmapBuild(benchmark::State &state)
{
    benchutil::loadTree(8, 1000);
    for (auto _ : state)
        benchmark::DoNotOptimize(rebuildMap());
}
BENCHMARK(BM_DevmapBuild)->Unit(benchmark::kMillisecond);

// Full refresh and map build alternate in the same iterations, so a slow
// patch of the machine hits both and their ratio holds. The reported time
// is the full refresh; map_share is the map build's part of it.
void BM_DevmapShareOfRefresh(benchmark::State &state)
{
    const std::string &text = benchutil::treeText(8, 1000);
    double refresh = 0, map = 0;
    for (auto _ : state) {
        benchutil::installTree(text);
        auto t0 = Clock::now();
        if (RaidC_updateCache() != 0) {
            state.SkipWithError("refresh failed");
            break;
        }
        double r = since(t0);
        refresh += r;
        map += rebuildMap();
        state.SetIterationTime(r);
    }
    double n = static_cast<double>(state.iterations());
    state.counters["refresh_ms"] = refresh / n * 1e3;
    state.counters["map_ms"] = map / n * 1e3;
    state.counters["map_share_pct"] = refresh > 0 ? 100 * map / refresh : 0;
}
BENCHMARK(BM_DevmapShareOfRefresh)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Every drive of every controller, ten parameters each, as text or integer
// the way an agent publishes them.
void BM_SnmpDriveWalk(benchmark::State &state)
{
    struct Param {
        const char *name;
        bool asInt;
    };
    static const Param params[] = {
        {"Status", false},  {"Temperature", true},   {"Type", false},      {"MediaType", false},   {"Vendor", false},
        {"Product", false}, {"SerialNumber", false}, {"PortNumber", true}, {"DeviceNumber", true}, {"RPM", false}};
    benchutil::loadTree(8, 1000);
    int64_t ctrls = 0;
    std::vector<int64_t> drives;
    if (RaidC_getCtrlsNumber(&ctrls) != RAIDC_SUCCESS_INT)
        ctrls = 0;
    for (int c = 0; c < ctrls; ++c) {
        int64_t n = 0;
        drives.push_back(RaidC_getPdsNumberForCtrl(c, &n) == RAIDC_SUCCESS_INT ? n : 0);
    }
    int64_t perWalk = 0;
    for (int64_t n : drives)
        perWalk += n * static_cast<int64_t>(std::size(params));
    char buf[128];
    int64_t v, queries = 0, answered = 0;
    for (auto _ : state) {
        for (int c = 0; c < ctrls; ++c) {
            for (int d = 0; d < drives[static_cast<size_t>(c)]; ++d) {
                for (const Param &p : params) {
                    int st = RaidC_getPDInfo(p.name, c, d, p.asInt ? nullptr : buf, sizeof buf, p.asInt ? &v : nullptr);
                    answered += st <= RAIDC_SUCCESS_STRING;
                }
            }
        }
        queries += perWalk;
    }
    if (queries == 0)
        state.SkipWithError("no drives counted");
    state.SetItemsProcessed(queries);
    // Seconds per query, shown with an SI prefix ("250n" is 250 ns).
    state.counters["per_query"] =
        benchmark::Counter(static_cast<double>(queries), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["answered_pct"] = queries ? 100.0 * static_cast<double>(answered) / static_cast<double>(queries) : 0;
}
BENCHMARK(BM_SnmpDriveWalk)->Unit(benchmark::kMillisecond);

} // namespace
