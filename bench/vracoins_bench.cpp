// The module's benchmarks in one run: the pass-through hooks against the run-time heap called directly,
// each tracking mode against the pass-through hooks, modes 1 and 3 with call stacks against the same mode
// without, the page-guarded mode against Electric Fence on the same workload (in a process of its own),
// the post pass's rename against the number of copies that already exist, and the memory that a block
// costs in each mode. Everything is measured in rounds; each ratio is taken within a round and reported as
// the median and spread over the rounds.
//
// Options (before benchmark's own --benchmark_* options, which are passed on):
//   --rounds=N           rounds of every benchmark (default 7)
//   --min-time=SECONDS   benchmark's minimum time per benchmark and round (default 0.1)
//   --peer=PATH          the page-guard allocator to preload (default libefence.so.0)
#include "bench/allocation_comparisons.h"
#include "bench/benchmark_workload.h"
#include "bench/bench_results.h"
#include "bench/caller_frames.h"
#include "bench/memory_overhead.h"
#include "bench/module_under_bench.h"
#include "bench/peer_runs.h"
#include "bench/ratio_table.h"
#include "bench/rename_benchmark.h"
#include "bench/tracking_modes.h"
#include "winsim/control/all.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

using namespace vracoins_bench;

namespace {

struct Options {
    int rounds = 7;
    std::string minTime = "0.1";
    std::string peerLibrary = "libefence.so.0";
};

// Takes this program's own options out of argv, leaving benchmark's.
Options TakeOptions(int* argc, char** argv) {
    Options options;
    int kept = 1;
    for (int i = 1; i < *argc; ++i) {
        std::string argument = argv[i];
        if (argument.rfind("--rounds=", 0) == 0) {
            options.rounds = std::max(1, std::atoi(argument.c_str() + 9));
        } else if (argument.rfind("--min-time=", 0) == 0) {
            options.minTime = argument.substr(11);
        } else if (argument.rfind("--peer=", 0) == 0) {
            options.peerLibrary = argument.substr(7);
        } else {
            argv[kept++] = argv[i];
        }
    }
    *argc = kept;
    argv[kept] = nullptr;
    return options;
}

void RunModuleWorkload(benchmark::State& state, int mode, uint32_t stackDepth, size_t size, size_t batch) {
    auto run = [&]() {
        std::string problem;
        if (!BenchModule().Use(ModuleBuild::Test, mode, stackDepth, &problem)) {
            state.SkipWithError(problem.c_str());
            return;
        }
        RunAllocationWorkload(state, BenchModule().allocator(), size, batch);
    };
    if (mode == 0) {
        run();
    } else {
        // Tracked blocks are made below as many frames as an application's, which the stacks are taken of.
        RunBelowFrames(kWorkloadCallerFrames, run);
    }
}

bool IsStackMode(int mode) {
    return std::find(std::begin(kStackModes), std::end(kStackModes), mode) != std::end(kStackModes);
}

// Benchmarks run in the order of their registration. The pass-through hooks of each size run right
// between the two baselines that they are compared with, and each size of a mode measured with call
// stacks runs right before the same size with them, so that both sides of those ratios meet the same load
// of a shared machine.
void RegisterBenchmarks(const AllocatorEntry& direct, const AllocatorEntry& mallocCall) {
    for (size_t size : kBlockSizes) {
        benchmark::RegisterBenchmark(WorkloadName("direct", size, 1).c_str(), RunAllocationWorkload, direct,
                                     size, size_t{1});
        benchmark::RegisterBenchmark(WorkloadName(kModeNames[0], size, 1).c_str(), RunModuleWorkload, 0,
                                     uint32_t{0}, size, size_t{1});
        benchmark::RegisterBenchmark(WorkloadName("malloc-call", size, 1).c_str(), RunAllocationWorkload,
                                     mallocCall, size, size_t{1});
    }
    for (int mode = 1; mode <= 4; ++mode) {
        for (size_t batch : {size_t{1}, kBatchBlocks}) {
            if (batch > 1 && mode != 2) {
                continue;
            }
            for (size_t size : kBlockSizes) {
                benchmark::RegisterBenchmark(WorkloadName(kModeNames[mode], size, batch).c_str(),
                                             RunModuleWorkload, mode, uint32_t{0}, size, batch);
                if (batch > 1 || !IsStackMode(mode)) {
                    continue;
                }
                for (uint32_t depth : kStackDepths) {
                    benchmark::RegisterBenchmark(WorkloadName(StackModeName(mode, depth), size, 1).c_str(),
                                                 RunModuleWorkload, mode, depth, size, size_t{1});
                }
            }
        }
    }
    for (size_t existing : kExistingCopies) {
        benchmark::RegisterBenchmark(RenameName(existing).c_str(), RunRenameWorkload, existing)
            ->Unit(benchmark::kMicrosecond);
    }
}

std::vector<PeerConfiguration> PeerConfigurations(const Options& options) {
    // Electric Fence aligned as the module aligns its user blocks (16 bytes), its freed memory reused (the
    // module gives its pages back), no fill (the module fills only its guard zones), with its no-access
    // page above the block (overruns) or below it (underruns); the page-guarded mode has one on each side.
    std::vector<std::string> common = {"LD_PRELOAD=" + options.peerLibrary,
                                       "EF_ALIGNMENT=16",
                                       "EF_PROTECT_FREE=0",
                                       "EF_FILL=-1",
                                       "EF_ALLOW_MALLOC_0=1",
                                       "EF_DISABLE_BANNER=1"};
    PeerConfiguration above{"efence-above", common, "EF_PROTECT_BELOW"};
    above.environment.push_back("EF_PROTECT_BELOW=0");
    PeerConfiguration below{"efence-below", common, "EF_PROTECT_BELOW"};
    below.environment.push_back("EF_PROTECT_BELOW=1");
    PeerConfiguration plain{"peer-process-heap", {"LD_PRELOAD="}, ""};
    return {plain, above, below};
}

std::vector<Comparison> Comparisons() {
    std::vector<Comparison> comparisons;
    AppendModeComparisons(&comparisons, 1.05, kTargetedStackRatio);
    for (size_t batch : {size_t{1}, kBatchBlocks}) {
        for (size_t size : kBlockSizes) {
            std::string what =
                std::to_string(size) + " B" +
                (batch > 1 ? ", " + std::to_string(batch) + " live at once" : ", one at a time");
            double blocks = static_cast<double>(batch);
            comparisons.push_back({"mode 2 / Electric Fence (page above), " + what,
                                   WorkloadName("mode2", size, batch),
                                   WorkloadName("efence-above", size, batch), 1.00, blocks});
            comparisons.push_back({"mode 2 / Electric Fence (page below), " + what,
                                   WorkloadName("mode2", size, batch),
                                   WorkloadName("efence-below", size, batch), 1.00, blocks});
        }
    }
    for (size_t size : kBlockSizes) {
        comparisons.push_back(
            {"control: workload process, plain heap / direct in this process, " + std::to_string(size) + " B",
             WorkloadName("peer-process-heap", size, 1), WorkloadName("direct", size, 1), 0});
    }
    for (size_t existing : kExistingCopies) {
        comparisons.push_back({"rename, " + std::to_string(existing) + " existing / 1 existing",
                               RenameName(existing), RenameName(1), 0});
    }
    return comparisons;
}

// A row of the memory table: a mode, with call stacks of `stackDepth` frames or none.
struct MemoryRow {
    int mode;
    uint32_t stackDepth;
};

// Each mode, the modes measured with call stacks followed by their rows with stacks.
std::vector<MemoryRow> MemoryRows() {
    std::vector<MemoryRow> rows;
    for (int mode = 0; mode <= kHighestTrackingMode; ++mode) {
        rows.push_back({mode, 0});
        if (IsStackMode(mode)) {
            for (uint32_t depth : kStackDepths) {
                rows.push_back({mode, depth});
            }
        }
    }
    return rows;
}

void PrintMemoryTable() {
    const size_t count = 2048;
    uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    std::printf("\nMemory per block (%zu blocks live at once): heap in use, pages mapped outside the heap "
                "and resident "
                "bytes per block; the overhead columns count what lies beyond the requested size\n\n",
                count);
    std::printf(
        "| Mode | Size | Heap in use | Pages mapped | Resident | Measured overhead | Layout figure |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|\n");
    for (const MemoryRow& row : MemoryRows()) {
        const std::string label = StackModeLabel(row.mode, row.stackDepth);
        // Below as many frames as the timed workload, so that the stacks kept are as deep as set.
        RunBelowFrames(kWorkloadCallerFrames, [&]() {
            std::string problem;
            if (!BenchModule().Use(ModuleBuild::Test, row.mode, row.stackDepth, &problem)) {
                std::printf("| %s | not measured: %s |\n", label.c_str(), problem.c_str());
                return;
            }
            for (size_t size : kBlockSizes) {
                BlockFootprint footprint;
                bool complete = MeasureBlockFootprint(BenchModule().allocator(), size, count, &footprint);
                double overhead = footprint.heapBytes + footprint.pageBytes - static_cast<double>(size);
                uint64_t layout = LayoutOverhead(row.mode, size, page) + CallStackOverhead(row.stackDepth);
                std::printf("| %s | %zu | %.0f | %.0f | %.0f | %.0f%s | %llu |\n", label.c_str(), size,
                            footprint.heapBytes, footprint.pageBytes, footprint.residentBytes, overhead,
                            complete ? "" : " (allocation failed)", static_cast<unsigned long long>(layout));
            }
        });
    }
    std::string problem;
    if (!BenchModule().Unload(&problem)) {
        std::printf("\n%s\n", problem.c_str());
    }
}

} // namespace

int main(int argc, char** argv) {
    Options options = TakeOptions(&argc, argv);
    std::vector<std::string> benchmarkArguments = {"--benchmark_min_time=" + options.minTime};
    for (int i = 1; i < argc; ++i) {
        benchmarkArguments.push_back(argv[i]);
    }
    std::vector<std::string> ownArguments = {argv[0]};
    ownArguments.insert(ownArguments.end(), benchmarkArguments.begin(), benchmarkArguments.end());
    std::vector<char*> initialiseArgv;
    for (std::string& argument : ownArguments) {
        initialiseArgv.push_back(&argument[0]);
    }
    initialiseArgv.push_back(nullptr);
    int initialiseArgc = static_cast<int>(ownArguments.size());
    benchmark::Initialize(&initialiseArgc, initialiseArgv.data());
    if (benchmark::ReportUnrecognizedArguments(initialiseArgc, initialiseArgv.data())) {
        return 2;
    }

    void* directHeap = dlopen(VRACOINS_BENCH_DIRECT_HEAP_PATH, RTLD_NOW | RTLD_LOCAL);
    if (directHeap == nullptr) {
        std::fprintf(stderr, "vracoins_bench: %s\n", dlerror());
        return 1;
    }
    AllocatorEntry direct;
    direct.allocate = reinterpret_cast<AllocateEntry>(dlsym(directHeap, "benchDirect_allocate"));
    direct.release = reinterpret_cast<ReleaseEntry>(dlsym(directHeap, "benchDirect_release"));
    AllocatorEntry mallocCall;
    mallocCall.allocate = reinterpret_cast<AllocateEntry>(dlsym(directHeap, "benchMalloc_allocate"));
    mallocCall.release = reinterpret_cast<ReleaseEntry>(dlsym(directHeap, "benchMalloc_release"));
    winsim::Reset();
    RegisterBenchmarks(direct, mallocCall);

    std::vector<std::string> problems;
    std::vector<Timings> rounds;
    std::vector<PeerConfiguration> peers = PeerConfigurations(options);
    for (int round = 1; round <= options.rounds; ++round) {
        std::fprintf(stderr, "vracoins_bench: round %d of %d\n", round, options.rounds);
        ResultCollector results;
        benchmark::RunSpecifiedBenchmarks(&results);
        std::string problem;
        if (!BenchModule().Unload(&problem)) {
            problems.push_back(problem);
        }
        problems.insert(problems.end(), results.errors().begin(), results.errors().end());
        Timings timings = results.timings();
        for (const PeerConfiguration& peer : peers) {
            if (!RunPeer(peer, benchmarkArguments, &timings, &problem)) {
                problems.push_back(problem);
            }
        }
        rounds.push_back(timings);
    }

    std::printf("\nRatios of CPU time per operation, %d rounds (median of the per-round ratios; measured and "
                "reference: median times per block, or per post pass)\n\n",
                options.rounds);
    int missed = PrintRatioTable(stdout, Comparisons(), rounds);
    PrintMemoryTable();
    std::printf("\n");
    for (const std::string& problem : problems) {
        std::printf("problem: %s\n", problem.c_str());
    }
    benchmark::Shutdown();
    std::printf("bench: %zu comparisons, %d targets missed, %zu problems\n", Comparisons().size(), missed,
                problems.size());
    return problems.empty() ? 0 : 1;
}
