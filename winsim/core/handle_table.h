// Kernel object handles of the simulation (files, processes, threads): a small table so that CloseHandle can
// close whatever kind of object a handle names. Internal to winsim.
#pragma once

#include "winsim/kernel/types.h"

#include <cstddef>
#include <cstdlib>

namespace winsim_detail {

class KernelObject {
  public:
    virtual ~KernelObject() = default;
    // The handle table deletes its objects. They come from malloc, as all of the simulation's state, so
    // that a test's replacement operator new never sees them.
    static void* operator new(size_t size) {
        void* storage = std::malloc(size);
        if (storage == nullptr) {
            std::abort();
        }
        return storage;
    }
    static void operator delete(void* storage) { std::free(storage); }
};

// Takes ownership; returns a handle that is never null nor INVALID_HANDLE_VALUE.
HANDLE NewHandle(KernelObject* object);
// The object behind a handle, or null for an unknown or closed handle.
KernelObject* LookupHandle(HANDLE handle);
// Deletes the object and forgets the handle; false for an unknown handle.
bool CloseKernelHandle(HANDLE handle);
size_t OpenKernelHandleCount();

} // namespace winsim_detail
