// The allocation workload alone, in a process of its own, so that a page-guard allocator can be preloaded
// under it (LD_PRELOAD) without serving the benchmark program's simulation and module. It prints its
// timings as result lines for the benchmark program, which starts it once per round and configuration.
#include "bench/benchmark_workload.h"
#include "bench/bench_results.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

using namespace vracoins_bench;

namespace {

// "--require-symbol=NAME": the run is refused unless NAME is defined in the process, which shows that the
// library to compare was really preloaded (the dynamic loader only warns when it cannot preload one).
bool RequiredSymbolPresent(int* argc, char** argv) {
    const char* option = "--require-symbol=";
    for (int i = 1; i < *argc; ++i) {
        if (std::strncmp(argv[i], option, std::strlen(option)) != 0) {
            continue;
        }
        const char* symbol = argv[i] + std::strlen(option);
        bool present = dlsym(RTLD_DEFAULT, symbol) != nullptr;
        if (!present) {
            std::fprintf(stderr, "peer_allocator_bench: %s is not defined: the library was not preloaded\n",
                         symbol);
        }
        for (int j = i; j + 1 < *argc; ++j) {
            argv[j] = argv[j + 1];
        }
        --*argc;
        argv[*argc] = nullptr;
        return present;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (!RequiredSymbolPresent(&argc, argv)) {
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    void* library = dlopen(VRACOINS_BENCH_DIRECT_HEAP_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "peer_allocator_bench: cannot load the workload's heap entry points: %s\n",
                     dlerror());
        return 1;
    }
    AllocatorEntry entry;
    entry.allocate = reinterpret_cast<AllocateEntry>(dlsym(library, "benchDirect_allocate"));
    entry.release = reinterpret_cast<ReleaseEntry>(dlsym(library, "benchDirect_release"));
    for (size_t batch : {size_t{1}, kBatchBlocks}) {
        for (size_t size : kBlockSizes) {
            benchmark::RegisterBenchmark(WorkloadName("peer", size, batch).c_str(), RunAllocationWorkload,
                                         entry, size, batch);
        }
    }
    ResultCollector results;
    benchmark::RunSpecifiedBenchmarks(&results);
    benchmark::Shutdown();
    std::fputs(FormatResultLines(results).c_str(), stdout);
    return results.errors().empty() ? 0 : 1;
}
