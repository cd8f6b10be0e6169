// Heap blocks. Layout, from low to high addresses: a lead-in of 1 to 31 bytes, the 504-byte header
// (whose last 384 bytes are the head guard), the user block on a multiple of 16, and in the guarded
// modes the tail guard (384 bytes plus the alignment slack) reaching exactly to the end of the allocation.
#include "memtrack/tracked_block.h"

#include "memtrack/block_counters.h"
#include "memtrack/block_layout.h"
#include "memtrack/block_release.h"
#include "memtrack/debugger_trap.h"
#include "memtrack/in_use_dump.h"
#include "memtrack/track_config.h"

#include <cstdlib>
#include <cstring>

void* OVMemBlock::operator new(size_t size) noexcept {
    return std::malloc(size);
}

void OVMemBlock::operator delete(void* object) noexcept {
    std::free(object);
}

OVMemBlock::~OVMemBlock() = default;

uint32_t OVMemBlock::GetId() {
    return header != nullptr ? header->id : 0;
}

uint64_t OVMemBlock::GetSize() {
    return header != nullptr ? header->size : 0;
}

void* OVMemBlock::AllocateWithCaller(uint64_t size, void* caller, HANDLE heap) {
    void* userPtr = Allocate(size, heap);
    if (userPtr != nullptr && header != nullptr) {
        header->caller = caller;
    }
    return userPtr;
}

void* OVMemBlock::Allocate(uint64_t size, HANDLE heap) {
    if (size == 0) {
        return nullptr;
    }
    const bool guarded = trackMode == TrackModeGuardedProcessHeap || trackMode == TrackModeGuardedRuntimeHeap;
    const uint64_t tailGuardLeast = guarded ? guardZoneSize : 0;
    const bool onHeap =
        (trackMode == TrackModeHeap || trackMode == TrackModeGuardedProcessHeap) && heap != nullptr;
    const BlockSource source = onHeap ? BlockSourceTrackHeap : BlockSourceRuntimeHeap;

    uint64_t total = 0;
    void* base = nullptr;
    if (paddedBlockTotal(size, headerSize + tailGuardLeast, &total)) {
        base = onHeap ? HeapAlloc(heap, HEAP_ZERO_MEMORY, static_cast<SIZE_T>(total))
                      : std::malloc(static_cast<size_t>(total));
    }
    if (base == nullptr) {
        if (raiseOnceFlag(&heapFailureSeen)) {
            dumpInUse();
        }
        return nullptr;
    }

    uint64_t slack = 0;
    uintptr_t userBlock =
        placeUserBlock(reinterpret_cast<uintptr_t>(base) + total, size, tailGuardLeast, &slack);
    uintptr_t headerAddress = userBlock - headerSize;
    if (headerAddress < reinterpret_cast<uintptr_t>(base)) {
        breakIntoDebugger();
        if (onHeap) {
            HeapFree(heap, 0, base);
        } else {
            std::free(base);
        }
        return nullptr;
    }
    auto* newHeader = reinterpret_cast<OVMemHdr*>(headerAddress);
    if (guarded) {
        newHeader->tailGuardSize = slack + guardZoneSize;
        newHeader->tailGuard = reinterpret_cast<uint8_t*>(userBlock + size);
        std::memset(newHeader->tailGuard, guardFill, static_cast<size_t>(newHeader->tailGuardSize));
        std::memset(newHeader->headGuard, guardFill, sizeof newHeader->headGuard);
    } else {
        newHeader->tailGuardSize = 0;
        newHeader->tailGuard = nullptr;
    }
    adoptBlock(newHeader, size, source, base, userBlock);
    return newHeader->userPtr;
}

void OVMemBlock::adoptBlock(OVMemHdr* newHeader, uint64_t size, BlockSource source, void* base,
                            uintptr_t userBlock) {
    // The header's padding and reserved bytes are zeroed so that the raw record file holds no stale bytes.
    std::memset(newHeader->padding1, 0, sizeof newHeader->padding1);
    std::memset(newHeader->padding2, 0, sizeof newHeader->padding2);
    std::memset(newHeader->padding3, 0, sizeof newHeader->padding3);
    std::memset(newHeader->padding4, 0, sizeof newHeader->padding4);
    std::memset(newHeader->padding5, 0, sizeof newHeader->padding5);
    newHeader->reserved = 0;
    newHeader->caller = nullptr;
    newHeader->allocKind = AllocKindScalar;
    newHeader->headGuardSize = guardZoneSize;
    newHeader->allocPtr = base;
    newHeader->magic = headerMagic;
    newHeader->id = nextAllocId();
    newHeader->size = size;
    newHeader->release = 0;
    newHeader->underrun = 0;
    newHeader->overrun = 0;
    newHeader->source = source;
    newHeader->next = nullptr;
    newHeader->prev = nullptr;
    newHeader->userPtr = reinterpret_cast<void*>(userBlock);
    header = newHeader;
}

void OVMemBlock::FreeUserPtr(void* userPtr) {
    if (OVMemHdr* found = HeaderFromUserPtr(userPtr)) {
        freeBlockMemory(found);
    }
}

void OVMemBlock::Free() {
    if (header != nullptr) {
        freeBlockMemory(header);
        header = nullptr;
    }
}

void* OVMemBlock::GetUserPtr() {
    return header != nullptr ? header->userPtr : nullptr;
}

OVMemHdr* OVMemBlock::HeaderFromUserPtr(void* userPtr) {
    uintptr_t address = reinterpret_cast<uintptr_t>(userPtr);
    if (address <= headerSize) {
        return nullptr;
    }
    auto* candidate = reinterpret_cast<OVMemHdr*>(address - headerSize);
    return candidate->userPtr == userPtr ? candidate : nullptr;
}

OVMemHdr* OVMemBlock::GetHeader() {
    return header;
}
