// State of the simulated device tree: devices by instance id, their properties and interfaces, and the
// device information sets (HDEVINFO) that SetupAPI hands out.
#include "winsim/setupapi/store.h"

#include "winsim/core/text.h"

namespace winsim_detail {
namespace {

// Device information sets are pointers on Windows; a range of their own keeps them apart from the
// simulation's key and printer handles.
constexpr ULONG_PTR kFirstSetHandle = 0xB00000;

struct DeviceState {
    SimVector<std::shared_ptr<Device>> devices;
    SimMap<ULONG_PTR, DeviceSet> sets;
    ULONG_PTR nextSet = kFirstSetHandle;
    DWORD nextDevInst = 1;
    ULONG_PTR nextInterface = 1;
};

// Never destroyed: see the note on the failure state.
DeviceState& Devices() {
    static DeviceState* state = new (std::malloc(sizeof(DeviceState))) DeviceState();
    return *state;
}

} // namespace

std::shared_ptr<Device> FindDevice(const SimWString& instanceId) {
    for (const auto& device : Devices().devices) {
        if (EqualsIgnoringCase(device->instanceId, instanceId)) {
            return device;
        }
    }
    return nullptr;
}

std::shared_ptr<Device> EnsureDevice(const SimWString& instanceId) {
    if (std::shared_ptr<Device> device = FindDevice(instanceId)) {
        return device;
    }
    auto device = MakeShared<Device>();
    device->devInst = Devices().nextDevInst++;
    device->instanceId = instanceId;
    Devices().devices.push_back(device);
    return device;
}

const SimVector<std::shared_ptr<Device>>& AllDevices() {
    return Devices().devices;
}

HDEVINFO NewDeviceSet(DeviceSet set) {
    ULONG_PTR value = Devices().nextSet;
    Devices().nextSet += 8;
    Devices().sets.emplace(value, std::move(set));
    return reinterpret_cast<HDEVINFO>(value);
}

DeviceSet* FindDeviceSet(HDEVINFO handle) {
    auto found = Devices().sets.find(reinterpret_cast<ULONG_PTR>(handle));
    return found == Devices().sets.end() ? nullptr : &found->second;
}

bool DestroyDeviceSet(HDEVINFO handle) {
    return Devices().sets.erase(reinterpret_cast<ULONG_PTR>(handle)) != 0;
}

size_t DeviceSetCount() {
    return Devices().sets.size();
}

ULONG_PTR NextInterfaceId() {
    return Devices().nextInterface++;
}

void ResetDevices() {
    // Interfaces point at their devices without owning them: drop the sets before the devices.
    Devices().sets.clear();
    Devices().devices.clear();
}

} // namespace winsim_detail
