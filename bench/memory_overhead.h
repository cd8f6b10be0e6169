// The memory that a block costs in each tracking mode, measured on the running process: the run-time
// heap's bytes in use, the pages mapped outside the heap and the resident set, before and after a
// number of blocks are made, divided by that number.
#pragma once

#include "bench/allocation_workload.h"

#include <cstddef>
#include <cstdint>

namespace vracoins_bench {

struct BlockFootprint {
    double heapBytes = 0;     // run-time heap in use (chunks, with the heap's own per-chunk overhead)
    double pageBytes = 0;     // address space mapped outside the run-time heap (page-guarded blocks)
    double residentBytes = 0; // resident set
};

// Per block, over `count` blocks of `size` bytes made through `entry` and live together (after as many
// again, made first). False when an allocation failed.
bool MeasureBlockFootprint(const AllocatorEntry& entry, size_t size, size_t count, BlockFootprint* footprint);

// What the tracked block's layout takes beyond the user's bytes in `mode` (0: nothing, the request goes
// straight to the heap): the 504-byte header and the rounding to 16 plus 16, with the 384-byte tail guard
// in the guarded modes, and in the page-guarded mode the whole read-write region and its two no-access
// pages.
uint64_t LayoutOverhead(int mode, uint64_t size, uint64_t pageSize);

// What the call stack of `depth` frames (0: none) that the tracker keeps of a live block takes from the
// run-time heap: 8 bytes of frame count and hash and 8 per frame, in a chunk of malloc's (8 bytes of size
// field, rounded up to 16, at least 32).
uint64_t CallStackOverhead(uint32_t depth);

} // namespace vracoins_bench
