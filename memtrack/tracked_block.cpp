// The block allocators, the counters they advance, and the release of a block's memory by its source:
// memory obtained and given back side by side.
#include "memtrack/tracked_block.h"

#include "memtrack/debug_text.h"
#include "memtrack/live_list.h"
#include "memtrack/track_config.h"

#include <cstdlib>
#include <cstring>

volatile ULONG allocCounter = 0;
std::atomic<uint64_t> pageSize{1};
volatile LONG heapFailureSeen = 0;
volatile LONG pageFailureSeen = 0;

namespace {

constexpr size_t noticeCapacity = 200;

// Advances allocCounter and returns the new block's id. Id 0 is skipped when the counter wraps: no block
// may match breakOnAllocId's default.
uint32_t nextAllocId() {
    // ULONG and LONG are the unsigned and signed forms of one type, so the counter may be advanced
    // through the signed interlocked operation.
    uint32_t id = 0;
    while (id == 0) {
        id = static_cast<uint32_t>(InterlockedIncrement(reinterpret_cast<volatile LONG*>(&allocCounter)));
    }
    return id;
}

// True for exactly one caller: the first to raise `flag`.
bool raiseOnceFlag(volatile LONG* flag) {
    return InterlockedExchange(flag, 1) == 0;
}

// The page size, asking the system on first use.
uint64_t currentPageSize() {
    uint64_t size = pageSize.load(std::memory_order_relaxed);
    if (size == 1) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        size = info.dwPageSize;
        pageSize.store(size, std::memory_order_relaxed);
    }
    return size;
}

// Size arithmetic shared by the block allocators. Every sum is checked: a request so large that its
// block's size does not fit in 64 bits must fail like any other request that memory cannot satisfy.

// size + overhead, raised to the next multiple of 16 (a multiple stays as it is), plus the alignment: the
// room for aligning the user block wherever the underlying allocation begins. False when it does not fit.
bool paddedBlockTotal(uint64_t size, uint64_t overhead, uint64_t alignment, uint64_t* total) {
    const uint64_t largest = UINT64_MAX;
    if (size > largest - overhead) {
        return false;
    }
    uint64_t raw = size + overhead;
    if (raw > largest - (userBlockAlignment - 1) - alignment) {
        return false;
    }
    *total = (raw + userBlockAlignment - 1) / userBlockAlignment * userBlockAlignment + alignment;
    return true;
}

// Places a user block of `size` bytes followed by at least `tailGuardLeast` bytes so that the tail ends
// exactly at `end`, moved down to `alignment`. Returns the user block; *slack receives how far it was moved
// (less than the alignment), which lengthens the tail.
uintptr_t placeUserBlock(uintptr_t end, uint64_t size, uint64_t tailGuardLeast, uint64_t alignment,
                         uint64_t* slack) {
    uintptr_t provisional = end - size - tailGuardLeast;
    *slack = provisional % alignment;
    return provisional - *slack;
}

// Fills a heap block's lead-in, from the base up to the header, with the guard fill: the release looks at
// its first byte when the header was found written over. (A page block's lead-in is not filled: its base
// is the no-access page, and its release never looks there.)
void fillLeadIn(uintptr_t base, uintptr_t headerAddress) {
    std::memset(reinterpret_cast<void*>(base), guardFill, static_cast<size_t>(headerAddress - base));
}

// Lays the tail guard from the end of the user block to the end of the block and fills both guards.
void layGuards(OVMemHdr* newHeader, uintptr_t userBlock, uint64_t size, uint64_t slack) {
    newHeader->tailGuardSize = slack + guardZoneSize;
    newHeader->tailGuard = reinterpret_cast<uint8_t*>(userBlock + size);
    std::memset(newHeader->tailGuard, guardFill, static_cast<size_t>(newHeader->tailGuardSize));
    std::memset(newHeader->headGuard, guardFill, sizeof newHeader->headGuard);
}

// The read-write region and the whole reservation (region and the two no-access pages) for `need`
// bytes. False when either does not fit in 64 bits.
bool pageRegion(uint64_t need, uint64_t page, uint64_t* region, uint64_t* reservation) {
    uint64_t pages = need / page + 1;
    if (pages > UINT64_MAX / page) {
        return false;
    }
    *region = pages * page;
    if (*region > UINT64_MAX - 2 * page) {
        return false;
    }
    *reservation = *region + 2 * page;
    return true;
}

// A block header whose source names no allocator: "...: block 0x<userPtr> has unknown source <n>; its
// memory is kept\r\n".
void reportUnknownSource(const void* userPtr, int32_t source) {
    char notice[noticeCapacity] = {};
    formatBounded(
        notice, sizeof notice, "OVMemCollector: block 0x%llX has unknown source %d; its memory is kept\r\n",
        static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(userPtr)), static_cast<int>(source));
    writeFaultNotice(notice);
}

} // namespace

void OVMemBlock::SetAlignment(uint64_t userBlockBoundary) {
    alignment = userBlockBoundary > userBlockAlignment ? userBlockBoundary : userBlockAlignment;
}

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

// Heap blocks. Layout, from low to high addresses: a lead-in of 1 to 15 + alignment bytes (1 to 31 for
// the usual 16), the 504-byte header (whose last 384 bytes are the head guard), the user block on the
// alignment, and in the guarded modes the tail guard (384 bytes plus the alignment slack) reaching exactly
// to the end of the allocation.
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
    if (paddedBlockTotal(size, headerSize + tailGuardLeast, alignment, &total)) {
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
        placeUserBlock(reinterpret_cast<uintptr_t>(base) + total, size, tailGuardLeast, alignment, &slack);
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
    fillLeadIn(reinterpret_cast<uintptr_t>(base), headerAddress);
    auto* newHeader = reinterpret_cast<OVMemHdr*>(headerAddress);
    if (guarded) {
        layGuards(newHeader, userBlock, size, slack);
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

// Page-guarded blocks. Layout: one no-access page, the read-write region (lead-in, header, user block,
// tail guard reaching exactly to the region's end), one no-access page. The region is always at least
// one byte larger than the block needs, and one whole page larger when the need is a multiple of the page
// size, so a write before the header meets the leading page only after the lead-in.
void* OVMemBlockVirtualAlloc::Allocate(uint64_t size, HANDLE) {
    if (trackMode != TrackModePageGuarded) {
        return nullptr;
    }
    uint64_t need = 0;
    uint64_t page = 0;
    uint64_t region = 0;
    uint64_t reservation = 0;
    bool fits = paddedBlockTotal(size, headerSize + guardZoneSize, alignment, &need);
    if (fits) {
        page = currentPageSize();
        if (page == 0) {
            return nullptr;
        }
        fits = pageRegion(need, page, &region, &reservation);
    }

    BYTE* base = nullptr;
    bool readWrite = false;
    if (fits) {
        base = static_cast<BYTE*>(
            VirtualAlloc(nullptr, static_cast<SIZE_T>(reservation), MEM_COMMIT, PAGE_NOACCESS));
        DWORD formerProtection = 0;
        readWrite = base != nullptr && VirtualProtect(base + page, static_cast<SIZE_T>(region),
                                                      PAGE_READWRITE, &formerProtection);
    }
    if (!readWrite) {
        if (raiseOnceFlag(&pageFailureSeen)) {
            dumpInUse();
        }
        if (base != nullptr && !VirtualFree(base, 0, MEM_RELEASE)) {
            breakIntoDebugger();
        }
        // Without its pages the block is built on the heap, unguarded; its head guard is filled all the
        // same, because the guard check of this mode reads it.
        void* userPtr = OVMemBlock::Allocate(size, nullptr);
        if (userPtr != nullptr) {
            std::memset(header->headGuard, guardFill, sizeof header->headGuard);
        }
        return userPtr;
    }

    uint64_t slack = 0;
    uintptr_t regionEnd = reinterpret_cast<uintptr_t>(base) + page + region;
    uintptr_t userBlock = placeUserBlock(regionEnd, size, guardZoneSize, alignment, &slack);
    uintptr_t headerAddress = userBlock - headerSize;
    if (headerAddress < reinterpret_cast<uintptr_t>(base)) {
        breakIntoDebugger();
        VirtualFree(base, 0, MEM_RELEASE);
        return nullptr;
    }
    auto* newHeader = reinterpret_cast<OVMemHdr*>(headerAddress);
    layGuards(newHeader, userBlock, size, slack);
    adoptBlock(newHeader, size, BlockSourceVirtualPages, base, userBlock);
    return newHeader->userPtr;
}

bool freeBlockMemory(void* allocPtr, int32_t source, const void* userPtr) {
    switch (source) {
    case BlockSourceTrackHeap:
        if (trackHeap == nullptr) {
            return false;
        }
        return HeapFree(trackHeap, 0, allocPtr) != FALSE;
    case BlockSourceRuntimeHeap:
        std::free(allocPtr);
        return true;
    case BlockSourceVirtualPages:
        if (!VirtualFree(allocPtr, 0, MEM_RELEASE)) {
            dumpInUse();
            return false;
        }
        return true;
    default:
        reportUnknownSource(userPtr, source);
        return false;
    }
}

bool freeBlockMemory(const OVMemHdr* header) {
    return freeBlockMemory(header->allocPtr, header->source, header->userPtr);
}
