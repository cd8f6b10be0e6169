#include "bench/bench_results.h"

#include <cstdlib>
#include <sstream>

namespace vracoins_bench {

void ResultCollector::ReportRuns(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
        if (run.run_type != Run::RT_Iteration) {
            continue;
        }
        std::string name = run.benchmark_name();
        if (run.error_occurred) {
            errors_.push_back(name + ": " + run.error_message);
            continue;
        }
        double nanoseconds = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
        timings_[name] = nanoseconds;
    }
}

std::string FormatResultLines(const ResultCollector& results) {
    std::ostringstream lines;
    lines.precision(17);
    for (const auto& timing : results.timings()) {
        lines << "result\t" << timing.first << '\t' << timing.second << '\n';
    }
    for (const std::string& error : results.errors()) {
        lines << "error\t" << error << '\n';
    }
    return lines.str();
}

Timings ParseResultLines(const std::string& text, std::vector<std::string>* errors) {
    Timings timings;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        size_t first = line.find('\t');
        if (first == std::string::npos) {
            continue;
        }
        std::string kind = line.substr(0, first);
        std::string rest = line.substr(first + 1);
        if (kind == "error") {
            errors->push_back(rest);
            continue;
        }
        size_t second = rest.find('\t');
        if (kind != "result" || second == std::string::npos) {
            continue;
        }
        timings[rest.substr(0, second)] = std::strtod(rest.c_str() + second + 1, nullptr);
    }
    return timings;
}

} // namespace vracoins_bench
