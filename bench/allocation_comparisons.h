// The comparisons of the allocation workload that both benchmark programs make, the host's and Wine's:
// the pass-through hooks against the hookless operators and against malloc called by the entry itself,
// each tracking mode against the pass-through hooks, and the modes with call stacks against the same mode
// without.
#pragma once

#include "bench/allocation_workload.h"
#include "bench/ratio_table.h"
#include "bench/tracking_modes.h"

#include <string>
#include <vector>

namespace vracoins_bench {

// Appends them to `comparisons`; a target of 0 is none. The stack target applies to kTargetedStackDepth.
inline void AppendModeComparisons(std::vector<Comparison>* comparisons, double passThroughTarget,
                                  double stackTarget) {
    for (size_t size : kBlockSizes) {
        comparisons->push_back(
            {"pass-through hooks / hookless operators calling malloc+free, " + std::to_string(size) + " B",
             WorkloadName("pass-through", size, 1), WorkloadName("direct", size, 1), passThroughTarget});
    }
    for (size_t size : kBlockSizes) {
        comparisons->push_back(
            {"pass-through hooks / malloc+free called by the entry itself, " + std::to_string(size) + " B",
             WorkloadName("pass-through", size, 1), WorkloadName("malloc-call", size, 1), 0});
    }
    for (int mode = 1; mode <= kHighestTrackingMode; ++mode) {
        for (size_t size : kBlockSizes) {
            comparisons->push_back(
                {std::string(kModeLabels[mode]) + " / pass-through, " + std::to_string(size) + " B",
                 WorkloadName(kModeNames[mode], size, 1), WorkloadName("pass-through", size, 1), 0});
        }
    }
    for (int mode : kStackModes) {
        for (uint32_t depth : kStackDepths) {
            for (size_t size : kBlockSizes) {
                comparisons->push_back(
                    {StackModeLabel(mode, depth) + " / without stacks, " + std::to_string(size) + " B",
                     WorkloadName(StackModeName(mode, depth), size, 1),
                     WorkloadName(kModeNames[mode], size, 1),
                     depth == kTargetedStackDepth ? stackTarget : 0});
            }
        }
    }
}

} // namespace vracoins_bench
