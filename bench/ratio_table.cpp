#include "bench/ratio_table.h"

#include <algorithm>

namespace vracoins_bench {

namespace {

// Nanoseconds, or microseconds and milliseconds for longer operations.
std::string FormatDuration(double nanoseconds) {
    char text[32];
    if (nanoseconds >= 1e6) {
        std::snprintf(text, sizeof text, "%.2f ms", nanoseconds / 1e6);
    } else if (nanoseconds >= 1e4) {
        std::snprintf(text, sizeof text, "%.1f us", nanoseconds / 1e3);
    } else {
        std::snprintf(text, sizeof text, "%.1f ns", nanoseconds);
    }
    return text;
}

} // namespace

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

ComparisonSummary Summarise(const Comparison& comparison, const std::vector<Timings>& rounds) {
    ComparisonSummary summary;
    std::vector<double> ratios;
    std::vector<double> measured;
    std::vector<double> reference;
    for (const Timings& round : rounds) {
        auto numerator = round.find(comparison.measured);
        auto denominator = round.find(comparison.reference);
        if (numerator == round.end() || denominator == round.end() || denominator->second <= 0) {
            return summary;
        }
        ratios.push_back(numerator->second / denominator->second);
        measured.push_back(numerator->second);
        reference.push_back(denominator->second);
    }
    if (ratios.empty()) {
        return summary;
    }
    summary.complete = true;
    summary.medianRatio = Median(ratios);
    summary.lowestRatio = *std::min_element(ratios.begin(), ratios.end());
    summary.highestRatio = *std::max_element(ratios.begin(), ratios.end());
    summary.measuredNanoseconds = Median(measured) / comparison.blocksPerIteration;
    summary.referenceNanoseconds = Median(reference) / comparison.blocksPerIteration;
    return summary;
}

int PrintRatioTable(FILE* out, const std::vector<Comparison>& comparisons,
                    const std::vector<Timings>& rounds) {
    int missed = 0;
    std::fprintf(out, "| Comparison | Median ratio | Spread (min - max) | Measured | Reference | Target |\n");
    std::fprintf(out, "|---|---:|---:|---:|---:|---|\n");
    for (const Comparison& comparison : comparisons) {
        ComparisonSummary summary = Summarise(comparison, rounds);
        if (!summary.complete) {
            std::fprintf(out, "| %s | not measured | | | | |\n", comparison.label.c_str());
            if (comparison.target > 0) {
                ++missed;
            }
            continue;
        }
        std::string target = "";
        if (comparison.target > 0) {
            bool met = summary.medianRatio <= comparison.target;
            missed += met ? 0 : 1;
            char text[48];
            std::snprintf(text, sizeof text, "<= %.2f: %s", comparison.target, met ? "met" : "MISSED");
            target = text;
        }
        std::fprintf(out, "| %s | %.3f | %.3f - %.3f | %s | %s | %s |\n", comparison.label.c_str(),
                     summary.medianRatio, summary.lowestRatio, summary.highestRatio,
                     FormatDuration(summary.measuredNanoseconds).c_str(),
                     FormatDuration(summary.referenceNanoseconds).c_str(), target.c_str());
    }
    return missed;
}

} // namespace vracoins_bench
