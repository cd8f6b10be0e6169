#include "bench/memory_overhead.h"

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace vracoins_bench {

namespace {

struct ProcessMemory {
    double heapInUse = 0;    // bytes in chunks in use, mmap'd chunks included
    double heapMapped = 0;   // bytes the run-time heap holds from the system
    double addressSpace = 0; // bytes
    double resident = 0;     // bytes
};

ProcessMemory Snapshot() {
    ProcessMemory memory;
    struct mallinfo2 heap = mallinfo2();
    memory.heapInUse = static_cast<double>(heap.uordblks + heap.hblkhd);
    memory.heapMapped = static_cast<double>(heap.arena + heap.hblkhd);
    // Read without stdio, whose FILE would come from the heap being measured.
    unsigned long long sizePages = 0;
    unsigned long long residentPages = 0;
    int statm = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (statm >= 0) {
        char text[128] = {};
        ssize_t got = read(statm, text, sizeof text - 1);
        if (got <= 0 || std::sscanf(text, "%llu %llu", &sizePages, &residentPages) != 2) {
            sizePages = residentPages = 0;
        }
        close(statm);
    }
    double page = static_cast<double>(sysconf(_SC_PAGESIZE));
    memory.addressSpace = static_cast<double>(sizePages) * page;
    memory.resident = static_cast<double>(residentPages) * page;
    return memory;
}

uint64_t RoundUp16(uint64_t value) {
    return (value + 15) / 16 * 16;
}

} // namespace

bool MeasureBlockFootprint(const AllocatorEntry& entry, size_t size, size_t count,
                           BlockFootprint* footprint) {
    // A first set of blocks takes what the heaps had cached from earlier frees (which the heap statistics
    // already count as in use); the second set, which is measured, comes from fresh memory.
    std::vector<void*> blocks(2 * count, nullptr);
    bool complete = true;
    for (size_t i = 0; i < count && complete; ++i) {
        blocks[i] = entry.allocate(size, 0);
        complete = blocks[i] != nullptr;
    }
    ProcessMemory before = Snapshot();
    for (size_t i = count; i < 2 * count && complete; ++i) {
        blocks[i] = entry.allocate(size, 0);
        complete = blocks[i] != nullptr;
    }
    ProcessMemory after = Snapshot();
    for (void* block : blocks) {
        if (block != nullptr) {
            entry.release(block, 0);
        }
    }
    double blocksMade = static_cast<double>(count);
    footprint->heapBytes = (after.heapInUse - before.heapInUse) / blocksMade;
    double heapGrowth = after.heapMapped - before.heapMapped;
    footprint->pageBytes = (after.addressSpace - before.addressSpace - heapGrowth) / blocksMade;
    footprint->residentBytes = (after.resident - before.resident) / blocksMade;
    return complete;
}

uint64_t LayoutOverhead(int mode, uint64_t size, uint64_t pageSize) {
    const uint64_t header = 504;
    const uint64_t guard = 384;
    switch (mode) {
    case 1:
        return RoundUp16(size + header) + 16 - size;
    case 2: {
        uint64_t need = RoundUp16(size + header + guard) + 16;
        uint64_t region = (need / pageSize + 1) * pageSize;
        return region + 2 * pageSize - size;
    }
    case 3:
    case 4:
        return RoundUp16(size + header + guard) + 16 - size;
    default:
        return 0;
    }
}

uint64_t CallStackOverhead(uint32_t depth) {
    if (depth == 0) {
        return 0;
    }
    const uint64_t stackBytes = 8 + 8 * uint64_t{depth};
    const uint64_t chunk = RoundUp16(stackBytes + 8);
    return chunk < 32 ? 32 : chunk;
}

} // namespace vracoins_bench
