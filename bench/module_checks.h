// The checks that every benchmark program makes of the module it measures, on the host and under Windows:
// the tracking mode in force is the mode set, and the final report at the module's unload names no leak
// (every benchmark releases its blocks).
#pragma once

#include <string>

namespace vracoins_bench {

// True when `inForce` is `set`; otherwise false, with both in `problem`.
inline bool ModeInForceIsModeSet(int inForce, int set, std::string* problem) {
    if (inForce == set) {
        return true;
    }
    *problem = "tracking mode " + std::to_string(inForce) + " in force, " + std::to_string(set) + " set";
    return false;
}

// True unless the report names a leak; then false, with the report in `problem`.
inline bool ReportNamesNoLeak(const std::string& report, std::string* problem) {
    if (report.find("Memory was leaked") == std::string::npos) {
        return true;
    }
    *problem = "the module reported a leak at its unload:\n" + report;
    return false;
}

} // namespace vracoins_bench
