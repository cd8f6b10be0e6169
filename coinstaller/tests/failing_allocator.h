// A replacement of the global operator new and delete for the co-installer's test executable, which
// answers a failed allocation with null, as the module's own allocation hooks do, and fails on demand.
// Only allocations made outside the simulated platform count: those are the co-installer's.
#pragma once

#include <cstddef>

namespace failing_allocator {

// Starts counting the co-installer's allocations from 0; with `allowed` set, every one after the first
// `allowed` fails.
void Start();
void StartFailingAfter(size_t allowed);
// Only the one allocation that follows the first `allowed` fails; later ones succeed again.
void StartFailingOnlyAfter(size_t allowed);
// Stops counting and failing; returns how many allocations were counted.
size_t Stop();
// How many counted allocations failed since the last start.
size_t FailedCount();

} // namespace failing_allocator
