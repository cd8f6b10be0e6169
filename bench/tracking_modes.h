// The tracking modes as the benchmark programs name them: in benchmark names and in the tables' labels.
// Index: the value of TrackMemoryAllocation (0, tracking off, serves with the pass-through hooks).
#pragma once

namespace vracoins_bench {

constexpr int kHighestTrackingMode = 4;

constexpr const char* kModeNames[] = {"pass-through", "mode1", "mode2", "mode3", "mode4"};
constexpr const char* kModeLabels[] = {"pass-through (tracking off)", "mode 1 (process heap, no guards)",
                                       "mode 2 (page-guarded)", "mode 3 (process heap, guarded)",
                                       "mode 4 (run-time heap, guarded)"};

} // namespace vracoins_bench
