#include "memtrack/block_release.h"

#include "memtrack/fault_notice.h"
#include "memtrack/in_use_dump.h"
#include "memtrack/track_config.h"
#include "platform/platform.h"

#include <cstdlib>

bool freeBlockMemory(const OVMemHdr* header) {
    switch (header->source) {
    case BlockSourceTrackHeap:
        if (trackHeap == nullptr) {
            return false;
        }
        return HeapFree(trackHeap, 0, header->allocPtr) != FALSE;
    case BlockSourceRuntimeHeap:
        std::free(header->allocPtr);
        return true;
    case BlockSourceVirtualPages:
        if (!VirtualFree(header->allocPtr, 0, MEM_RELEASE)) {
            dumpInUse();
            return false;
        }
        return true;
    default:
        reportUnknownSource(header->userPtr, header->source);
        return false;
    }
}
