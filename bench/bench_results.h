// The measured times of one run of the registered benchmarks, by benchmark name, and their exchange
// between the peer allocator's process and the main benchmark program as plain text lines.
#pragma once

#include "bench/timings.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace vracoins_bench {

// Collects what a run of the benchmarks measured (CPU time per iteration rather than wall-clock time: on a
// machine shared with other work, time spent waiting for a processor is not the allocator's), and the
// benchmarks that could not run.
class ResultCollector : public benchmark::BenchmarkReporter {
  public:
    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& runs) override;

    const Timings& timings() const { return timings_; }
    const std::vector<std::string>& errors() const { return errors_; }

  private:
    Timings timings_;
    std::vector<std::string> errors_;
};

// "result <name> <nanoseconds>" and "error <name> <message>" lines, tab-separated.
std::string FormatResultLines(const ResultCollector& results);
// Reads such lines back; other lines are ignored. Errors are appended to `errors`.
Timings ParseResultLines(const std::string& text, std::vector<std::string>* errors);

} // namespace vracoins_bench
