#include "coinstaller/install_device.h"

#include "coinstaller/registry_key.h"
#include "coinstaller/registry_names.h"
#include "coinstaller/two_call_read.h"

// The installation service checks the size members against its own structure sizes (64-bit layouts).
static_assert(sizeof(SP_DEVINFO_DATA) == 32, "SP_DEVINFO_DATA must have its 64-bit Windows size");
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32, "SP_DEVICE_INTERFACE_DATA must have its 64-bit size");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8,
              "SP_DEVICE_INTERFACE_DETAIL_DATA_W must have its 64-bit size");

namespace {

// Device instance identifiers of the listed devices are read into a buffer of this many characters.
const DWORD instanceIdCharacters = 2048;

// True when the device behind `element` is the device `storedInstanceId`, compared exactly.
bool IsStoredDevice(HDEVINFO list, PSP_DEVINFO_DATA element, const WideString& storedInstanceId) {
    WCHAR* instanceId = new WCHAR[instanceIdCharacters];
    if (instanceId == nullptr) {
        return false;
    }
    bool same = false;
    DWORD returned = 0;
    if (SetupDiGetDeviceInstanceIdW(list, element, instanceId, instanceIdCharacters, &returned)) {
        same = storedInstanceId.Equals(instanceId, WideLengthBounded(instanceId, instanceIdCharacters));
    }
    delete[] instanceId;
    return same;
}

// Walks the interfaces of the list until one belongs to the stored device. On a match `interfaceData`
// describes that interface.
bool FindStoredDeviceInterface(HDEVINFO list, const GUID& interfaceClass, const WideString& storedInstanceId,
                               SP_DEVICE_INTERFACE_DATA& interfaceData) {
    SP_DEVINFO_DATA* element = new SP_DEVINFO_DATA;
    if (element == nullptr) {
        return false;
    }
    *element = SP_DEVINFO_DATA();
    element->cbSize = sizeof(SP_DEVINFO_DATA);

    bool matched = false;
    DWORD index = 0;
    // The last error the last call of an iteration left, 0 after a success: the search goes on only while
    // it is 0.
    DWORD lastError = ERROR_SUCCESS;
    do {
        // A failed enumeration ends the search, also one that leaves no error code behind: going on would
        // ask for the same index for ever.
        if (!SetupDiEnumDeviceInterfaces(list, nullptr, &interfaceClass, index, &interfaceData)) {
            break;
        }

        // The read fills the element with the device that exposes the interface; the path is not needed.
        // A probe that fails otherwise than for want of a buffer, a size below the detail's header, a block
        // that cannot be had or a failed read ends the search, unless the failed call left no error code.
        TwoCallRead<ModuleStorage> detail;
        bool detailed = detail.Read(
            [&](BYTE* buffer, DWORD size, DWORD* required) {
                auto* detailData = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer);
                if (detailData != nullptr) {
                    detailData->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
                }
                BOOL succeeded =
                    SetupDiGetDeviceInterfaceDetailW(list, &interfaceData, detailData, size, required,
                                                     detailData != nullptr ? element : nullptr);
                lastError = succeeded ? ERROR_SUCCESS : GetLastError();
                return StatusOf(succeeded);
            },
            [](DWORD probeStatus, DWORD size) {
                return probeStatus == ERROR_INSUFFICIENT_BUFFER &&
                       size >= sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            });
        if (detailed) {
            matched = IsStoredDevice(list, element, storedInstanceId);
        }
        ++index;
    } while (lastError == ERROR_SUCCESS && !matched);

    delete element;
    return matched;
}

// Replaces `text` with the block's characters up to the first NUL, never reading beyond the block; `text`
// changes only once the copy is complete.
bool TakeText(const TwoCallRead<ModuleStorage>& read, WideString& text) {
    const WCHAR* characters = read.As<WCHAR>();
    WideString taken(characters, WideLengthBounded(characters, read.BlockBytes() / sizeof(WCHAR)));
    if (!taken.IsValid()) {
        return false;
    }
    text.Swap(taken);
    return true;
}

} // namespace

int32_t CInstallDevice::BindUsbCompanionPort() {
    WideString portName;
    if (!ReadPortName(portName)) {
        return -1;
    }
    // An empty marker (its storage missing) would be found in every name.
    if (!usbPortMarker.IsValid() || !portName.Contains(usbPortMarker.c_str())) {
        return -1;
    }
    // Without the selector's names the companion cannot be told, and a port name written for the wrong
    // companion is worse than none.
    if (!settingsKeyPath.IsValid() || !deviceTypeValueName.IsValid()) {
        return -1;
    }

    // The selector is consumed: read once, then deleted, so that it applies to this installation only.
    // Whatever the read left in it decides, also the bytes of a short value of another type.
    DWORD selector = 0;
    CRegistryKey settingsKey;
    if (settingsKey.Open(HKEY_LOCAL_MACHINE, settingsKeyPath, AccessAll)) {
        settingsKey.ReadDword(deviceTypeValueName, selector);
        settingsKey.DeleteValue(deviceTypeValueName);
    }

    int32_t result;
    if (selector != 0) {
        result = BindCompanion(bulkInstanceValueName, alternateCompanionInterfaceClass, portName,
                               alternateCompanionKeyPath);
    } else {
        result = BindCompanion(bulkInstanceValueName, defaultCompanionInterfaceClass, portName,
                               defaultCompanionKeyPath);
    }
    settingsKey.Close();
    return result;
}

bool CInstallDevice::ReadPortName(WideString& portName) {
    WideString instanceId;
    if (!GetDeviceInstanceId(instanceId)) {
        return false;
    }
    // An incomplete path is never opened: the wrapper refuses an invalid string.
    WideString hardwareKeyPath(hardwareKeyPathPrefix);
    hardwareKeyPath.Append(instanceId);
    hardwareKeyPath.Append(hardwareKeyPathSuffix);

    CRegistryKey hardwareKey;
    bool read = hardwareKey.Open(HKEY_LOCAL_MACHINE, hardwareKeyPath, AccessRead) &&
                hardwareKey.ReadString(portValueName, portName);
    hardwareKey.Close();
    return read;
}

bool CInstallDevice::GetDeviceInstanceId(WideString& instanceId) {
    if (deviceInfoSet == nullptr || deviceInfoData == nullptr) {
        return false;
    }
    // Sizes in characters, NUL included.
    TwoCallRead<ModuleStorage> read;
    if (!read.Read(
            [&](BYTE* buffer, DWORD size, DWORD* required) {
                return StatusOf(SetupDiGetDeviceInstanceIdW(deviceInfoSet, deviceInfoData,
                                                            reinterpret_cast<PWSTR>(buffer), size, required));
            },
            SizeAtLeast(1), sizeof(WCHAR)) ||
        read.Reported() != read.Probed()) {
        return false;
    }
    return TakeText(read, instanceId);
}

int32_t CInstallDevice::BindCompanion(const WideString& instanceValueName, const GUID& interfaceClass,
                                      const WideString& portName, const WideString& companionKeyPath) {
    int32_t result = -1;
    // A missing instance value sends the port name into the companion key; a name that could not be built
    // must not be mistaken for a missing value.
    if (!instanceValueName.IsValid() || !portName.IsValid()) {
        return result;
    }
    CRegistryKey companionKey;
    if (!companionKey.Open(HKEY_LOCAL_MACHINE, companionKeyPath, AccessAll, true)) {
        companionKey.Close();
        return result;
    }

    WideString instanceId;
    if (companionKey.ReadString(instanceValueName, instanceId)) {
        // The companion is known: its interface key is the only place for the port name.
        result = WritePortNameToInterface(instanceId, portName, interfaceClass);
    } else if (companionKey.WriteString(portValueName, portName)) {
        // An instance that cannot be read (absent, not text, or no memory to read it into) leaves the
        // companion unknown, and the companion key itself takes the port name.
        result = 0;
    }
    companionKey.Close();
    return result;
}

int32_t CInstallDevice::WritePortNameToInterface(const WideString& storedInstanceId,
                                                 const WideString& portName, const GUID& interfaceClass) {
    if (!storedInstanceId.IsValid() || !portName.IsValid() || !portValueName.IsValid()) {
        return -1;
    }
    HDEVINFO list =
        SetupDiGetClassDevsW(&interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) {
        return -1;
    }

    SP_DEVICE_INTERFACE_DATA interfaceData = SP_DEVICE_INTERFACE_DATA();
    interfaceData.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
    if (!FindStoredDeviceInterface(list, interfaceClass, storedInstanceId, interfaceData)) {
        SetupDiDestroyDeviceInfoList(list);
        return -1;
    }

    // The service opens the interface key for writing only; a handle of the wrapper's own is taken on it.
    HKEY interfaceKey =
        SetupDiCreateDeviceInterfaceRegKeyW(list, &interfaceData, 0, KEY_WRITE, nullptr, nullptr);
    if (interfaceKey == static_cast<HKEY>(INVALID_HANDLE_VALUE) || interfaceKey == nullptr) {
        SetupDiDestroyDeviceInfoList(list);
        return -1;
    }
    int32_t result = -1;
    CRegistryKey interfaceKeyAccess;
    if (interfaceKeyAccess.Attach(interfaceKey, AccessAll) &&
        interfaceKeyAccess.WriteString(portValueName, portName)) {
        result = 0;
    }
    SetupDiDestroyDeviceInfoList(list);
    interfaceKeyAccess.Close();
    RegCloseKey(interfaceKey);
    return result;
}

bool CInstallDevice::GetRegistryPropertyString(DWORD property, WideString& text) {
    if (deviceInfoSet == nullptr || deviceInfoData == nullptr) {
        return false;
    }
    // Sizes in bytes. The block holds twice the reported bytes, zero-filled: whatever the property's data,
    // a NUL follows it.
    DWORD type = REG_NONE;
    TwoCallRead<ModuleStorage> read;
    if (!read.Read(
            [&](BYTE* buffer, DWORD size, DWORD* required) {
                return StatusOf(SetupDiGetDeviceRegistryPropertyW(deviceInfoSet, deviceInfoData, property,
                                                                  &type, buffer, size, required));
            },
            SizeAtLeast(1), 2) ||
        read.Reported() != read.Probed()) {
        return false;
    }
    return TakeText(read, text);
}
