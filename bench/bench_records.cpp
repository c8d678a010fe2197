// Physical drive records of the 8x1000 tree: one loader call per record
// against the same fields read with one public (locking) call each. Both are
// timed in turn within each iteration, on the thread's CPU clock, so the
// ratio compares like with like even while the machine's speed drifts or
// other processes share the cores.
#include "bench_util.h"

#include <benchmark/benchmark.h>

#include <ctime>

namespace {

// The fields of the physical drive record with their widths (0: integer).
struct PdField {
    const char *param;
    unsigned int width;
};
const PdField kPdFields[] = {
    {"Product", RAIDC_TEXT_LEN},
    {"PdAllowedLocate", RAIDC_TEXT_LEN},
    {"PortNumber", 0},
    {"DeviceNumber", 0},
    {"Vendor", RAIDC_VENDOR_LEN},
    {"TransferSpeed", 0},
    {"Type", RAIDC_TEXT_LEN},
    {"MediaType", RAIDC_TEXT_LEN},
    {"MediaErrorCount", 0},
    {"MiscErrors", 0},
    {"Status", RAIDC_TEXT_LEN},
    {"FirmwareVersion", RAIDC_TEXT_LEN},
    {"SerialNumber", RAIDC_TEXT_LEN},
    {"ForeignConfig", RAIDC_TEXT_LEN},
    {"PhysicalSize", 0},
    {"EnclosureNumber", 0},
    {"Slot", 0},
    {"Name", RAIDC_TEXT_LEN},
    {"RemainingTime", RAIDC_TEXT_LEN},
    {"RebuildProgress", 0},
    {"PowerStatus", RAIDC_TEXT_LEN},
    {"Temperature", 0},
    {"RPM", RAIDC_TEXT_LEN},
};

// Runs `perDrive(ctrl, dev)` over every physical drive; gives the count.
template <typename F> int64_t forEachDrive(F perDrive)
{
    int64_t ctrls = 0, total = 0;
    RaidC_getCtrlsNumber(&ctrls);
    for (int c = 0; c < ctrls; ++c) {
        int64_t drives = 0;
        RaidC_getPdsNumberForCtrl(c, &drives);
        for (int d = 0; d < drives; ++d)
            perDrive(c, d);
        total += drives;
    }
    return total;
}

int64_t loadAll()
{
    RaidCPdInfo rec;
    return forEachDrive([&](int c, int d) {
        benchmark::DoNotOptimize(RaidC_LoadPdlInfo(c, d, &rec));
        benchmark::ClobberMemory();
    });
}

int64_t callEach()
{
    char text[RAIDC_VENDOR_LEN];
    int64_t value;
    return forEachDrive([&](int c, int d) {
        for (const PdField &f : kPdFields) {
            benchmark::DoNotOptimize(f.width ? RaidC_getPDInfo(f.param, c, d, text, f.width, nullptr)
                                             : RaidC_getPDInfo(f.param, c, d, nullptr, 0, &value));
        }
        benchmark::ClobberMemory();
    });
}

double cpuSeconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_PdRecordsLoadedVsPublicCalls(benchmark::State &state)
{
    benchutil::loadTree(8, 1000);
    double loadSec = 0, callSec = 0;
    int64_t records = 0;
    for (auto _ : state) {
        const double t0 = cpuSeconds();
        records += loadAll();
        const double t1 = cpuSeconds();
        callEach();
        callSec += cpuSeconds() - t1;
        loadSec += t1 - t0;
    }
    if (records == 0) {
        state.SkipWithError("the tree has no physical drives");
        return;
    }
    state.counters["load_ns_per_record"] = loadSec * 1e9 / static_cast<double>(records);
    state.counters["calls_ns_per_record"] = callSec * 1e9 / static_cast<double>(records);
    state.counters["load_to_calls_ratio"] = loadSec / callSec;
    state.SetItemsProcessed(records);
}
BENCHMARK(BM_PdRecordsLoadedVsPublicCalls)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace
