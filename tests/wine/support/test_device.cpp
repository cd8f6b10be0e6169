#include "tests/wine/support/test_device.h"

#include <cstdio>
#include <vector>

namespace winetest {

namespace {

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40] = {};
    std::swprintf(text, 40, L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1, guid.Data2,
                  guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
                  guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

// The device path of an interface ("\\?\root#...#{guid}"), empty when it cannot be read; `owner` (may be
// null) receives the element of the device that exposes it.
std::wstring InterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data, SP_DEVINFO_DATA* owner = nullptr) {
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailW(set, data, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        return std::wstring();
    }
    std::vector<BYTE> buffer(required);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(set, data, detail, required, nullptr, owner)) {
        return std::wstring();
    }
    return detail->DevicePath;
}

std::wstring InstanceIdOf(HDEVINFO set, SP_DEVINFO_DATA* element) {
    wchar_t id[2048] = {};
    if (!SetupDiGetDeviceInstanceIdW(set, element, id, 2048, nullptr)) {
        return std::wstring();
    }
    return id;
}

void RemoveLeftover(const GUID& setupClass, const std::wstring& id) {
    HDEVINFO stale = SetupDiCreateDeviceInfoList(&setupClass, nullptr);
    if (stale == INVALID_HANDLE_VALUE) {
        return;
    }
    SP_DEVINFO_DATA leftover = {};
    leftover.cbSize = sizeof(leftover);
    if (SetupDiOpenDeviceInfoW(stale, id.c_str(), nullptr, 0, &leftover)) {
        SetupDiRemoveDevice(stale, &leftover);
    }
    SetupDiDestroyDeviceInfoList(stale);
}

} // namespace

TestDevice::TestDevice(const wchar_t* enumeratorName, const wchar_t* description, const GUID& setupClass) {
    const std::wstring name = enumeratorName;
    const std::wstring requestedId =
        name.find(L'\\') != std::wstring::npos ? name : L"ROOT\\" + name + L"\\0000";
    RemoveLeftover(setupClass, requestedId);

    set = SetupDiCreateDeviceInfoList(&setupClass, nullptr);
    if (set == INVALID_HANDLE_VALUE) {
        Fail("SetupDiCreateDeviceInfoList");
        return;
    }
    element.cbSize = sizeof(element);
    if (!SetupDiCreateDeviceInfoW(set, requestedId.c_str(), &setupClass, description, nullptr, 0, &element)) {
        Fail("SetupDiCreateDeviceInfoW");
        return;
    }
    if (!SetupDiRegisterDeviceInfo(set, &element, 0, nullptr, nullptr, nullptr)) {
        Fail("SetupDiRegisterDeviceInfo");
        SetupDiDeleteDeviceInfo(set, &element);
        return;
    }
    registered = true;
    instanceId = InstanceIdOf(set, &element);
}

TestDevice::~TestDevice() {
    if (set == INVALID_HANDLE_VALUE) {
        return;
    }
    for (ExposedInterface& exposed : interfaces) {
        SetupDiRemoveDeviceInterface(set, &exposed.data);
    }
    if (registered) {
        SetupDiRemoveDevice(set, &element);
    }
    SetupDiDestroyDeviceInfoList(set);
}

void TestDevice::Fail(const char* step) {
    char message[160];
    std::snprintf(message, sizeof(message), "%s failed, error %lu", step, GetLastError());
    failure = message;
}

LONG TestDevice::SetHardwareText(const wchar_t* name, const wchar_t* text) {
    HKEY key = SetupDiCreateDevRegKeyW(set, &element, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
    if (key == INVALID_HANDLE_VALUE) {
        return static_cast<LONG>(GetLastError());
    }
    const std::wstring value = text;
    const LONG status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status;
}

LONG TestDevice::SetDriverMultiText(const wchar_t* name, const std::wstring& text) {
    HKEY key = SetupDiCreateDevRegKeyW(set, &element, DICS_FLAG_GLOBAL, 0, DIREG_DRV, nullptr, nullptr);
    if (key == INVALID_HANDLE_VALUE) {
        return static_cast<LONG>(GetLastError());
    }
    std::wstring list = text;
    list.push_back(L'\0'); // the list's own terminator; c_str() adds the string's
    const LONG status =
        RegSetValueExW(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list.c_str()),
                       static_cast<DWORD>((list.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status;
}

bool TestDevice::ExposeInterface(const GUID& interfaceClass) {
    ExposedInterface exposed = {interfaceClass, {}};
    exposed.data.cbSize = sizeof(exposed.data);
    if (!SetupDiCreateDeviceInterfaceW(set, &element, &interfaceClass, nullptr, 0, &exposed.data)) {
        Fail("SetupDiCreateDeviceInterfaceW");
        return false;
    }
    interfaces.push_back(exposed);

    // "\\?\root#x#0000#{guid}" is kept under DeviceClasses\{GUID}\##?#root#x#0000#{guid}\#.
    const std::wstring path = InterfacePath(set, &interfaces.back().data);
    if (path.size() <= 4) {
        Fail("SetupDiGetDeviceInterfaceDetailW");
        return false;
    }
    const std::wstring control = L"System\\CurrentControlSet\\Control\\DeviceClasses\\" +
                                 GuidText(interfaceClass) + L"\\##?#" + path.substr(4) + L"\\#\\Control";
    const LONG status = WriteDword(HKEY_LOCAL_MACHINE, control.c_str(), L"Linked", 1);
    if (status != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(status));
        Fail("writing Control\\Linked");
        return false;
    }
    if (PresentInterfaceIndex(interfaceClass, instanceId) < 0) {
        failure = "the interface is not enumerated as present even with Control\\Linked = 1";
        return false;
    }
    return true;
}

const TestDevice::ExposedInterface* TestDevice::FindInterface(const GUID& interfaceClass) const {
    for (const ExposedInterface& exposed : interfaces) {
        if (IsEqualGUID(exposed.interfaceClass, interfaceClass)) {
            return &exposed;
        }
    }
    return nullptr;
}

RegistryValue TestDevice::ReadInterfaceValue(const GUID& interfaceClass, const wchar_t* name) {
    RegistryValue value;
    const ExposedInterface* exposed = FindInterface(interfaceClass);
    if (exposed == nullptr) {
        value.status = static_cast<LONG>(ERROR_NO_SUCH_DEVICE_INTERFACE);
        return value;
    }
    SP_DEVICE_INTERFACE_DATA data = exposed->data;
    HKEY key = SetupDiOpenDeviceInterfaceRegKey(set, &data, 0, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) {
        value.status = static_cast<LONG>(GetLastError());
        return value;
    }
    value = ReadValueFromKey(key, name);
    RegCloseKey(key);
    return value;
}

int PresentInterfaceIndex(const GUID& interfaceClass, const std::wstring& instanceId) {
    HDEVINFO list =
        SetupDiGetClassDevsW(&interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) {
        return -1;
    }
    int found = -1;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof(data);
    for (DWORD index = 0;
         found < 0 && SetupDiEnumDeviceInterfaces(list, nullptr, &interfaceClass, index, &data); ++index) {
        SP_DEVINFO_DATA owner = {};
        owner.cbSize = sizeof(owner);
        if (!InterfacePath(list, &data, &owner).empty() && InstanceIdOf(list, &owner) == instanceId) {
            found = static_cast<int>(index);
        }
    }
    SetupDiDestroyDeviceInfoList(list);
    return found;
}

} // namespace winetest
