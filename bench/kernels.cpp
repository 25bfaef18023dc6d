// Bytes per second of each GC count version over one read block's worth of
// sequence, which stays in cache as it does in gcwindow.

#include <benchmark/benchmark.h>

#include <vector>

#include "gc_count.hpp"

namespace {

void countBlock(benchmark::State& state, gcwindow::GcKernel kernel) {
    if (!kernel.runsHere()) {
        state.SkipWithError("this CPU lacks the instructions");
        return;
    }
    std::vector<unsigned char> block(512 * 1024);
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
