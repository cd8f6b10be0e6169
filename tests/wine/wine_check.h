// A small check framework for the Windows test programs, in the manner of Wine's own conformance tests:
// a failed check prints where it is and what it found ("got %#lx, error %lu"), a behaviour that the
// Windows underneath does not have is reported as skipped with the reason, and the program closes with
// one line "<program>: N passed, N failed, N skipped" and a non-zero exit code when any check failed.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdio>

namespace winecheck {

struct Tally {
    unsigned passed;
    unsigned failed;
    unsigned skipped;
    const char* area;
};

inline Tally& tally() {
    static Tally counts = {0, 0, 0, "(none)"};
    return counts;
}

// Names the behaviour area that the following checks belong to; failures are printed under it.
inline void beginArea(const char* name) {
    tally().area = name;
}

// One line "<file>:<line>: [<area>] <outcome>: <message>", flushed at once so that it survives a crash.
inline void printOutcome(const char* file, int line, const char* outcome, const char* format, va_list args) {
    std::fprintf(stdout, "%s:%d: [%s] %s: ", file, line, tally().area, outcome);
    std::vfprintf(stdout, format, args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

inline bool check(bool holds, const char* file, int line, const char* format, ...) {
    if (holds) {
        ++tally().passed;
        return true;
    }
    ++tally().failed;
    va_list args;
    va_start(args, format);
    printOutcome(file, line, "check failed", format, args);
    va_end(args);
    return false;
}

inline void skip(const char* file, int line, const char* format, ...) {
    ++tally().skipped;
    va_list args;
    va_start(args, format);
    printOutcome(file, line, "skipped", format, args);
    va_end(args);
}

// Prints the closing line and gives the program's exit code: 0 only when no check failed and at least
// one ran, so that a program that silently checks nothing does not pass.
inline int finish(const char* program) {
    const Tally& counts = tally();
    std::fprintf(stdout, "%s: %u passed, %u failed, %u skipped\n", program, counts.passed, counts.failed,
                 counts.skipped);
    std::fflush(stdout);
    if (counts.failed != 0) {
        return 1;
    }
    return counts.passed == 0 ? 2 : 0;
}

} // namespace winecheck

// CHECK(condition, "got %#lx, error %lu", value, GetLastError()): counts the check and, when the condition
// does not hold, prints the message with the file and line. Evaluates to the condition.
#define CHECK(condition, ...) winecheck::check((condition), __FILE__, __LINE__, __VA_ARGS__)

// SKIP("reason", ...): records that a check could not run here, and why.
#define SKIP(...) winecheck::skip(__FILE__, __LINE__, __VA_ARGS__)

#define CHECK_AREA(name) winecheck::beginArea(name)
