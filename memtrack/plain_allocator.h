// The pass-through pair, which serves every request while tracking is off. Inline, so that the hooks can
// call it without a call level of their own when it is the pair in force (hook_selection.h): it is the
// path of every allocation and release of the module in the field.
#pragma once

#include "memtrack/track_config.h"
#include "platform/platform.h"

#include <cstdint>
#include <cstdlib>

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
