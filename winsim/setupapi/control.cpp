// Test-facing control of the simulated device tree: devices, their properties and interfaces, and the
// device information set that the installation service hands a co-installer.
#include "winsim/control/devices.h"
#include "winsim/core/entry.h"
#include "winsim/core/text.h"
#include "winsim/registry/store.h"
#include "winsim/setupapi/store.h"

using namespace winsim_detail;

namespace {

// "{a6af917d-48e9-459a-95a1-3b9cd24d91e3}": the form Windows uses in device paths and DeviceClasses.
SimWString GuidText(const GUID& guid) {
    static const char16_t digits[] = u"0123456789abcdef";
    SimWString text(u"{");
    auto hex = [&text](uint64_t value, int count) {
        for (int shift = (count - 1) * 4; shift >= 0; shift -= 4) {
            text.push_back(digits[(value >> shift) & 0xF]);
        }
    };
    hex(guid.Data1, 8);
    text.push_back(u'-');
    hex(guid.Data2, 4);
    text.push_back(u'-');
    hex(guid.Data3, 4);
    text.push_back(u'-');
    hex(guid.Data4[0], 2);
    hex(guid.Data4[1], 2);
    text.push_back(u'-');
    for (int i = 2; i < 8; ++i) {
        hex(guid.Data4[i], 2);
    }
    text.push_back(u'}');
    return text;
}

SimWString LowerCase(SimWString text) {
    for (char16_t& unit : text) {
        if (unit >= u'A' && unit <= u'Z') {
            unit = static_cast<char16_t>(unit + 32);
        }
    }
    return text;
}

} // namespace

namespace winsim {

void AddDevice(const std::u16string& instanceId, bool present) {
    ControlCall call;
    EnsureDevice(ToSim(instanceId))->present = present;
}

void SetDeviceProperty(const std::u16string& instanceId, DWORD property, DWORD type, const Bytes& data) {
    ControlCall call;
    winsim_detail::DeviceProperty& stored = EnsureDevice(ToSim(instanceId))->properties[property];
    stored.type = type;
    stored.data.assign(data.begin(), data.end());
}

void ChangeDevicePropertyAfterProbe(const std::u16string& instanceId, DWORD property, DWORD type,
                                    const Bytes& data) {
    ControlCall call;
    winsim_detail::DeviceProperty& change = EnsureDevice(ToSim(instanceId))->changesAfterProbe[property];
    change.type = type;
    change.data.assign(data.begin(), data.end());
}

void SetDeviceStringProperty(const std::u16string& instanceId, DWORD property, const std::u16string& text) {
    SetDeviceProperty(instanceId, property, REG_SZ, StringBytes(text, true));
}

std::u16string AddInterface(const std::u16string& instanceId, const GUID& interfaceClass) {
    ControlCall call;
    std::shared_ptr<Device> device = EnsureDevice(ToSim(instanceId));
    auto iface = MakeShared<DeviceInterface>();
    iface->id = NextInterfaceId();
    iface->interfaceClass = interfaceClass;
    iface->device = device.get();
    SimWString linkName = LowerCase(device->instanceId);
    for (char16_t& unit : linkName) {
        if (unit == u'\\') {
            unit = u'#';
        }
    }
    linkName += u'#';
    linkName += GuidText(interfaceClass);
    iface->devicePath = SimWString(u"\\\\?\\") + linkName;
    // As Windows keeps it: the class key, the link's key ("##?#..."), and its reference-string key "#".
    SimWString linkKey = SimWString(u"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\") +
                         GuidText(interfaceClass) + u"\\##?#" + linkName;
    std::shared_ptr<RegKey> key = EnsureKey(HKEY_LOCAL_MACHINE, linkKey);
    StoreValue(*key, u"DeviceInstance", REG_SZ, reinterpret_cast<const BYTE*>(device->instanceId.c_str()),
               (device->instanceId.size() + 1) * sizeof(char16_t));
    EnsureKey(HKEY_LOCAL_MACHINE, linkKey + u"\\#");
    iface->keyPath = linkKey + u"\\#\\Device Parameters";
    device->interfaces.push_back(iface);
    return FromSim(iface->keyPath);
}

HDEVINFO CreateDeviceSet(const std::u16string& instanceId, SP_DEVINFO_DATA* element) {
    ControlCall call;
    DeviceSet set;
    std::shared_ptr<Device> device = EnsureDevice(ToSim(instanceId));
    set.devices.push_back(device);
    if (element != nullptr) {
        element->cbSize = sizeof(SP_DEVINFO_DATA);
        element->ClassGuid = GUID{};
        element->DevInst = device->devInst;
        element->Reserved = device->devInst;
    }
    return NewDeviceSet(std::move(set));
}

size_t OpenDeviceSetCount() {
    ControlCall call;
    return DeviceSetCount();
}

} // namespace winsim
