// A fixed number of allocate/release pairs through one allocator, for counting their instructions under
// valgrind's callgrind, whose counts repeat exactly from run to run where timings do not. scripts/bench.sh
// runs it twice per allocator and size with two pair counts; the difference of the two runs' instruction
// totals, divided by the difference of the counts, is what one pair costs, with the program's start, the
// module's load and its first use cancelled out.
//
// Usage: hook_instructions ALLOCATOR SIZE PAIRS
//   ALLOCATOR  pass-through (the module's test build, tracking off), direct (the hookless operators),
//              malloc-call (malloc and free called by the entry itself), or a tracking mode of the test
//              build by its benchmark name, with call stacks or without: mode1, mode3-stack8, ...
//              (tracked pairs run below as many frames as the benchmarks': RunBelowFrames)
#include "bench/allocation_workload.h"
#include "bench/caller_frames.h"
#include "bench/module_under_bench.h"
#include "bench/tracking_modes.h"
#include "winsim/control/all.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace vracoins_bench;

namespace {

// The workload's iterations one after the other, without the benchmark library around them.
__attribute__((noinline)) bool RunPairs(const AllocatorEntry& entry, size_t size, long pairs) {
    for (long i = 0; i < pairs; ++i) {
        if (!RunWorkloadIteration(entry, size, 1)) {
            return false;
        }
    }
    return true;
}

bool DirectLibraryEntry(const std::string& prefix, AllocatorEntry* entry) {
    void* library = dlopen(VRACOINS_BENCH_DIRECT_HEAP_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "hook_instructions: %s\n", dlerror());
        return false;
    }
    entry->allocate = reinterpret_cast<AllocateEntry>(dlsym(library, (prefix + "_allocate").c_str()));
    entry->release = reinterpret_cast<ReleaseEntry>(dlsym(library, (prefix + "_release").c_str()));
    return entry->allocate != nullptr && entry->release != nullptr;
}

// The tracking mode and stack depth that a benchmark name (StackModeName) stands for; false for no
// tracking mode's name.
bool TrackedAllocator(const std::string& name, int* mode, uint32_t* stackDepth) {
    for (int candidate = 1; candidate <= kHighestTrackingMode; ++candidate) {
        for (uint32_t depth = 0; depth <= 32; ++depth) {
            if (name == StackModeName(candidate, depth)) {
                *mode = candidate;
                *stackDepth = depth;
                return true;
            }
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr,
                     "usage: hook_instructions pass-through|direct|malloc-call|mode1|mode1-stack8|... "
                     "SIZE PAIRS\n");
        return 2;
    }
    const std::string allocator = argv[1];
    const size_t size = std::strtoul(argv[2], nullptr, 10);
    const long pairs = std::strtol(argv[3], nullptr, 10);
    if (size == 0 || pairs < 0) {
        std::fprintf(stderr, "hook_instructions: SIZE must be above 0 and PAIRS at least 0\n");
        return 2;
    }
    winsim::Reset();
    AllocatorEntry entry;
    int mode = 0;
    uint32_t stackDepth = 0;
    if (TrackedAllocator(allocator, &mode, &stackDepth)) {
        bool ran = false;
        std::string problem;
        RunBelowFrames(kWorkloadCallerFrames, [&]() {
            if (BenchModule().Use(ModuleBuild::Test, mode, stackDepth, &problem)) {
                ran = RunPairs(BenchModule().allocator(), size, pairs);
                problem = ran ? "" : "an allocation failed";
            }
        });
        if (!ran || !BenchModule().Unload(&problem)) {
            std::fprintf(stderr, "hook_instructions: %s\n", problem.c_str());
            return 1;
        }
        return 0;
    }
    if (allocator == "pass-through") {
        std::string problem;
        if (!BenchModule().Use(ModuleBuild::Test, 0, &problem)) {
            std::fprintf(stderr, "hook_instructions: %s\n", problem.c_str());
            return 1;
        }
        entry = BenchModule().allocator();
    } else if (allocator == "direct" || allocator == "malloc-call") {
        if (!DirectLibraryEntry(allocator == "direct" ? "benchDirect" : "benchMalloc", &entry)) {
            std::fprintf(stderr, "hook_instructions: the hookless library lacks its entry points\n");
            return 1;
        }
    } else {
        std::fprintf(stderr, "hook_instructions: unknown allocator '%s'\n", allocator.c_str());
        return 2;
    }
    if (!RunPairs(entry, size, pairs)) {
        std::fprintf(stderr, "hook_instructions: an allocation failed\n");
        return 1;
    }
    std::string problem;
    if (!BenchModule().Unload(&problem)) {
        std::fprintf(stderr, "hook_instructions: %s\n", problem.c_str());
        return 1;
    }
    return 0;
}
