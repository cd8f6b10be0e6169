// The baselines that the module's pass-through hooks are measured against, called as the module's test
// entry points are: through a pointer into a shared library.
//
// benchDirect_allocate and benchDirect_release have the shape of the module's test entry points (pick the
// form by the allocation kind, then call an out-of-line operator), with operators that do nothing but
// call malloc and free (direct_heap_operators.cpp): the module's path without its hooks. The peer
// allocator's runs use them too, so that the page-guard allocator preloaded into their process serves
// exactly this workload. benchMalloc_allocate and benchMalloc_release call malloc and free themselves,
// one call level less than any operator.
#include "bench/direct_heap_operators.h"

#include <cstddef>
#include <cstdlib>

extern "C" {

void* benchDirect_allocate(size_t size, int kind) {
    if (kind == 1) {
        return directArrayAllocate(size, std::nothrow);
    }
    return directAllocate(size, std::nothrow);
}

void benchDirect_release(void* pointer, int kind) {
    if (kind == 1) {
        directArrayRelease(pointer);
        return;
    }
    directRelease(pointer);
}

void* benchMalloc_allocate(size_t size, int) {
    return std::malloc(size);
}

void benchMalloc_release(void* pointer, int) {
    std::free(pointer);
}

} // extern "C"
