// The measured times of one round of benchmarks, by benchmark name: what the ratio tables are computed
// from, on the host (Google Benchmark's runs) and under Wine (the Windows benchmark program's own timing).
#pragma once

#include <map>
#include <string>

namespace vracoins_bench {

// Time of one iteration in nanoseconds, by benchmark name.
typedef std::map<std::string, double> Timings;

} // namespace vracoins_bench
