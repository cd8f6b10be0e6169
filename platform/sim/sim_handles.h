// Kernel object handles of the simulation (files, processes): a small table so that CloseHandle can
// close whatever kind of object a handle names. Internal to platform/sim.
#pragma once

#include "win32_types.h"

namespace winsim_detail {

class KernelObject {
  public:
    virtual ~KernelObject() = default;
};

// Takes ownership; returns a handle that is never null nor INVALID_HANDLE_VALUE.
HANDLE NewHandle(KernelObject* object);
// The object behind a handle, or null for an unknown or closed handle.
KernelObject* LookupHandle(HANDLE handle);
// Deletes the object and forgets the handle; false for an unknown handle.
bool CloseKernelHandle(HANDLE handle);
size_t OpenKernelHandleCount();

} // namespace winsim_detail
