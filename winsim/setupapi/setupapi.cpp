// Device-installation functions of the simulation (setupapi) over the device tree of store.h; setupapi.h
// says what is modelled.
#include "winsim/control/devices.h"
#include "winsim/core/entry.h"
#include "winsim/core/text.h"
#include "winsim/kernel/last_error.h"
#include "winsim/registry/store.h"
#include "winsim/setupapi/setupapi.h"
#include "winsim/setupapi/store.h"

#include <cstring>

using namespace winsim_detail;

namespace {

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// winsim::KeepLastErrorOnSuccess: Wine's SetupAPI leaves the last error alone on success.
bool keepLastErrorOnSuccess = false;

void ReportSuccess() {
    if (!keepLastErrorOnSuccess) {
        SetLastError(ERROR_SUCCESS);
    }
}

BOOL Succeed() {
    ReportSuccess();
    return TRUE;
}

bool SameGuid(const GUID& left, const GUID& right) {
    return std::memcmp(&left, &right, sizeof(GUID)) == 0;
}

bool MatchesEnumerator(const Device& device, const WCHAR* enumerator) {
    if (enumerator == nullptr || *enumerator == 0) {
        return true;
    }
    SimWString wanted(enumerator);
    const SimWString& id = device.instanceId;
    if (id.size() < wanted.size()) {
        return false;
    }
    for (size_t i = 0; i < wanted.size(); ++i) {
        if (FoldCase(id[i]) != FoldCase(wanted[i])) {
            return false;
        }
    }
    return id.size() == wanted.size() || id[wanted.size()] == u'\\';
}

// The device of an element of `set`; 0 or the error to report.
DWORD DeviceOfElement(const DeviceSet& set, const SP_DEVINFO_DATA* element, Device** device) {
    if (element == nullptr || element->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return ERROR_INVALID_PARAMETER;
    }
    for (const auto& candidate : set.devices) {
        if (candidate->devInst == element->Reserved) {
            *device = candidate.get();
            return ERROR_SUCCESS;
        }
    }
    return ERROR_INVALID_PARAMETER;
}

DWORD InterfaceOfData(const DeviceSet& set, const SP_DEVICE_INTERFACE_DATA* data, DeviceInterface** found) {
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || data->Reserved == 0) {
        return ERROR_INVALID_PARAMETER;
    }
    for (const auto& device : set.devices) {
        for (const auto& candidate : device->interfaces) {
            if (candidate->id == data->Reserved) {
                *found = candidate.get();
                return ERROR_SUCCESS;
            }
        }
    }
    return ERROR_INVALID_PARAMETER;
}

// Every element and interface query starts alike: the injected failure, the set's handle, then what the
// caller names in it. These answer whether the device or interface was found; if not, *error holds the
// error to report.
bool DeviceOfCall(const PlatformCall& call, HDEVINFO handle, const SP_DEVINFO_DATA* element, Device** device,
                  DWORD* error) {
    if (call.Fails(error)) {
        return false;
    }
    DeviceSet* set = FindDeviceSet(handle);
    *error = set == nullptr ? ERROR_INVALID_HANDLE : DeviceOfElement(*set, element, device);
    return *error == ERROR_SUCCESS;
}

bool InterfaceOfCall(const PlatformCall& call, HDEVINFO handle, const SP_DEVICE_INTERFACE_DATA* data,
                     DeviceInterface** found, DWORD* error) {
    if (call.Fails(error)) {
        return false;
    }
    DeviceSet* set = FindDeviceSet(handle);
    *error = set == nullptr ? ERROR_INVALID_HANDLE : InterfaceOfData(*set, data, found);
    return *error == ERROR_SUCCESS;
}

// The second half of the two-call size protocol: the size needed goes to the caller's count (when it
// gave one) whether or not the buffer holds it; 0 when it does, or ERROR_INSUFFICIENT_BUFFER.
DWORD OfferSize(DWORD needed, DWORD available, PDWORD required) {
    if (required != nullptr) {
        *required = needed;
    }
    return available < needed ? ERROR_INSUFFICIENT_BUFFER : ERROR_SUCCESS;
}

// A change armed with winsim::ChangeDevicePropertyAfterProbe takes effect once a probe has reported the
// property's size.
void TakeChangeAfterProbe(Device& device, DWORD property) {
    auto change = device.changesAfterProbe.find(property);
    if (change != device.changesAfterProbe.end()) {
        device.properties[property] = change->second;
        device.changesAfterProbe.erase(change);
    }
}

void FillElement(SP_DEVINFO_DATA* element, const Device& device) {
    element->ClassGuid = GUID{};
    element->DevInst = device.devInst;
    element->Reserved = device.devInst;
}

} // namespace

BOOL WINAPI SetupDiGetDeviceInstanceIdW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        PWSTR DeviceInstanceId, DWORD DeviceInstanceIdSize,
                                        PDWORD RequiredSize) {
    PlatformCall call("SetupDiGetDeviceInstanceIdW");
    Device* device = nullptr;
    DWORD error = 0;
    if (!DeviceOfCall(call, DeviceInfoSet, DeviceInfoData, &device, &error)) {
        return Fail(error);
    }
    if (DeviceInstanceId == nullptr && DeviceInstanceIdSize != 0) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    DWORD needed = static_cast<DWORD>(device->instanceId.size() + 1);
    if ((error = OfferSize(needed, DeviceInstanceIdSize, RequiredSize)) != ERROR_SUCCESS) {
        return Fail(error);
    }
    std::memcpy(DeviceInstanceId, device->instanceId.c_str(), needed * sizeof(WCHAR));
    return Succeed();
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                              DWORD Property, PDWORD PropertyRegDataType,
                                              PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                              PDWORD RequiredSize) {
    PlatformCall call("SetupDiGetDeviceRegistryPropertyW");
    Device* device = nullptr;
    DWORD error = 0;
    if (!DeviceOfCall(call, DeviceInfoSet, DeviceInfoData, &device, &error)) {
        return Fail(error);
    }
    if (Property >= SPDRP_MAXIMUM_PROPERTY) {
        return Fail(ERROR_INVALID_REG_PROPERTY);
    }
    if (PropertyBuffer == nullptr && PropertyBufferSize != 0) {
        return Fail(ERROR_INVALID_DATA);
    }
    auto found = device->properties.find(Property);
    // An empty property reads as a missing one on Windows.
    if (found == device->properties.end() || found->second.data.empty()) {
        return Fail(ERROR_INVALID_DATA);
    }
    const DeviceProperty& property = found->second;
    DWORD needed = static_cast<DWORD>(property.data.size());
    if (PropertyRegDataType != nullptr) {
        *PropertyRegDataType = property.type;
    }
    if ((error = OfferSize(needed, PropertyBufferSize, RequiredSize)) != ERROR_SUCCESS) {
        TakeChangeAfterProbe(*device, Property);
        return Fail(error);
    }
    std::memcpy(PropertyBuffer, property.data.data(), needed);
    return Succeed();
}

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* ClassGuid, PCWSTR Enumerator, HWND, DWORD Flags) {
    PlatformCall call("SetupDiGetClassDevsW");
    if (call.FailsWithLastError()) {
        return INVALID_HANDLE_VALUE;
    }
    bool allClasses = (Flags & DIGCF_ALLCLASSES) != 0;
    if (ClassGuid == nullptr && !allClasses) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    DeviceSet set;
    for (const auto& device : AllDevices()) {
        if (((Flags & DIGCF_PRESENT) && !device->present) || !MatchesEnumerator(*device, Enumerator)) {
            continue;
        }
        bool member = false;
        if (Flags & DIGCF_DEVICEINTERFACE) {
            for (const auto& iface : device->interfaces) {
                if (allClasses || SameGuid(iface->interfaceClass, *ClassGuid)) {
                    set.interfaces.push_back(iface);
                    member = true;
                }
            }
        } else {
            member = allClasses; // every device's setup class is GUID_NULL in the simulation
        }
        if (member) {
            set.devices.push_back(device);
        }
    }
    HDEVINFO handle = NewDeviceSet(std::move(set));
    ReportSuccess();
    return handle;
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                        PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
    PlatformCall call("SetupDiEnumDeviceInterfaces");
    DWORD error = 0;
    if (call.Fails(&error)) {
        return Fail(error);
    }
    DeviceSet* set = FindDeviceSet(DeviceInfoSet);
    if (set == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (DeviceInterfaceData == nullptr || DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        InterfaceClassGuid == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    // With an element, the device's own interfaces; without, those the list was built with.
    const SimVector<std::shared_ptr<DeviceInterface>>* candidates = &set->interfaces;
    if (DeviceInfoData != nullptr) {
        Device* device = nullptr;
        if ((error = DeviceOfElement(*set, DeviceInfoData, &device)) != ERROR_SUCCESS) {
            return Fail(error);
        }
        candidates = &device->interfaces;
    }
    DWORD index = 0;
    for (const auto& iface : *candidates) {
        if (!SameGuid(iface->interfaceClass, *InterfaceClassGuid)) {
            continue;
        }
        if (index++ == MemberIndex) {
            DeviceInterfaceData->InterfaceClassGuid = iface->interfaceClass;
            DeviceInterfaceData->Flags = iface->device->present ? SPINT_ACTIVE : 0;
            DeviceInterfaceData->Reserved = iface->id;
            return Succeed();
        }
    }
    return Fail(ERROR_NO_MORE_ITEMS);
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO DeviceInfoSet,
                                             PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
                                             DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                             PSP_DEVINFO_DATA DeviceInfoData) {
    PlatformCall call("SetupDiGetDeviceInterfaceDetailW");
    DeviceInterface* iface = nullptr;
    DWORD error = 0;
    if (!InterfaceOfCall(call, DeviceInfoSet, DeviceInterfaceData, &iface, &error)) {
        return Fail(error);
    }
    if (DeviceInterfaceDetailData != nullptr
            ? DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)
            : DeviceInterfaceDetailDataSize != 0) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (DeviceInfoData != nullptr && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    size_t pathBytes = (iface->devicePath.size() + 1) * sizeof(WCHAR);
    DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + pathBytes);
    if (DeviceInfoData != nullptr) {
        FillElement(DeviceInfoData, *iface->device);
    }
    if ((error = OfferSize(needed, DeviceInterfaceDetailDataSize, RequiredSize)) != ERROR_SUCCESS) {
        return Fail(error);
    }
    std::memcpy(DeviceInterfaceDetailData->DevicePath, iface->devicePath.c_str(), pathBytes);
    return Succeed();
}

HKEY WINAPI SetupDiCreateDeviceInterfaceRegKeyW(HDEVINFO DeviceInfoSet,
                                                PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData, DWORD,
                                                REGSAM samDesired, HINF InfHandle, PCWSTR InfSectionName) {
    PlatformCall call("SetupDiCreateDeviceInterfaceRegKeyW");
    DeviceInterface* iface = nullptr;
    DWORD error = 0;
    bool found = InterfaceOfCall(call, DeviceInfoSet, DeviceInterfaceData, &iface, &error);
    if (found && InfHandle != nullptr && InfSectionName == nullptr) {
        error = ERROR_INVALID_PARAMETER;
        found = false;
    }
    HKEY key = nullptr;
    if (found) {
        error = static_cast<DWORD>(OpenOrCreateKey(HKEY_LOCAL_MACHINE, iface->keyPath, samDesired, true,
                                                   REG_OPTION_NON_VOLATILE, &key, nullptr));
    }
    if (!found || error != ERROR_SUCCESS) {
        SetLastError(error);
        return reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    }
    ReportSuccess();
    return key;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    PlatformCall call("SetupDiDestroyDeviceInfoList");
    DWORD error = 0;
    if (call.Fails(&error)) {
        return Fail(error);
    }
    return DestroyDeviceSet(DeviceInfoSet) ? Succeed() : Fail(ERROR_INVALID_HANDLE);
}

namespace winsim {

void KeepLastErrorOnSuccess(bool keep) {
    ControlCall call;
    keepLastErrorOnSuccess = keep;
}

} // namespace winsim
