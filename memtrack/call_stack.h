// The call stacks of tracked allocations: captured when a block is made, when stackDepth asks for them,
// and kept with the block's entry in the live index (not in its header, whose bytes the raw record file
// holds), on the run-time heap like the tracker's other working memory.
#pragma once

#include <cstddef>
#include <cstdint>

struct CallStack {
    uint32_t depth;  // frames held, at least 1
    uint32_t hash;   // of the frames, so that unequal stacks are told apart at once
    void* frames[1]; // return addresses, innermost first: `depth` of them
};

// The stack of the code that called an allocation operator, which returned to `caller`: up to stackDepth
// return addresses from `caller` outwards, no frame of the tracker or the operators among them. Only
// `caller` when the frames above it cannot be found. Null when stackDepth is 0 or no memory can be had.
// Takes no lock.
CallStack* captureCallStack(void* caller);

// Whether two stacks hold the same frames; two nulls are the same.
bool sameCallStack(const CallStack* left, const CallStack* right);

// Frees a stack from captureCallStack; null is ignored.
void freeCallStack(CallStack* stack);

// Bytes that one stack of `depth` frames takes from the run-time heap, its own bookkeeping aside.
size_t callStackBytes(uint32_t depth);
