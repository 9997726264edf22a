// What a lookup costs after the load, against a guard-less array read; and what the load costs.
#include <benchmark/benchmark.h>

#include <QrScsiTimeouts.h>

#include "baseline_table.h"
#include "module_copy.h"

namespace {

// Opcodes are visited in a scattered order; unsigned char arithmetic wraps around the table.
constexpr unsigned char stride = 37;

// Both calls bind by their dynamic symbols, as a caller's would.
template <int32_t (*lookup)(unsigned char)>
void lookupLoop(benchmark::State& state) {
    unsigned char opcode = static_cast<unsigned char>(state.thread_index());
    for (auto _ : state) {
        benchmark::DoNotOptimize(lookup(opcode));
        opcode = static_cast<unsigned char>(opcode + stride);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Lookup_getScsiTimeout(benchmark::State& state) {
    getScsiTimeout(0);  // the load is paid here, outside the timing
    lookupLoop<getScsiTimeout>(state);
}

void BM_Baseline_ArrayReadInSharedLibrary(benchmark::State& state) {
    if (state.thread_index() == 0) {
        baselineFill(120);
    }
    lookupLoop<baselineLookup>(state);
}

void BM_Load_FullRegistryLoad(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        freshRegistry();
        state.ResumeTiming();
        loadOnce();
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_Lookup_getScsiTimeout)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_Baseline_ArrayReadInSharedLibrary)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_Load_FullRegistryLoad)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
