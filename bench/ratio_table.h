// The comparisons that the benchmark program reports: each a ratio of two benchmarks' times, computed
// round by round (so that both sides of a ratio were measured close together in time on a shared
// machine), then summarised by the median and the spread over the rounds.
#pragma once

#include "bench/timings.h"

#include <cstdio>
#include <string>
#include <vector>

namespace vracoins_bench {

struct Comparison {
    std::string label;
    std::string measured;          // benchmark name of the numerator
    std::string reference;         // benchmark name of the denominator
    double target = 0;             // the ratio must not exceed this; 0: no target
    double blocksPerIteration = 1; // the times shown are per block
};

struct ComparisonSummary {
    bool complete = false; // both sides measured in every round
    double medianRatio = 0;
    double lowestRatio = 0;
    double highestRatio = 0;
    double measuredNanoseconds = 0;  // median over the rounds
    double referenceNanoseconds = 0; // median over the rounds
};

double Median(std::vector<double> values);

ComparisonSummary Summarise(const Comparison& comparison, const std::vector<Timings>& rounds);

// Prints the comparisons as a Markdown table. Returns how many missed their target.
int PrintRatioTable(FILE* out, const std::vector<Comparison>& comparisons,
                    const std::vector<Timings>& rounds);

} // namespace vracoins_bench
