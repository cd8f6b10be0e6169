// The allocation hooks' first-use selection. Each direction (allocation, release) picks its function once,
// at its first use, and keeps it for the rest of the module's life, teardown included; after that a hook
// costs one load and one indirect call. Picking also brings the collector into existence.
#pragma once

#include "memtrack/allocator_functions.h"

#include <atomic>
#include <cstdint>

// The cached functions; none until the first allocation and the first release respectively.
extern std::atomic<AllocateFunction> allocFn;
extern std::atomic<ReleaseFunction> releaseFn;

// The work of the four operators: `caller` is the operator's own return address. A failed allocation
// yields null. A null pointer is released at once, without selecting anything.
void* hookAllocate(uint64_t size, int32_t kind, void* caller);
void hookRelease(void* pointer, int32_t kind);

// The selectors, run once each under a one-time initialisation by the hooks. Each makes sure a collector
// is registered (constructing its own side's module-static instance, at most once, and registering its
// destruction at unload), then answers the tracked or the pass-through function.
AllocateFunction selectAllocate();
ReleaseFunction selectRelease();
