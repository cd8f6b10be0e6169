// The allocation workload (allocation_workload.h) as a Google Benchmark benchmark, for the host's
// benchmark programs.
#pragma once

#include "bench/allocation_workload.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace vracoins_bench {

// Runs the workload's iteration for every iteration of the benchmark.
inline void RunAllocationWorkload(benchmark::State& state, const AllocatorEntry& entry, size_t size,
                                  size_t batch) {
    if (entry.allocate == nullptr || entry.release == nullptr || batch == 0 || batch > kBatchBlocks) {
        state.SkipWithError("no allocator to measure");
        return;
    }
    for (auto _ : state) {
        if (!RunWorkloadIteration(entry, size, batch)) {
            state.SkipWithError("an allocation failed");
            return;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * batch));
}

} // namespace vracoins_bench
