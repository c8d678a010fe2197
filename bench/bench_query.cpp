// The queries behind `raidc show --json` and the maximum temperatures, on the
// 8x1000 tree through the public interface: time per call, and the same as a
// multiple of one full refresh of that tree measured in this run.
#include "bench_util.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <initializer_list>
#include <vector>

namespace {

constexpr int kCtrls = 8, kDrives = 1000;

// Thread CPU time: the machine is shared, and a ratio of two wall-clock
// figures taken minutes apart moves with the load of the moment.
double cpuSeconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// CPU time of one full refresh of the 8x1000 tree: the median of three,
// taken once per run.
double refreshSeconds()
{
    static const double seconds = [] {
        const std::string &text = benchutil::treeText(kCtrls, kDrives);
        std::vector<double> t;
        for (int i = 0; i < 3; ++i) {
            benchutil::installTree(text);
            double t0 = cpuSeconds();
            if (RaidC_updateCache() != 0)
                abort();
            t.push_back(cpuSeconds() - t0);
        }
        std::sort(t.begin(), t.end());
        return t[1];
    }();
    return seconds;
}

// Runs `call` per iteration over a freshly loaded 8x1000 tree and sets the
// "x_refresh" counter: the CPU time of one call divided by that of one full
// refresh.
template <typename Call> void measure(benchmark::State &state, Call &&call)
{
    double refresh = refreshSeconds();
    benchutil::loadTree(kCtrls, kDrives);
    int64_t i = 0;
    double t0 = cpuSeconds();
    for (auto _ : state)
        call(i++);
    double perCall = (cpuSeconds() - t0) / static_cast<double>(state.iterations());
    state.counters["x_refresh"] = perCall / refresh;
    state.counters["refresh_ms"] = refresh * 1e3;
}

int64_t g_sink;

// Reads the named texts and integers of one device as the overview does:
// query(param, pos..., strBuf, bufLen, intOut).
template <typename Query, typename... Pos>
void readParams(std::initializer_list<const char *> texts, std::initializer_list<const char *> ints, Query query,
                Pos... pos)
{
    char buf[512];
    int64_t v;
    for (const char *t : texts)
        g_sink += query(t, pos..., buf, unsigned(sizeof buf - 1), nullptr);
    for (const char *i : ints)
        g_sink += query(i, pos..., nullptr, 0u, &v);
}

int64_t countOf(int (*fn)(int, int64_t *), int c)
{
    int64_t n = 0;
    fn(c, &n);
    return n;
}

using MaxFn = int (*)(int, int64_t *);
const MaxFn kMaxFns[] = {RaidC_getCtrlMaxTemperature, RaidC_getPdMaxTemperature,   RaidC_getHDDMaxTemperature,
                         RaidC_getSSDMaxTemperature,  RaidC_getNVMeMaxTemperature, RaidC_getBBUMaxTemperature,
                         RaidC_getProcMaxTemperature};

void enclosure(int c, int e)
{
    readParams({"Name", "Product", "Status"}, {"EnclosureNumber"}, RaidC_getEncInfo, c, e);
    RaidCEncInfo *shape = RaidC_getEncInfoStructure(c, e);
    for (int p = 0; shape && p < shape->ProcessorCount; ++p) {
        readParams({"Name", "Type", "Product", "Status"}, {}, RaidC_getEncProcInfo, c, e, p);
        const RaidCEncProcInfo &pi = shape->Processors[p];
        for (int k = 0; k < pi.FanCount; ++k)
            readParams({"Name", "Location", "FanSpeed", "Status"}, {}, RaidC_getEncFanInfo, c, e, p, k);
        for (int k = 0; k < pi.PowerSupplyCount; ++k)
            readParams({"Name", "PartNumber", "Status"}, {}, RaidC_getEncPwrInfo, c, e, p, k);
        for (int k = 0; k < pi.TempSensorCount; ++k)
            readParams({"Name", "Location", "Status"}, {"Temperature"}, RaidC_getEncTempInfo, c, e, p, k);
    }
    RaidC_freeEncInfoStructure(shape);
}

// Everything `raidc show --json` asks of the library for one controller.
void controller(int c)
{
    readParams({"Name", "Product", "Status", "ControllerFamily", "PortType"}, {}, RaidC_getCtrlInfo, c);
    int64_t v, w;
    for (MaxFn fn : kMaxFns)
        g_sink += fn(c, &v);
    for (auto fn : {RaidC_getPdsNumberForCtrl, RaidC_getLdsNumberForCtrl, RaidC_getEncNumberForCtrl,
                    RaidC_getArraysNumberForCtrl, RaidC_getPortsNumberForCtrl, RaidC_getCtrlNvmePdsTotalNumber,
                    RaidC_getEncryptedPdsNumberForCtrl, RaidC_getDegradedLdsNumberForCtrl})
        g_sink += fn(c, &v);
    g_sink += RaidC_getFailedPdsNumberForCtrl(c, &v, &w);
    for (int d = 0, n = int(countOf(RaidC_getLdsNumberForCtrl, c)); d < n; ++d)
        readParams({"Name", "RAIDLevel", "Status", "OSDevice"}, {"LogDriveNumber", "LogicalSize"}, RaidC_getLDInfo, c,
                   d);
    for (int d = 0, n = int(countOf(RaidC_getPdsNumberForCtrl, c)); d < n; ++d) {
        readParams({"Type", "MediaType", "Status"}, {"PortNumber", "DeviceNumber", "PhysicalSize", "Temperature"},
                   RaidC_getPDInfo, c, d);
        int id;
        g_sink += RaidC_convert_PdIdx_2_PdId(c, d, &id);
    }
    for (int e = 0, n = int(countOf(RaidC_getEncNumberForCtrl, c)); e < n; ++e)
        enclosure(c, e);
    if (RaidC_CtrlHasBBU(c) == 1)
        readParams({"Name", "Type", "Status"}, {"Temperature", "RemainingCapacity"}, RaidC_getBBUInfo, c);
}

void BM_ShowOverviewQueries(benchmark::State &state)
{
    measure(state, [](int64_t) {
        int64_t n = 0;
        char agent[128];
        RaidC_getCtrlsNumber(&n);
        g_sink += RaidC_getStatusInfo("Status", agent, sizeof agent - 1);
        for (int c = 0; c < n; ++c)
            controller(c);
    });
    benchmark::DoNotOptimize(g_sink);
}
BENCHMARK(BM_ShowOverviewQueries)->Unit(benchmark::kMillisecond);

// One maximum-temperature query per call, cycling over the controllers.
void BM_MaxTemperature(benchmark::State &state)
{
    MaxFn fn = kMaxFns[state.range(0)];
    static const char *const names[] = {"ctrl", "pd", "hdd", "ssd", "nvme", "bbu", "proc"};
    state.SetLabel(names[state.range(0)]);
    int64_t v;
    measure(state, [&](int64_t i) { g_sink += fn(static_cast<int>(i % kCtrls), &v); });
    benchmark::DoNotOptimize(g_sink);
}
BENCHMARK(BM_MaxTemperature)->DenseRange(0, 6)->Unit(benchmark::kMicrosecond);

} // namespace
