#include "coinstaller/install_device.h"

#include "coinstaller/registry_key.h"
#include "coinstaller/usb_binding_names.h"
#include "platform/portability.h"

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
    if (!machineSettingsKeyPath.IsValid() || !deviceTypeValueName.IsValid()) {
        return -1;
    }

    // The selector is consumed: read once, then deleted, so that it applies to this installation only.
    // Whatever the read left in it decides, also the bytes of a short value of another type.
    DWORD selector = 0;
    CRegistryKey settingsKey;
    if (settingsKey.Open(HKEY_LOCAL_MACHINE, machineSettingsKeyPath, AccessAll)) {
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
    if (!GetDeviceInstanceId(deviceInfoSet, deviceInfoData, instanceId)) {
        return false;
    }
    // An incomplete path is never opened: the wrapper refuses an invalid string.
    WideString hardwareKeyPath(W("System\\CurrentControlSet\\Enum\\"));
    hardwareKeyPath.Append(instanceId);
    hardwareKeyPath.Append(W("\\Device Parameters"));

    CRegistryKey hardwareKey;
    bool read = hardwareKey.Open(HKEY_LOCAL_MACHINE, hardwareKeyPath, AccessRead) &&
                hardwareKey.ReadString(portValueName, portName);
    hardwareKey.Close();
    return read;
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
    } else if (companionKey.LastError() != ERROR_NOT_ENOUGH_MEMORY) {
        // The value is absent or not text. (Running out of memory while reading it says nothing about
        // whether the companion is known, so nothing is written then.)
        if (companionKey.WriteString(portValueName, portName)) {
            result = 0;
        }
    }
    companionKey.Close();
    return result;
}
