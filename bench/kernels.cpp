// Bytes per second of each GC count version over one read block's worth of
// sequence, which stays in cache and is aligned to a cache line as it is in
// gcwindow (loads that straddle two lines cost the widest version a third).

#include <benchmark/benchmark.h>

#include <array>

#include "gc_count.hpp"

namespace {

void countBlock(benchmark::State& state, gcwindow::GcKernel kernel) {
    if (!gcwindow::runsHere(kernel)) {
        state.SkipWithError("this CPU lacks the instructions");
        return;
    }
    alignas(64) static std::array<unsigned char, 512 * 1024> block;
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = "ACGTTGCAAGCTN\n"[i * 7919 % 14];
    for (auto _ : state) benchmark::DoNotOptimize(kernel.count(block));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * block.size()));
}

const bool registered = [] {
    for (const gcwindow::GcKernel& kernel : gcwindow::gcKernels()) {
        benchmark::RegisterBenchmark(kernel.name, countBlock, kernel);
    }
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
