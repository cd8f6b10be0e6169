// winsim::Reset: forgets the simulated world of the registry, devices, spooler, libraries loaded at run
// time and armed failures.
#include "winsim/control/devices.h"
#include "winsim/control/world.h"
#include "winsim/core/entry.h"
#include "winsim/kernel/global_memory_store.h"
#include "winsim/kernel/system_libraries.h"
#include "winsim/registry/store.h"
#include "winsim/setupapi/store.h"
#include "winsim/spooler/store.h"

namespace winsim {

void Reset() {
    winsim_detail::ControlCall call;
    winsim_detail::ResetFailures();
    winsim_detail::ResetRegistry();
    winsim_detail::ResetDevices();
    KeepLastErrorOnSuccess(false);
    winsim_detail::ResetSpooler();
    winsim_detail::ResetGlobalBlocks();
    winsim_detail::ResetLibraries();
}

} // namespace winsim
