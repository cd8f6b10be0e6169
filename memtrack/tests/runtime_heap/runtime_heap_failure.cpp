#include "runtime_heap_failure.h"

#include <atomic>
#include <cstdint>

extern "C" void* __real_calloc(size_t count, size_t size);
extern "C" void* __wrap_calloc(size_t count, size_t size);

namespace {

constexpr size_t tracked = 32;

// Atomics only: this runs inside calloc and must not allocate.
std::atomic<size_t> exactFailureBytes{0};
std::atomic<unsigned> exactFailuresLeft{0};
std::atomic<size_t> failureThreshold{SIZE_MAX};
std::atomic<size_t> seenBytes[tracked]; // 0: a free slot
std::atomic<unsigned> seenCounts[tracked];

void remember(size_t bytes) {
    if (bytes == 0) {
        return;
    }
    for (size_t i = 0; i < tracked; ++i) {
        size_t slot = 0;
        if (seenBytes[i].compare_exchange_strong(slot, bytes) || slot == bytes) {
            ++seenCounts[i];
            return;
        }
    }
}

bool refuse(size_t bytes) {
    if (bytes >= failureThreshold.load()) {
        return true;
    }
    if (bytes != exactFailureBytes.load()) {
        return false;
    }
    unsigned left = exactFailuresLeft.load();
    while (left != 0) {
        if (left == UINT32_MAX) {
            return true;
        }
        if (exactFailuresLeft.compare_exchange_weak(left, left - 1)) {
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" void* __wrap_calloc(size_t count, size_t size) {
    if (size != 0 && count > SIZE_MAX / size) {
        return __real_calloc(count, size);
    }
    size_t bytes = count * size;
    remember(bytes);
    return refuse(bytes) ? nullptr : __real_calloc(count, size);
}

namespace runtime_heap {

void failRequestsOf(size_t bytes, unsigned times) {
    exactFailuresLeft = times == 0 ? UINT32_MAX : times;
    exactFailureBytes = bytes;
}

void failRequestsFrom(size_t bytes) {
    failureThreshold = bytes;
}

void reset() {
    exactFailureBytes = 0;
    exactFailuresLeft = 0;
    failureThreshold = SIZE_MAX;
    for (size_t i = 0; i < tracked; ++i) {
        seenCounts[i] = 0;
        seenBytes[i] = 0;
    }
}

unsigned requestsOf(size_t bytes) {
    for (size_t i = 0; i < tracked; ++i) {
        if (seenBytes[i].load() == bytes) {
            return seenCounts[i].load();
        }
    }
    return 0;
}

} // namespace runtime_heap
