// The allocation benchmarks under Windows: the allocation workload (bench/allocation_workload.h) through
// the hookless operators and malloc of a DLL of their own, and through the module's test build in each
// tracking mode, and in modes 1 and 3 with call stacks, loaded afresh for each mode and depth and unloaded
// after it. And the comparisons made of them.
#pragma once

#include "bench/ratio_table.h"
#include "bench/timings.h"
#include "tests/wine/support/debug_output_capture.h"

#include <string>
#include <vector>

namespace vracoins_bench {

// One round of every allocation benchmark, each run for at least `minSeconds`. Adds the times to
// `timings` and what could not be measured to `problems`.
void RunAllocationRound(winetest::DebugOutputCapture& capture, double minSeconds, Timings* timings,
                        std::vector<std::string>* problems);

// Pass-through hooks against the hookless operators and against malloc called by the entry, each mode
// against pass-through, modes 1 and 3 with call stacks against the same mode without, and mode 2 against
// mode 3, for every size.
std::vector<Comparison> AllocationComparisons();

} // namespace vracoins_bench
