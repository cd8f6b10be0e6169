#include "bench/direct_heap_operators.h"

#include <cstdlib>

void* directAllocate(size_t size) {
    return std::malloc(size);
}

void* directArrayAllocate(size_t size) {
    return std::malloc(size);
}

void directRelease(void* pointer) {
    std::free(pointer);
}

void directArrayRelease(void* pointer) {
    std::free(pointer);
}
