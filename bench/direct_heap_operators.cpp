#include "bench/direct_heap_operators.h"

#include <cstdlib>

void* directAllocate(size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size);
}

void* directArrayAllocate(size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size);
}

void directRelease(void* pointer) noexcept {
    std::free(pointer);
}

void directArrayRelease(void* pointer) noexcept {
    std::free(pointer);
}
