// Handles to the simulated process, as the symbol handler checks them. Internal to winsim.
#pragma once

#include "winsim/kernel/types.h"

namespace winsim_detail {

// The access that `process` grants to this process: all of it for GetCurrentProcess(), the opened access
// for a handle from OpenProcess. False when the handle names no process.
bool OwnProcessAccess(HANDLE process, DWORD* access);

} // namespace winsim_detail
