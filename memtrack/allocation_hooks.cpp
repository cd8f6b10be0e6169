// Whether tracking is on is decided once, by whichever selector runs first, and both directions follow
// that decision: a release function that did not match the allocation function would hand tracked blocks
// to free() or raw blocks to the tracked release. The key of the switches may be missing at first and
// created later; the configuration query then answers differently, but the decision stands.
//
// A selector runs platform code (the registry, the collector's set-up). Should that code allocate
// through these hooks on the selecting thread (it cannot on Windows, where the system's own code never
// uses this module's operators), the request is served by the pair already decided, or refused while the
// decision itself is being made, instead of waiting for the selection that it is part of.
#include "memtrack/allocation_hooks.h"

#include "memtrack/collector.h"
#include "memtrack/tracked_pair.h"

#include <cstdlib>
#include <new>

std::atomic<AllocateFunction> allocFn{nullptr};
std::atomic<ReleaseFunction> releaseFn{nullptr};
std::atomic<uint64_t> passThroughAllocationBound{0};
std::atomic<bool> passThroughRelease{false};

namespace {

INIT_ONCE trackingDecisionOnce = INIT_ONCE_STATIC_INIT;
INIT_ONCE allocationSelectionOnce = INIT_ONCE_STATIC_INIT;
INIT_ONCE releaseSelectionOnce = INIT_ONCE_STATIC_INIT;

// Written under trackingDecisionOnce.
bool trackingDecided = false;
bool trackingChosen = false;

// The thread running the allocation or the release selector, or 0 while none runs. Each is written only
// inside its one-time initialisation, so one thread at a time; a thread finds its own id there only while
// it is itself selecting. Thread ids, not thread-local storage: the module is loaded and unloaded many
// times in one process, and MinGW's emulated thread-local storage leaves an index and per-thread blocks
// behind at every unload.
std::atomic<DWORD> allocationSelectingThread{0};
std::atomic<DWORD> releaseSelectingThread{0};

bool selectingOnThisThread() {
    DWORD self = GetCurrentThreadId();
    return allocationSelectingThread.load() == self || releaseSelectingThread.load() == self;
}

// The two module-static collectors live in raw storage so that nothing but the registration made when
// one is constructed destroys it.
alignas(OVMemCollector) unsigned char allocationSideStorage[sizeof(OVMemCollector)];
alignas(OVMemCollector) unsigned char releaseSideStorage[sizeof(OVMemCollector)];
bool allocationSideConstructed = false;
bool releaseSideConstructed = false;

void destroyAllocationSideCollector() {
    reinterpret_cast<OVMemCollector*>(allocationSideStorage)->~OVMemCollector();
}

void destroyReleaseSideCollector() {
    reinterpret_cast<OVMemCollector*>(releaseSideStorage)->~OVMemCollector();
}

// Unless a collector is registered, constructs the side's own (which registers itself), at most once, and
// registers its destruction at unload.
void ensureCollector(unsigned char* storage, bool* constructed, void (*destroy)()) {
    if (moduleCollector == nullptr && !*constructed) {
        new (storage) OVMemCollector();
        *constructed = true;
        std::atexit(destroy);
    }
}

BOOL CALLBACK decideTracking(PINIT_ONCE, PVOID, PVOID*) {
    trackingChosen = isTrackingOn();
    fixTrackingConfiguration();
    trackingDecided = true;
    return TRUE;
}

bool trackingDecision() {
    InitOnceExecuteOnce(&trackingDecisionOnce, decideTracking, nullptr, nullptr);
    return trackingChosen;
}

// Each selector is marked with the selecting thread's id so that a request from inside the selection does
// not wait for it.
// The straight way opens once the pass-through pair is chosen and serves from the run-time heap.
BOOL CALLBACK runAllocationSelection(PINIT_ONCE, PVOID, PVOID*) {
    allocationSelectingThread.store(GetCurrentThreadId());
    AllocateFunction chosen = selectAllocate();
    allocFn.store(chosen, std::memory_order_release);
    if (chosen == plainAllocate && trackHeap == nullptr) {
        passThroughAllocationBound.store(INT64_MAX, std::memory_order_release);
    }
    allocationSelectingThread.store(0);
    return TRUE;
}

BOOL CALLBACK runReleaseSelection(PINIT_ONCE, PVOID, PVOID*) {
    releaseSelectingThread.store(GetCurrentThreadId());
    ReleaseFunction chosen = selectRelease();
    releaseFn.store(chosen, std::memory_order_release);
    if (chosen == plainRelease && trackHeap == nullptr) {
        passThroughRelease.store(true, std::memory_order_release);
    }
    releaseSelectingThread.store(0);
    return TRUE;
}

void runSelection(PINIT_ONCE once, PINIT_ONCE_FN selection) {
    InitOnceExecuteOnce(once, selection, nullptr, nullptr);
}

AllocateFunction firstUseAllocateFunction() {
    if (selectingOnThisThread()) {
        if (!trackingDecided) {
            return nullptr;
        }
        return trackingChosen ? trackedAllocate : plainAllocate;
    }
    runSelection(&allocationSelectionOnce, runAllocationSelection);
    return allocFn.load(std::memory_order_acquire);
}

ReleaseFunction firstUseReleaseFunction() {
    if (selectingOnThisThread()) {
        if (!trackingDecided) {
            return nullptr;
        }
        return trackingChosen ? trackedRelease : plainRelease;
    }
    runSelection(&releaseSelectionOnce, runReleaseSelection);
    return releaseFn.load(std::memory_order_acquire);
}

// The function in force, or the first use's choice; null when none could be chosen.
AllocateFunction chosenAllocateFunction() {
    AllocateFunction allocate = allocFn.load(std::memory_order_acquire);
    return allocate != nullptr ? allocate : firstUseAllocateFunction();
}

ReleaseFunction chosenReleaseFunction() {
    ReleaseFunction release = releaseFn.load(std::memory_order_acquire);
    return release != nullptr ? release : firstUseReleaseFunction();
}

} // namespace

AllocateFunction selectAllocate() {
    bool tracking = trackingDecision();
    ensureCollector(allocationSideStorage, &allocationSideConstructed, destroyAllocationSideCollector);
    return tracking ? trackedAllocate : plainAllocate;
}

ReleaseFunction selectRelease() {
    bool tracking = trackingDecision();
    ensureCollector(releaseSideStorage, &releaseSideConstructed, destroyReleaseSideCollector);
    return tracking ? trackedRelease : plainRelease;
}

void* hookAllocateThroughChosen(uint64_t size, int32_t kind, void* caller) {
    AllocateFunction allocate = chosenAllocateFunction();
    if (allocate == nullptr) {
        return nullptr;
    }
    uint32_t scratchId = 0;
    return allocate(size, kind, caller, &scratchId);
}

void hookReleaseThroughChosen(void* pointer, int32_t kind) {
    if (pointer == nullptr) {
        return;
    }
    ReleaseFunction release = chosenReleaseFunction();
    if (release == nullptr) {
        return;
    }
    void* location = pointer;
    release(&location, kind);
}

void* hookAllocateOverAligned(uint64_t size, uint64_t alignment, int32_t kind, void* caller) {
    AllocateFunction allocate = chosenAllocateFunction();
    if (allocate == nullptr) {
        return nullptr;
    }
    if (allocate == plainAllocate) {
        return plainAllocateAligned(size, alignment);
    }
    uint32_t scratchId = 0;
    return trackedAllocateAligned(size, alignment, kind, caller, &scratchId);
}

void hookReleaseOverAligned(void* pointer, int32_t kind) {
    ReleaseFunction release = chosenReleaseFunction();
    if (release == plainRelease) {
        plainReleaseAligned(pointer);
    } else if (release != nullptr) {
        // A tracked block of any alignment is found through the live index.
        void* location = pointer;
        release(&location, kind);
    }
}
