// The tracking modes as the benchmark programs name them: in benchmark names and in the tables' labels.
// Index: the value of TrackMemoryAllocation (0, tracking off, serves with the pass-through hooks). And the
// call stacks measured beside them: the modes on the process heap with TrackMemoryStackDepth set.
#pragma once

#include <cstdint>
#include <string>

namespace vracoins_bench {

constexpr int kHighestTrackingMode = 4;

constexpr const char* kModeNames[] = {"pass-through", "mode1", "mode2", "mode3", "mode4"};
constexpr const char* kModeLabels[] = {"pass-through (tracking off)", "mode 1 (process heap, no guards)",
                                       "mode 2 (page-guarded)", "mode 3 (process heap, guarded)",
                                       "mode 4 (run-time heap, guarded)"};

// The modes measured with call stacks, and the stack depths (TrackMemoryStackDepth) they are measured with.
constexpr int kStackModes[] = {1, 3};
constexpr uint32_t kStackDepths[] = {8, 32};
// What a pair with stacks of kTargetedStackDepth frames may cost at most on the host, as a multiple of the
// same mode without stacks.
constexpr uint32_t kTargetedStackDepth = 8;
constexpr double kTargetedStackRatio = 2.0;

// "mode1-stack8": a mode with stacks of `depth` frames; the mode's own name without stacks.
inline std::string StackModeName(int mode, uint32_t depth) {
    std::string name = kModeNames[mode];
    return depth == 0 ? name : name + "-stack" + std::to_string(depth);
}

// "mode 1 (process heap, no guards), stacks of 8 frames"; the mode's own label without stacks.
inline std::string StackModeLabel(int mode, uint32_t depth) {
    std::string label = kModeLabels[mode];
    return depth == 0 ? label : label + ", stacks of " + std::to_string(depth) + " frames";
}

} // namespace vracoins_bench
