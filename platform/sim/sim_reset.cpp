// winsim::Reset: forgets the simulated world of the registry, devices, spooler and armed failures.
#include "device_store.h"
#include "kernel_store.h"
#include "registry_store.h"
#include "sim_control.h"
#include "sim_entry.h"
#include "spooler_store.h"

namespace winsim {

void Reset() {
    winsim_detail::ControlCall call;
    winsim_detail::ResetFailures();
    winsim_detail::ResetRegistry();
    winsim_detail::ResetDevices();
    KeepLastErrorOnSuccess(false);
    winsim_detail::ResetSpooler();
    winsim_detail::ResetGlobalBlocks();
}

} // namespace winsim
