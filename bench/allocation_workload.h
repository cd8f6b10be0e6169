// The allocation workload that every allocator of the comparison runs: blocks of one size are allocated
// through an entry point in a shared library, written at their first and last byte, and released, either
// one at a time or in batches that stay live together. The module's hooks, the direct run-time heap and
// the peer page-guard allocator all run this same code, on the host under Google Benchmark
// (benchmark_workload.h) and under Wine in the Windows benchmark program.
#pragma once

#include <cstddef>
#include <string>

namespace vracoins_bench {

typedef void* (*AllocateEntry)(size_t size, int kind);
typedef void (*ReleaseEntry)(void* pointer, int kind);

// A pair of entry points; kind 0 is the scalar form (new / delete).
struct AllocatorEntry {
    AllocateEntry allocate = nullptr;
    ReleaseEntry release = nullptr;
};

// The sizes measured, and how many blocks stay live together in the batched workload.
constexpr size_t kBlockSizes[] = {16, 256, 4096};
constexpr size_t kBatchBlocks = 64;

// The benchmark's name: "<allocator>/size:<bytes>" for single blocks, with "/batch:<blocks>" for batches.
inline std::string WorkloadName(const std::string& allocator, size_t size, size_t batch) {
    std::string name = allocator + "/size:" + std::to_string(size);
    return batch > 1 ? name + "/batch:" + std::to_string(batch) : name;
}

// Keeps the compiler from dropping the writes to a block or the block itself.
inline void KeepBlock(unsigned char* block) {
    asm volatile("" : : "r"(block) : "memory");
}

// One iteration: allocates, touches and releases `batch` blocks of `size` bytes (batch from 1 to
// kBatchBlocks), released in the order of their allocation. False, with the blocks made so far released,
// when an allocation fails.
inline bool RunWorkloadIteration(const AllocatorEntry& entry, size_t size, size_t batch) {
    unsigned char* blocks[kBatchBlocks];
    for (size_t i = 0; i < batch; ++i) {
        blocks[i] = static_cast<unsigned char*>(entry.allocate(size, 0));
        if (blocks[i] == nullptr) {
            for (size_t made = 0; made < i; ++made) {
                entry.release(blocks[made], 0);
            }
            return false;
        }
        blocks[i][0] = 1;
        blocks[i][size - 1] = 1;
        KeepBlock(blocks[i]);
    }
    for (size_t i = 0; i < batch; ++i) {
        entry.release(blocks[i], 0);
    }
    return true;
}

} // namespace vracoins_bench
