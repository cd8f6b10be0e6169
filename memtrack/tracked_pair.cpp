// The tracked pair. Each operation uses one allocator object of the class that trackMode calls for.
// Still to join: the live-block list, the guard check and the reports of releases after teardown.
#include "memtrack/allocator_functions.h"

#include "memtrack/block_release.h"
#include "memtrack/debugger_trap.h"
#include "memtrack/in_use_dump.h"
#include "memtrack/track_config.h"
#include "memtrack/tracked_block.h"

namespace {

OVMemBlock* newBlockAllocator() {
    if (trackMode == TrackModePageGuarded) {
        return new OVMemBlockVirtualAlloc;
    }
    return new OVMemBlock;
}

} // namespace

void* trackedAllocate(uint64_t size, int32_t kind, void* caller, uint32_t* outId) {
    if (failSize != 0 && size >= failSize) {
        return nullptr;
    }
    OVMemBlock* block = newBlockAllocator();
    if (block == nullptr) {
        return nullptr;
    }
    void* userPtr = block->AllocateWithCaller(size, caller, trackHeap);
    OVMemHdr* header = block->GetHeader();
    if (userPtr != nullptr && header != nullptr) {
        header->allocKind = kind;
        *outId = header->id;
        if (header->id == breakOnAllocId) {
            dumpInUse();
        }
    }
    delete block;
    return userPtr;
}

bool trackedRelease(void** location, int32_t kind) {
    OVMemBlock* block = newBlockAllocator();
    if (block == nullptr) {
        // Without its allocator object the release is left undone: the block stays allocated.
        return false;
    }
    OVMemHdr* header = block->HeaderFromUserPtr(*location);
    if (header == nullptr || header->allocKind != kind) {
        // Not a block of this module, or released with the other form of delete: its memory is not
        // touched.
        breakIntoDebugger();
        delete block;
        return false;
    }
    freeBlockMemory(header);
    delete block;
    return false;
}
