// Runs the checks of one world type on Windows or Wine and prints one line per check, failure or skip,
// then the closing line that the Wine runner counts ("<program>: P passed, F failed, S skipped", in
// checks). On Wine, checks of behaviours that Wine lacks print "wine <file>:<line>: <what Wine lacks>"
// instead of failing. Built only for Windows.
#pragma once

#include "two_sided_check.h"

#include <cstdio>

namespace two_sided {

struct RunState {
    int failuresInCheck = 0;
    bool skippedCheck = false;
};

inline RunState& TheRunState() {
    static RunState state;
    return state;
}

inline void PrintFailure(const char* file, int line, const char* message) {
    std::printf("FAIL %s:%d: %s\n", file, line, message);
    std::fflush(stdout);
    ++TheRunState().failuresInCheck;
}

inline void PrintWineDifference(const char* file, int line, const char* difference) {
    std::printf("wine %s:%d: %s\n", file, line, difference);
}

inline void PrintSkip(const char* check, const char* reason) {
    std::printf("skip %s: %s\n", check, reason);
    TheRunState().skippedCheck = true;
}

// Runs every check registered for World (name it: `world` is usually of a type derived from it), each in a
// world cleared before it; the exit status is the number of failed checks.
template <class World> int RunChecks(World& world, const char* program) {
    TheCheckSink().failed = PrintFailure;
    TheCheckSink().skipped = PrintSkip;
    TheCheckSink().wineDifference = PrintWineDifference;
    int passedChecks = 0;
    int failedChecks = 0;
    int skippedChecks = 0;
    for (const NamedCheck<World>& check : ChecksOf<World>()) {
        TheRunState() = RunState{};
        world.Clear();
        check.run(world);
        if (TheRunState().failuresInCheck > 0) {
            std::printf("failed %s\n", check.name);
            ++failedChecks;
        } else if (TheRunState().skippedCheck) {
            ++skippedChecks;
        } else {
            std::printf("ok %s\n", check.name);
            ++passedChecks;
        }
        std::fflush(stdout);
    }
    world.Clear();
    std::printf("%s: %d passed, %d failed, %d skipped\n", program, passedChecks, failedChecks, skippedChecks);
    std::fflush(stdout);
    return failedChecks;
}

} // namespace two_sided
