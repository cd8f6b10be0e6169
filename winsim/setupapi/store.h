// The simulated device tree and the device information sets handed out over it. Every function here
// expects the caller to hold the world lock. Internal to winsim.
#pragma once

#include "winsim/core/malloc_containers.h"
#include "winsim/setupapi/setupapi.h"

#include <memory>

namespace winsim_detail {

struct DeviceProperty {
    DWORD type = 0;
    SimVector<BYTE> data;
};

struct Device;

struct DeviceInterface {
    ULONG_PTR id = 0; // what SP_DEVICE_INTERFACE_DATA.Reserved carries
    GUID interfaceClass{};
    Device* device = nullptr; // the device exposing it; devices are never freed before a Reset
    SimWString devicePath;    // "\\?\<instance id, '\' as '#', lower case>#{class}"
    SimWString keyPath;       // HKLM path of the interface's registry key
};

struct Device {
    DWORD devInst = 0; // devnode number; also what SP_DEVINFO_DATA.Reserved carries
    SimWString instanceId;
    bool present = true;
    SimMap<DWORD, DeviceProperty> properties;
    SimMap<DWORD, DeviceProperty> changesAfterProbe; // winsim::ChangeDevicePropertyAfterProbe
    SimVector<std::shared_ptr<DeviceInterface>> interfaces;
};

struct DeviceSet {
    SimVector<std::shared_ptr<Device>> devices;
    SimVector<std::shared_ptr<DeviceInterface>> interfaces; // filled for DIGCF_DEVICEINTERFACE lists
};

// Looks an instance id up as Windows does, without regard to letter case; null when unknown.
std::shared_ptr<Device> FindDevice(const SimWString& instanceId);
// Finds or adds the device.
std::shared_ptr<Device> EnsureDevice(const SimWString& instanceId);
const SimVector<std::shared_ptr<Device>>& AllDevices();

HDEVINFO NewDeviceSet(DeviceSet set);
DeviceSet* FindDeviceSet(HDEVINFO handle);
bool DestroyDeviceSet(HDEVINFO handle);
size_t DeviceSetCount();

ULONG_PTR NextInterfaceId();
void ResetDevices();

} // namespace winsim_detail
