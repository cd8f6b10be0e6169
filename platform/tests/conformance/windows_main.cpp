// Runs the conformance checks on Windows or Wine and prints one line per check, failure or skip, then the
// closing line that the Wine runner counts ("conformance: P passed, F failed, S skipped", in checks). On
// Wine, checks of behaviours that Wine lacks print "wine <file>:<line>: <what Wine lacks>" instead of
// failing. The exit status is the number of failed checks.
#include "windows_world.h"

#include <cstdio>

namespace {

int failuresInCheck = 0;
bool skippedCheck = false;

void PrintFailure(const char* file, int line, const char* message) {
    std::printf("FAIL %s:%d: %s\n", file, line, message);
    ++failuresInCheck;
}

void PrintWineDifference(const char* file, int line, const char* difference) {
    std::printf("wine %s:%d: %s\n", file, line, difference);
}

void PrintSkip(const char* check, const char* reason) {
    std::printf("skip %s: %s\n", check, reason);
    skippedCheck = true;
}

} // namespace

int main() {
    TheConformanceSink().failed = PrintFailure;
    TheConformanceSink().skipped = PrintSkip;
    TheConformanceSink().wineDifference = PrintWineDifference;
    WindowsConformanceWorld world;
    int passedChecks = 0;
    int failedChecks = 0;
    int skippedChecks = 0;
    for (const ConformanceCheck& check : ConformanceChecks()) {
        failuresInCheck = 0;
        skippedCheck = false;
        check.run(world);
        if (failuresInCheck > 0) {
            std::printf("failed %s\n", check.name);
            ++failedChecks;
        } else if (skippedCheck) {
            ++skippedChecks;
        } else {
            std::printf("ok %s\n", check.name);
            ++passedChecks;
        }
    }
    world.Clear();
    std::printf("conformance: %d passed, %d failed, %d skipped\n", passedChecks, failedChecks, skippedChecks);
    std::fflush(stdout);
    return failedChecks;
}
