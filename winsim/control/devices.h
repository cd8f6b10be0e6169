// Test-facing control of the simulated device tree: devices, their properties and interfaces, and the
// device information set that the installation service hands a co-installer.
#pragma once

#include "winsim/control/world.h"
#include "winsim/setupapi/setupapi.h"

#include <cstddef>
#include <string>
#include <vector>

namespace winsim {

// --- Devices (SetupAPI) ------------------------------------------------------------------------------
// With `keep`, SetupAPI calls that succeed leave the thread's last error as it was, as Wine's do, instead
// of setting it to 0 as Windows does. Reset restores the Windows behaviour.
void KeepLastErrorOnSuccess(bool keep);
struct DeviceProperty {
    DWORD property; // SPDRP_*
    DWORD type;     // REG_*
    Bytes data;
};
// Adds a device node, or changes whether a known one is present. Instance ids compare without regard to
// letter case; the functions below add a device they do not know yet. Its hardware key
// "System\CurrentControlSet\Enum\<id>\Device Parameters" is an ordinary HKLM key that tests seed with
// SetValue.
void AddDevice(const std::u16string& instanceId, bool present = true);
void SetDeviceProperty(const std::u16string& instanceId, DWORD property, DWORD type, const Bytes& data);
void SetDeviceStringProperty(const std::u16string& instanceId, DWORD property, const std::u16string& text);
// The property changes to `data` once its size has next been probed (a read that reports the size its
// buffer lacks), as when the device's property changes between a caller's probe and its read: the read
// then reports another size than the probe did.
void ChangeDevicePropertyAfterProbe(const std::u16string& instanceId, DWORD property, DWORD type,
                                    const Bytes& data);
// Registers a device interface of `interfaceClass` on the device. Returns the HKLM path of the interface's
// registry key (the key that SetupDiCreateDeviceInterfaceRegKeyW opens).
std::u16string AddInterface(const std::u16string& instanceId, const GUID& interfaceClass);
// A device information set holding the one device, and its element, as the installation service passes
// them to a co-installer. Destroy the set with SetupDiDestroyDeviceInfoList.
HDEVINFO CreateDeviceSet(const std::u16string& instanceId, SP_DEVINFO_DATA* element);
// Device information sets created and not yet destroyed.
size_t OpenDeviceSetCount();

} // namespace winsim
