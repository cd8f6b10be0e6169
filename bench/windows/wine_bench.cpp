// The module's benchmarks under Windows (Wine here), in one run: the pass-through hooks against the
// MinGW run-time's malloc and free called the same way, each tracking mode against the pass-through hooks
// on the system's own heap, malloc and page calls, modes 1 and 3 with call stacks against the same mode
// without, the page-guarded mode against the guarded mode on the process heap, and the whole sample
// installation in each mode against tracking off. Everything is measured in rounds; each ratio is taken
// within a round and reported as the median and spread over the rounds, in the form of the host's tables
// (scripts/bench.sh runs both). Times are wall-clock (QueryPerformanceCounter).
//
// Options:
//   --rounds=N           rounds of every benchmark (default 7)
//   --min-time=SECONDS   minimum time of each allocation benchmark per round (default 0.1)
//   --part=allocation|installation   only that part (default both)
#include "bench/ratio_table.h"
#include "bench/windows/allocation_runs.h"
#include "bench/windows/installation_runs.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace vracoins_bench;

namespace {

struct Options {
    int rounds = 7;
    double minSeconds = 0.1;
    bool allocation = true;
    bool installation = true;
};

bool ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--rounds=", 0) == 0) {
            options->rounds = std::max(1, std::atoi(argument.c_str() + 9));
        } else if (argument.rfind("--min-time=", 0) == 0) {
            options->minSeconds = std::atof(argument.c_str() + 11);
        } else if (argument == "--part=allocation" || argument == "--part=installation") {
            options->allocation = argument == "--part=allocation";
            options->installation = !options->allocation;
        } else {
            std::fprintf(stderr, "vracoins_wine_bench: unknown option %s\n", argument.c_str());
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        return 2;
    }
    // The module's reports at its unloads are caught here, as a debugger would see them.
    winetest::DebugOutputCapture capture;
    InstallationRuns installations(capture);
    std::vector<std::string> problems;
    if (options.installation) {
        std::string problem;
        if (!installations.Prepare(&problem)) {
            problems.push_back("installation: " + problem);
            options.installation = false;
        }
    }

    std::vector<Timings> rounds;
    for (int round = 1; round <= options.rounds; ++round) {
        std::fprintf(stderr, "vracoins_wine_bench: round %d of %d\n", round, options.rounds);
        Timings timings;
        if (options.allocation) {
            RunAllocationRound(capture, options.minSeconds, &timings, &problems);
        }
        if (options.installation) {
            installations.RunRound(&timings, &problems);
        }
        rounds.push_back(timings);
    }

    std::vector<Comparison> comparisons;
    if (options.allocation) {
        comparisons = AllocationComparisons();
        std::printf(
            "\nRatios of wall-clock time per operation under Wine, %d rounds (median of the per-round "
            "ratios; measured and reference: median times per block)\n\n",
            options.rounds);
        PrintRatioTable(stdout, comparisons, rounds);
    }
    if (options.installation) {
        const std::vector<Comparison> installation = InstallationComparisons();
        std::printf("\nRatios of wall-clock time of the whole sample installation under Wine (the module "
                    "loaded, the pre pass through SetupAPI with the class installer, the post pass, the "
                    "unload with the final report), %d rounds\n\n",
                    options.rounds);
        PrintRatioTable(stdout, installation, rounds);
        std::printf("\nThe tracker counted %ld allocations of the module in one installation (its report at "
                    "unload)\n",
                    installations.AllocationsPerInstallation());
        comparisons.insert(comparisons.end(), installation.begin(), installation.end());
    }
    std::printf("\n");
    for (const std::string& problem : problems) {
        std::printf("problem: %s\n", problem.c_str());
    }
    std::printf("bench: wine: %zu comparisons, %zu problems\n", comparisons.size(), problems.size());
    return problems.empty() ? 0 : 1;
}
