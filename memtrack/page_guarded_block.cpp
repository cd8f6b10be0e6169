// Page-guarded blocks. Layout: one no-access page, the read-write region (lead-in, header, user block,
// tail guard reaching exactly to the region's end), one no-access page. The region is always at least
// one byte larger than the block needs, and one whole page larger when the need is a multiple of the page
// size, so a write before the header meets the leading page only after the lead-in.
#include "memtrack/tracked_block.h"

#include "memtrack/block_counters.h"
#include "memtrack/block_layout.h"
#include "memtrack/debugger_trap.h"
#include "memtrack/in_use_dump.h"
#include "memtrack/track_config.h"

#include <cstring>

namespace {

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

} // namespace

void* OVMemBlockVirtualAlloc::Allocate(uint64_t size, HANDLE) {
    if (trackMode != TrackModePageGuarded) {
        return nullptr;
    }
    uint64_t need = 0;
    uint64_t page = 0;
    uint64_t region = 0;
    uint64_t reservation = 0;
    bool fits = paddedBlockTotal(size, headerSize + guardZoneSize, &need);
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
    uintptr_t userBlock = placeUserBlock(regionEnd, size, guardZoneSize, &slack);
    uintptr_t headerAddress = userBlock - headerSize;
    if (headerAddress < reinterpret_cast<uintptr_t>(base)) {
        breakIntoDebugger();
        VirtualFree(base, 0, MEM_RELEASE);
        return nullptr;
    }
    auto* newHeader = reinterpret_cast<OVMemHdr*>(headerAddress);
    newHeader->tailGuardSize = slack + guardZoneSize;
    newHeader->tailGuard = reinterpret_cast<uint8_t*>(userBlock + size);
    std::memset(newHeader->tailGuard, guardFill, static_cast<size_t>(newHeader->tailGuardSize));
    std::memset(newHeader->headGuard, guardFill, sizeof newHeader->headGuard);
    adoptBlock(newHeader, size, BlockSourceVirtualPages, base, userBlock);
    return newHeader->userPtr;
}
