#include "bench/windows/allocation_runs.h"

#include "bench/allocation_comparisons.h"
#include "bench/allocation_workload.h"
#include "bench/caller_frames.h"
#include "bench/tracking_modes.h"
#include "bench/windows/module_in_mode.h"
#include "bench/windows/timing_loop.h"

#include <windows.h>

#include <algorithm>
#include <iterator>

namespace vracoins_bench {

namespace {

const char kDirectHeapDll[] = "vracoins_bench_direct.dll";

// Times the workload of one size, one block at a time, under `name`.
void TimeWorkload(const std::string& name, const AllocatorEntry& entry, size_t size, double minSeconds,
                  Timings* timings, std::vector<std::string>* problems) {
    double nanoseconds = 0;
    const bool measured = TimePerIteration(
        [&](uint64_t iterations) {
            for (uint64_t i = 0; i < iterations; ++i) {
                if (!RunWorkloadIteration(entry, size, 1)) {
                    return false;
                }
            }
            return true;
        },
        minSeconds, &nanoseconds);
    if (!measured) {
        problems->push_back(name + ": an allocation failed");
        return;
    }
    (*timings)[name] = nanoseconds;
}

// The entry points of the hookless DLL whose names start with `prefix`.
AllocatorEntry DirectHeapEntry(HMODULE library, const std::string& prefix) {
    AllocatorEntry entry;
    entry.allocate = ExportOf<AllocateEntry>(library, prefix + "_allocate");
    entry.release = ExportOf<ReleaseEntry>(library, prefix + "_release");
    return entry;
}

// Loads the test build with the switches set to `mode` and `stackDepth`, checks the stacks kept when it
// keeps any, and times the workload of every size in it, under the mode's name with stacks.
void TimeModuleInMode(ModuleInMode& module, int mode, uint32_t stackDepth, double minSeconds,
                      Timings* timings, std::vector<std::string>* problems) {
    const std::string name = StackModeName(mode, stackDepth);
    std::string problem;
    if (!SetTrackingSwitches(mode, stackDepth, &problem) ||
        !module.Load(BesideProgram(kTestBuildDll), mode, &problem) ||
        (stackDepth != 0 && !module.StacksAre(stackDepth, &problem))) {
        problems->push_back(StackModeLabel(mode, stackDepth) + ": " + problem);
        module.Unload(nullptr);
        return;
    }
    for (size_t size : kBlockSizes) {
        TimeWorkload(WorkloadName(name, size, 1), module.allocator(), size, minSeconds, timings, problems);
    }
    if (!module.Unload(&problem)) {
        problems->push_back(StackModeLabel(mode, stackDepth) + ": " + problem);
    }
}

} // namespace

// The pass-through hooks of each size run right between the two baselines that they are compared with,
// so that both sides of those ratios meet the same load of a shared machine; the tracking modes follow,
// modes 1 and 3 each right before themselves with call stacks. The tracked modes run below as many frames
// as an application's, which the stacks are taken of.
void RunAllocationRound(winetest::DebugOutputCapture& capture, double minSeconds, Timings* timings,
                        std::vector<std::string>* problems) {
    const std::string directPath = BesideProgram(kDirectHeapDll);
    HMODULE directHeap = LoadLibraryA(directPath.c_str());
    if (directHeap == nullptr) {
        problems->push_back("LoadLibrary(" + directPath + ") failed: error " +
                            std::to_string(GetLastError()));
        return;
    }
    const AllocatorEntry direct = DirectHeapEntry(directHeap, "benchDirect");
    const AllocatorEntry mallocCall = DirectHeapEntry(directHeap, "benchMalloc");
    ModuleInMode module(capture);
    std::string problem;
    if (!SetTrackingSwitch(0, &problem) || !module.Load(BesideProgram(kTestBuildDll), 0, &problem)) {
        problems->push_back(std::string(kModeLabels[0]) + ": " + problem);
        module.Unload(nullptr);
    } else {
        for (size_t size : kBlockSizes) {
            TimeWorkload(WorkloadName("direct", size, 1), direct, size, minSeconds, timings, problems);
            TimeWorkload(WorkloadName(kModeNames[0], size, 1), module.allocator(), size, minSeconds, timings,
                         problems);
            TimeWorkload(WorkloadName("malloc-call", size, 1), mallocCall, size, minSeconds, timings,
                         problems);
        }
        if (!module.Unload(&problem)) {
            problems->push_back(std::string(kModeLabels[0]) + ": " + problem);
        }
    }
    RunBelowFrames(kWorkloadCallerFrames, [&]() {
        for (int mode = 1; mode <= kHighestTrackingMode; ++mode) {
            TimeModuleInMode(module, mode, 0, minSeconds, timings, problems);
            if (std::find(std::begin(kStackModes), std::end(kStackModes), mode) == std::end(kStackModes)) {
                continue;
            }
            for (uint32_t depth : kStackDepths) {
                TimeModuleInMode(module, mode, depth, minSeconds, timings, problems);
            }
        }
    });
    FreeLibrary(directHeap);
}

std::vector<Comparison> AllocationComparisons() {
    std::vector<Comparison> comparisons;
    AppendModeComparisons(&comparisons, 0, 0);
    for (size_t size : kBlockSizes) {
        comparisons.push_back(
            {"mode 2 (page-guarded) / mode 3 (process heap, guarded), " + std::to_string(size) + " B",
             WorkloadName("mode2", size, 1), WorkloadName("mode3", size, 1), 0});
    }
    return comparisons;
}

} // namespace vracoins_bench
