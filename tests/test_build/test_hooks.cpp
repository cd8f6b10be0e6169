// Test-only exports of the module's test build, vracoins_testhooks (a DLL on Windows, a shared library over
// the simulation): the module's objects with these hooks linked first, so that tests can make the loaded
// module allocate, release and leak through its own operators, and release blocks after the collector's
// teardown, as the module's own static objects do when they are destroyed at unload. Never part of the
// shipped module. Built with debug information, so that the tracker names the call sites here by
// function, file and line.
#include "memtrack/collector.h"
#include "memtrack/mem_header.h"
#include "memtrack/track_config.h"
#include "memtrack/tracked_block.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

constexpr size_t keptCapacity = 16;

struct KeptBlock {
    void* pointer;
    int kind;
};

// No dynamic storage: the list must outlive the collector and may not show up among the blocks.
KeptBlock keptBlocks[keptCapacity];
size_t keptCount = 0;
bool exitHandlerBeforeCollector = false;
int leakCallLine = 0;

void releaseBlock(void* pointer, int kind) {
    if (kind == AllocKindArray) {
        ::operator delete[](pointer);
    } else {
        ::operator delete(pointer);
    }
}

// Registered before the module's first allocation registers the collector's destruction, so that it runs
// after the final report, when the module's code is still mapped.
void releaseKeptBlocks() {
    for (size_t i = 0; i < keptCount; ++i) {
        releaseBlock(keptBlocks[i].pointer, keptBlocks[i].kind);
    }
    keptCount = 0;
}

struct ExitHandlerRegistration {
    ExitHandlerRegistration() {
        exitHandlerBeforeCollector = moduleCollector == nullptr && allocCounter == 0;
        std::atexit(releaseKeptBlocks);
    }
};

ExitHandlerRegistration exitHandlerRegistration;

} // namespace

// A block leaked three calls deep, for the call stacks of the reports: each function notes the line of the
// call it makes, innermost first. Never inlined, so that each keeps its own frame.
int nestedLeakLines[3] = {};

__attribute__((noinline)) void* nestedLeakInner(size_t size) {
    void* block = (nestedLeakLines[0] = __LINE__, ::operator new(size, std::nothrow));
    return block;
}

__attribute__((noinline)) void* nestedLeakMiddle(size_t size) {
    void* block = (nestedLeakLines[1] = __LINE__, nestedLeakInner(size));
    return block;
}

__attribute__((noinline)) void* nestedLeakOuter(size_t size) {
    void* block = (nestedLeakLines[2] = __LINE__, nestedLeakMiddle(size));
    return block;
}

extern "C" {

// A block of `size` bytes through the module's operator new (kind 0) or operator new[] (kind 1); null on
// failure.
void* vracoinsTestHook_allocate(size_t size, int kind) {
    if (kind == AllocKindArray) {
        return ::operator new[](size, std::nothrow);
    }
    return ::operator new(size, std::nothrow);
}

// A block through the module's operator new, meant to be left live: its call site is known, below.
void* vracoinsTestHook_leak(size_t size) {
    void* block = (leakCallLine = __LINE__, ::operator new(size, std::nothrow));
    return block;
}

// The source line and file of the allocation above; the line is 0 before the first call.
int vracoinsTestHook_leakLine() {
    return leakCallLine;
}

// `count` blocks of `size` bytes into `blocks`, each made by nestedLeakOuter through nestedLeakMiddle and
// nestedLeakInner and meant to be left live, all from one call site: the loop is never unrolled, so that
// their stacks are the same. `lines` receives the line of each function's call, innermost first.
void vracoinsTestHook_leakNested(size_t size, unsigned count, void** blocks, int* lines) {
#if defined(__clang__)
#pragma clang loop unroll(disable)
#else
#pragma GCC unroll 1
#endif
    for (unsigned i = 0; i < count; ++i) {
        blocks[i] = nestedLeakOuter(size);
    }
    for (int i = 0; i < 3; ++i) {
        lines[i] = nestedLeakLines[i];
    }
}

const char* vracoinsTestHook_leakFile() {
    return __FILE__;
}

// A block of `size` bytes on `alignment` through the module's aligned operator new, and its release through
// the aligned operator delete.
void* vracoinsTestHook_allocateAligned(size_t size, size_t alignment) {
    return ::operator new(size, std::align_val_t(alignment), std::nothrow);
}

void vracoinsTestHook_releaseAligned(void* pointer, size_t alignment) {
    ::operator delete(pointer, std::align_val_t(alignment));
}

// Sets the allocation counter, so that the ids of the next blocks follow `count`.
void vracoinsTestHook_setAllocationCount(unsigned count) {
    allocCounter = count;
}

// Releases through the module's operator delete (kind 0) or operator delete[] (kind 1).
void vracoinsTestHook_release(void* pointer, int kind) {
    releaseBlock(pointer, kind);
}

// Releases the block with the given form when the module is unloaded, after the final report. False when
// no more blocks can be kept.
int vracoinsTestHook_releaseAfterUnload(void* pointer, int kind) {
    if (keptCount == keptCapacity) {
        return 0;
    }
    keptBlocks[keptCount++] = KeptBlock{pointer, kind};
    return 1;
}

// True when the releases after unload will run after the final report.
int vracoinsTestHook_releasesFollowTheReport() {
    return exitHandlerBeforeCollector ? 1 : 0;
}

unsigned vracoinsTestHook_allocationCount() {
    return allocCounter;
}

int vracoinsTestHook_trackMode() {
    return trackMode;
}

void vracoinsTestHook_setBreakOnAllocId(unsigned id) {
    breakOnAllocId = id;
}

} // extern "C"
