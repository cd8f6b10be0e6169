// The shared objects loaded into this host process, as the simulation's modules and its symbol handlers
// see them. Internal to winsim.
#pragma once

#include "winsim/core/malloc_containers.h"
#include "winsim/kernel/types.h"

namespace winsim_detail {

struct LoadedModule {
    ULONG_PTR base; // lowest mapped address, as dladdr reports it: the module handle
    ULONG_PTR bias; // where the file's address 0 lies in memory
    ULONG_PTR end;  // end of the highest loaded segment
    SimString hostPath;
};

// The executable first, then the shared objects in load order. Objects without a file of their own (the
// kernel's vDSO) are left out.
SimVector<LoadedModule> LoadedModules();
// The loaded module whose handle is `base`.
bool FindModuleByBase(ULONG_PTR base, LoadedModule* module);
// The loaded module whose mapped range holds `address`.
bool FindModuleByAddress(ULONG_PTR address, LoadedModule* module);

} // namespace winsim_detail
