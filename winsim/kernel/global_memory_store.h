// Global-memory accounting of the simulation, for winsim::Reset, and the free of fixed blocks that
// LocalFree shares. Caller holds the world lock. Internal to winsim.
#pragma once

#include "winsim/kernel/types.h"

namespace winsim_detail {

// GlobalFree's and LocalFree's answer, the two frees of fixed blocks: null for null, and for a block that
// `forget` knew and now forgets (the block is freed); otherwise the block itself, with the last error
// ERROR_INVALID_HANDLE, or the injected failure's.
HANDLE FreeFixedBlock(const char* function, HANDLE block, bool (*forget)(void* block));

// Blocks held from before the reset stay freeable but no longer count as held.
void ResetGlobalBlocks();

} // namespace winsim_detail
