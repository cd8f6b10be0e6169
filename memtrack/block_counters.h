// Module-wide counters and flags of the block allocators. They are touched outside any lock.
#pragma once

#include "platform/platform.h"

#include <atomic>
#include <cstdint>

// The id of the last block built; the next block gets the next value. Advanced atomically, so that
// threads allocating at once receive different ids, and only for blocks actually built.
extern volatile ULONG allocCounter;
// The system page size; 1 until the system has been asked. Two threads may both ask and store the
// same answer.
extern std::atomic<uint64_t> pageSize;
// Set by the first failure of the heap, and of the page, allocation: only the first runs the in-use dump.
extern volatile LONG heapFailureSeen;
extern volatile LONG pageFailureSeen;

// Advances allocCounter and returns the new block's id.
uint32_t nextAllocId();
// True for exactly one caller: the first to raise `flag`.
bool raiseOnceFlag(volatile LONG* flag);
// The page size, asking the system on first use.
uint64_t currentPageSize();
