// Trap events from producer to consumer (one process: transmit, then get)
// against their floor, the same 74 bytes written and read through a bare
// FIFO. Both run in alternating blocks of the same iteration, so a slow
// patch of the machine hits both and their ratio holds.
#include "raidcommon.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kBlock = 64;
constexpr size_t kMessageLen = RAIDC_TRAP_HEADER_LEN + 24; // a record with its initial values

double nsNow()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

void BM_TrapEventVsBareFifo(benchmark::State &state)
{
    std::filesystem::create_directories(std::filesystem::path(RAIDC_TRAP_PIPE_PATH).parent_path());
    unlink(RAIDC_TRAP_PIPE_PATH);
    TrapEventPipe prod, cons;
    TrapEventData rec;
    initTrapEventPipe(&prod, 0);
    initTrapEventPipe(&cons, 1);
    initTrapData(&rec);
    prod.record = &rec;

    const std::string barePath = std::string(RAIDC_TRAP_PIPE_PATH) + ".bare";
    unlink(barePath.c_str());
    mkfifo(barePath.c_str(), 0600);
    int bareOut = open(barePath.c_str(), O_RDWR | O_NONBLOCK);
    int bareIn = open(barePath.c_str(), O_RDWR | O_NONBLOCK);
    if (openTrapEventPipe(&prod) != 0 || openTrapEventPipe(&cons) != 0 || bareOut < 0 || bareIn < 0)
        state.SkipWithError("cannot open the FIFOs");

    char out[kMessageLen] = {'S'}, in[kMessageLen];
    double trapNs = 0, bareNs = 0;
    int64_t events = 0;
    for (auto _ : state) {
        double t0 = nsNow();
        for (int i = 0; i < kBlock; ++i) {
            if (transmitTrapEvent(&prod) != 0 || RaidC_GetTrapEventData(&cons) != 0) {
                state.SkipWithError("trap event lost");
                break;
            }
        }
        double t1 = nsNow();
        for (int i = 0; i < kBlock; ++i) {
            if (write(bareOut, out, kMessageLen) != static_cast<ssize_t>(kMessageLen) ||
                read(bareIn, in, kMessageLen) != static_cast<ssize_t>(kMessageLen)) {
                state.SkipWithError("bare FIFO message lost");
                break;
            }
        }
        benchmark::DoNotOptimize(in);
        trapNs += t1 - t0;
        bareNs += nsNow() - t1;
        events += kBlock;
    }
    if (events > 0 && trapNs > 0 && bareNs > 0) {
        state.counters["trap_events_per_s"] = static_cast<double>(events) / trapNs * 1e9;
        state.counters["bare_events_per_s"] = static_cast<double>(events) / bareNs * 1e9;
        state.counters["trap_ns"] = trapNs / static_cast<double>(events);
        state.counters["bare_ns"] = bareNs / static_cast<double>(events);
        state.counters["trap_over_bare"] = trapNs / bareNs;
    }
    state.SetItemsProcessed(events);

    RaidC_FreeTrapEventData(&cons);
    closeTrapEventPipe(&prod);
    closeTrapEventPipe(&cons);
    close(bareOut);
    close(bareIn);
    unlink(barePath.c_str());
}
BENCHMARK(BM_TrapEventVsBareFifo)->Unit(benchmark::kMicrosecond);

} // namespace
