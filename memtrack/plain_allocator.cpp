#include "memtrack/allocator_functions.h"

#include "memtrack/track_config.h"
#include "platform/platform.h"

#include <cstdlib>

void* plainAllocate(uint64_t size, int32_t, void*, uint32_t*) {
    if (size == 0) {
        return nullptr;
    }
    if (trackHeap != nullptr) {
        return HeapAlloc(trackHeap, HEAP_ZERO_MEMORY, static_cast<SIZE_T>(size));
    }
    return std::malloc(static_cast<size_t>(size));
}

bool plainRelease(void** location, int32_t) {
    if (trackHeap != nullptr) {
        HeapFree(trackHeap, 0, *location);
    } else {
        if (*location != nullptr) {
            std::free(*location);
        }
        *location = nullptr;
    }
    return true;
}
