// Capabilities rendering on the largest capabilities element the generator
// writes (a nine-level controller), and MIB mapper calls.
#include "bench_util.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

// The controller of the 8x8 tree with the longest capabilities text.
int largestCapsController(size_t *length)
{
    benchutil::loadTree(8, 8);
    int best = 0;
    *length = 0;
    int64_t count = 0;
    RaidC_getCtrlsNumber(&count);
    string_t s;
    string_init(s);
    for (int c = 0; c < count; ++c) {
        if (RaidC_getCtrlInfo2("RAIDCapabilities", c, s, nullptr) == RAIDC_SUCCESS_STRING && string_size(s) > *length) {
            *length = string_size(s);
            best = c;
        }
    }
    string_clear(s);
    return best;
}

void BM_CapsRender(benchmark::State &state)
{
    size_t length = 0;
    int ctrl = largestCapsController(&length);
    string_t s;
    string_init(s);
    for (auto _ : state) {
        if (RaidC_getCtrlInfo2("RAIDCapabilities", ctrl, s, nullptr) != RAIDC_SUCCESS_STRING)
            state.SkipWithError("capabilities not rendered");
        benchmark::DoNotOptimize(string_get_cstr(s));
    }
    string_clear(s);
    state.counters["json_bytes"] = static_cast<double>(length);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(length));
}
BENCHMARK(BM_CapsRender)->Unit(benchmark::kMicrosecond);

// A text early in its table, one late in a long table, and one that falls
// through to the fallback after the whole table.
void BM_MibMapperText(benchmark::State &state)
{
    static const char *const texts[] = {"Available", "Shield smart", "No such state"};
    const char *text = texts[state.range(0)];
    int32_t v = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(mibMapper_getPdStatusEx(text, &v));
        benchmark::DoNotOptimize(v);
    }
    state.SetLabel(text);
}
BENCHMARK(BM_MibMapperText)->DenseRange(0, 2)->Unit(benchmark::kNanosecond);

void BM_MibMapperStripeSize(benchmark::State &state)
{
    char text[] = "256 KB";
    int32_t v = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(mibMapper_getLdStripeSize(text, &v));
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_MibMapperStripeSize)->Unit(benchmark::kNanosecond);

} // namespace
