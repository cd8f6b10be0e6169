#include "bench/windows/timing_loop.h"

#include <windows.h>

#include <algorithm>

namespace vracoins_bench {

namespace {

double CounterSeconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// A run that reaches this many iterations ends the growing whatever its time.
constexpr uint64_t kMostIterations = 1000000000;

} // namespace

bool TimePerIteration(const IterationRun& run, double minSeconds, double* nanoseconds) {
    uint64_t iterations = 1;
    for (;;) {
        LARGE_INTEGER start;
        LARGE_INTEGER end;
        QueryPerformanceCounter(&start);
        if (!run(iterations)) {
            return false;
        }
        QueryPerformanceCounter(&end);
        const double seconds = CounterSeconds(start, end);
        if (seconds >= minSeconds || iterations >= kMostIterations) {
            *nanoseconds = seconds * 1e9 / static_cast<double>(iterations);
            return true;
        }
        // Aim at 1.4 times the minimum, growing at most tenfold at a time.
        const double growth = seconds <= 0 ? 10 : std::min(10.0, minSeconds * 1.4 / seconds);
        iterations =
            std::max(iterations + 1, static_cast<uint64_t>(static_cast<double>(iterations) * growth));
    }
}

bool TimeOnce(const std::function<bool()>& work, double* nanoseconds) {
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceCounter(&start);
    const bool done = work();
    QueryPerformanceCounter(&end);
    *nanoseconds = CounterSeconds(start, end) * 1e9;
    return done;
}

} // namespace vracoins_bench
