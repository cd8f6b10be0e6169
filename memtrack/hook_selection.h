// The allocation hooks' first-use selection. Each direction (allocation, release) picks its function once,
// at its first use, and keeps it for the rest of the module's life, teardown included; after that a hook
// costs one load and one call (with tracking off, a direct one). Picking also brings the collector into
// existence.
#pragma once

#include "memtrack/allocator_functions.h"

#include <atomic>
#include <cstdint>

// The cached functions; none until the first allocation and the first release respectively.
extern std::atomic<AllocateFunction> allocFn;
extern std::atomic<ReleaseFunction> releaseFn;

// The hooks' way when the pass-through pair is not the one in force: the chosen function, called
// through its cached pointer, or the first use of the direction, which runs its selector (once) and
// serves the request with the function chosen (null, and nothing released, when none could be chosen).
void* hookAllocateThroughChosen(uint64_t size, int32_t kind, void* caller);
void hookReleaseThroughChosen(void* pointer, int32_t kind);

// The work of the four operators: `caller` is the operator's own return address. A failed allocation
// yields null. A null pointer is released at once, without selecting anything.
//
// Inline, with the pass-through pair called by name when it is the one chosen: every allocation and
// release of the module passes here, and with tracking off each call level, and even the stack frame
// that an indirect call with a scratch location needs, is a measurable part of a heap request.
inline void* hookAllocate(uint64_t size, int32_t kind, void* caller) {
    if (allocFn.load(std::memory_order_acquire) == plainAllocate) {
        return plainAllocate(size, kind, caller, nullptr);
    }
    return hookAllocateThroughChosen(size, kind, caller);
}

inline void hookRelease(void* pointer, int32_t kind) {
    if (pointer == nullptr) {
        return;
    }
    if (releaseFn.load(std::memory_order_acquire) == plainRelease) {
        void* location = pointer;
        plainRelease(&location, kind);
        return;
    }
    hookReleaseThroughChosen(pointer, kind);
}

// The selectors, run once each under a one-time initialisation by the hooks. Each makes sure a collector
// is registered (constructing its own side's module-static instance, at most once, and registering its
// destruction at unload), then answers the tracked or the pass-through function.
AllocateFunction selectAllocate();
ReleaseFunction selectRelease();
