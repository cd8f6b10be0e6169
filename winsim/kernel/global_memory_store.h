// Global-memory accounting of the simulation, for winsim::Reset. Caller holds the world lock. Internal
// to winsim.
#pragma once

namespace winsim_detail {

// Blocks held from before the reset stay freeable but no longer count as held.
void ResetGlobalBlocks();

} // namespace winsim_detail
