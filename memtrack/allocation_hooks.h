// The allocation hooks, which do the work of the module's global operators, and their first-use
// selection. Each direction (allocation, release) picks its function once, at its first use, and keeps it
// for the rest of the module's life, teardown included. With tracking off an operator then costs one load
// and one predictable branch before its jump to malloc or free; with tracking on, one load and one call.
// Picking also brings the collector into existence.
//
// Two pairs of functions serve the hooks: the pass-through pair (here) with tracking off, the tracked pair
// (tracked_pair.h) with tracking on. Over-aligned requests (alignment above 16) take the aligned forms of
// either: the aligned pass-through pair beside the pass-through pair here, or the tracked pair's aligned
// allocation.
#pragma once

#include "memtrack/mem_header.h"
#include "memtrack/track_config.h"
#include "platform/platform.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>

// size, allocation kind (AllocKind), the code address that called the hook, location for the new block's
// id. Returns the user pointer or null.
typedef void* (*AllocateFunction)(uint64_t size, int32_t kind, void* caller, uint32_t* outId);
// Location of the pointer to release, allocation kind. The result is read by no caller.
typedef bool (*ReleaseFunction)(void** location, int32_t kind);

// The pass-through pair, which serves every request while tracking is off. Inline, so that the hooks can
// call it without a call level of their own when it is the pair in force: it is the path of every
// allocation and release of the module in the field.

// Straight to trackHeap (HEAP_ZERO_MEMORY) or malloc: no header, no report. A size of 0 yields null.
inline void* plainAllocate(uint64_t size, int32_t, void*, uint32_t*) {
    if (size == 0) {
        return nullptr;
    }
    if (trackHeap != nullptr) {
        return HeapAlloc(trackHeap, HEAP_ZERO_MEMORY, static_cast<SIZE_T>(size));
    }
    return std::malloc(static_cast<size_t>(size));
}

// HeapFree on trackHeap, or free (clearing the location). Always true.
inline bool plainRelease(void** location, int32_t) {
    if (trackHeap != nullptr) {
        HeapFree(trackHeap, 0, *location);
        return true;
    }
    void* pointer = *location;
    *location = nullptr;
    if (pointer != nullptr) {
        std::free(pointer);
    }
    return true;
}

// The aligned pass-through pair, for over-aligned requests with tracking off: an allocation of the
// pass-through pair large enough to place the block on `alignment` (a power of two above 16), whose base is
// kept in the 8 bytes right before the block for the aligned release. A size of 0, or one whose
// allocation does not fit in 64 bits, yields null.
inline void* plainAllocateAligned(uint64_t size, uint64_t alignment) {
    const uint64_t room = alignment - 1 + sizeof(void*);
    if (size == 0 || size > UINT64_MAX - room) {
        return nullptr;
    }
    void* base = plainAllocate(size + room, AllocKindScalar, nullptr, nullptr);
    if (base == nullptr) {
        return nullptr;
    }
    uintptr_t block = (reinterpret_cast<uintptr_t>(base) + room) & ~static_cast<uintptr_t>(alignment - 1);
    reinterpret_cast<void**>(block)[-1] = base;
    return reinterpret_cast<void*>(block);
}

inline void plainReleaseAligned(void* pointer) {
    void* location = static_cast<void**>(pointer)[-1];
    plainRelease(&location, AllocKindScalar);
}

// The cached functions; none until the first allocation and the first release respectively.
extern std::atomic<AllocateFunction> allocFn;
extern std::atomic<ReleaseFunction> releaseFn;

// Local to the module's image on ELF, so that the operators read the words below directly instead of
// through the global offset table. (A DLL's data is its own on Windows.)
#if defined(__ELF__)
#define VRA_MODULE_LOCAL __attribute__((visibility("hidden")))
#else
#define VRA_MODULE_LOCAL
#endif

// The straight way is the one laid out to fall through, its jump to malloc or free right after the branch,
// and no work of the other way (the caller's address) is done before the branch.
#define VRA_STRAIGHT_WAY(condition) __builtin_expect(static_cast<bool>(condition), 1)

// The pass-through pair's straight way, which every allocation and release of the module takes in the
// field. Once a direction has chosen the pass-through pair, and that pair serves from the run-time heap
// (no trackHeap, which is always so with tracking off), the pair's own tests are settled but one: an
// allocation of any size but 0 is malloc's, and a release, null included, is free's.
// - passThroughAllocationBound: INT64_MAX when allocations go straight to malloc, 0 until then. A
//   request goes straight when size - 1 lies below the bound: every size from 1 to INT64_MAX (size 0
//   wraps to UINT64_MAX) when it is INT64_MAX, none when it is 0. One load, one compare and one branch.
//   Larger requests, which no heap can serve, take the pass-through pair's own way to their null.
// - passThroughRelease: true when releases go straight to free.
// Each is set by its direction's selection after the function chosen, and never cleared. Relaxed loads:
// the straight way reads nothing else that the selection wrote.
extern VRA_MODULE_LOCAL std::atomic<uint64_t> passThroughAllocationBound;
extern VRA_MODULE_LOCAL std::atomic<bool> passThroughRelease;

// The hooks' way when the straight way is not open: the chosen function, called through its cached
// pointer, or the first use of the direction, which runs its selector (once) and serves the request with
// the function chosen (null, and nothing released, when none could be chosen). A null pointer is released
// at once, without selecting anything.
void* hookAllocateThroughChosen(uint64_t size, int32_t kind, void* caller);
void hookReleaseThroughChosen(void* pointer, int32_t kind);
// The same for over-aligned requests, with the aligned forms of the function chosen. The release is given
// no null pointer.
void* hookAllocateOverAligned(uint64_t size, uint64_t alignment, int32_t kind, void* caller);
void hookReleaseOverAligned(void* pointer, int32_t kind);

// The work of the four operators: `caller` is the operator's own return address. A failed allocation
// yields null. A null pointer is released at once, without selecting anything.
//
// Inline, with the straight way first: every allocation and release of the module passes here, and with
// tracking off each call level, each test and even the stack frame that an indirect call with a scratch
// location needs is a measurable part of a heap request.
inline void* hookAllocate(uint64_t size, int32_t kind, void* caller) {
    if (VRA_STRAIGHT_WAY(size - 1 < passThroughAllocationBound.load(std::memory_order_relaxed))) {
        // The bound is at most INT64_MAX: no request larger than an object can be passes here, which the
        // compiler is told so that it does not warn of one it sees as a constant.
        if (size > static_cast<uint64_t>(INT64_MAX)) {
            __builtin_unreachable();
        }
        return std::malloc(static_cast<size_t>(size));
    }
    return hookAllocateThroughChosen(size, kind, caller);
}

inline void hookRelease(void* pointer, int32_t kind) {
    if (VRA_STRAIGHT_WAY(passThroughRelease.load(std::memory_order_relaxed))) {
        std::free(pointer);
        return;
    }
    hookReleaseThroughChosen(pointer, kind);
}

// The work of the aligned operators. Alignments up to 16, which every block has, take the hooks above.
inline void* hookAllocateAligned(uint64_t size, uint64_t alignment, int32_t kind, void* caller) {
    if (alignment <= userBlockAlignment) {
        return hookAllocate(size, kind, caller);
    }
    return hookAllocateOverAligned(size, alignment, kind, caller);
}

inline void hookReleaseAligned(void* pointer, uint64_t alignment, int32_t kind) {
    if (alignment <= userBlockAlignment) {
        hookRelease(pointer, kind);
    } else if (pointer != nullptr) {
        hookReleaseOverAligned(pointer, kind);
    }
}

// The selectors, run once each under a one-time initialisation by the hooks. Each makes sure a collector
// is registered (constructing its own side's module-static instance, at most once, and registering its
// destruction at unload), then answers the tracked or the pass-through function.
AllocateFunction selectAllocate();
ReleaseFunction selectRelease();
