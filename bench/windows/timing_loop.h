// Timing under Windows without a benchmark library: a run of N iterations is timed with
// QueryPerformanceCounter, and N grows, as Google Benchmark grows it, until one run lasts at least the
// minimum time. The time per iteration is that last run's.
#pragma once

#include <cstdint>
#include <functional>

namespace vracoins_bench {

// Runs `iterations` iterations of the work measured; false when one failed.
typedef std::function<bool(uint64_t iterations)> IterationRun;

// Wall-clock nanoseconds per iteration of `run`, over a run of at least `minSeconds`; false when the run
// failed.
bool TimePerIteration(const IterationRun& run, double minSeconds, double* nanoseconds);

// Wall-clock nanoseconds of one call of `work`; false when it failed.
bool TimeOnce(const std::function<bool()>& work, double* nanoseconds);

} // namespace vracoins_bench
