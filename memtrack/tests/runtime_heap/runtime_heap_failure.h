// Control of the run-time heap as the tracker's objects see it in this test program: their calls of
// calloc are wrapped at link time (-Wl,--wrap=calloc), counted by size, and refused on demand, without
// the memory of a refused request ever being asked for.
#pragma once

#include <cstddef>

namespace runtime_heap {

// Refuses the next `times` requests of exactly `bytes` bytes (count times size); 0 times: every one.
void failRequestsOf(size_t bytes, unsigned times = 1);
// Refuses every request of `bytes` bytes or more.
void failRequestsFrom(size_t bytes);
// Ends all refusals and forgets the requests seen.
void reset();
// Requests of exactly `bytes` bytes since the last reset, refused ones included.
unsigned requestsOf(size_t bytes);

} // namespace runtime_heap
