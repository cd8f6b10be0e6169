// CInstallDevice: the device that an install request is about, as the installation service hands it to
// the co-installer. The record borrows the request's device information set and element; it releases
// nothing.
#pragma once

#include "coinstaller/wide_string.h"
#include "platform/platform.h"

#include <cstdint>

class CInstallDevice {
  public:
    CInstallDevice(HDEVINFO set, PSP_DEVINFO_DATA element) : deviceInfoSet(set), deviceInfoData(element) {}

    // Tells a USB printer's companion which port the printer uses (pre pass). 0 when the port name was
    // written, -1 when the binding did not apply or failed.
    int32_t BindUsbCompanionPort();
    // The printer's port name from the device's hardware key.
    bool ReadPortName(WideString& portName);
    // The device's instance identifier; `instanceId` changes only on success.
    bool GetDeviceInstanceId(WideString& instanceId);
    // Writes the port name into the interface key of the companion named by `instanceValueName` in the
    // companion key, or, when no name can be read there (none, not text, or no memory to read it), into
    // the companion key itself. 0 or -1.
    int32_t BindCompanion(const WideString& instanceValueName, const GUID& interfaceClass,
                          const WideString& portName, const WideString& companionKeyPath);
    // Finds the present interface of `interfaceClass` exposed by the device `storedInstanceId` (exact
    // match) and writes the port name into that interface's registry key. 0 or -1.
    int32_t WritePortNameToInterface(const WideString& storedInstanceId, const WideString& portName,
                                     const GUID& interfaceClass);
    // One device registry property (SPDRP_*) as text, up to its first NUL; `text` changes only on success.
    bool GetRegistryPropertyString(DWORD property, WideString& text);

  private:
    HDEVINFO deviceInfoSet;
    PSP_DEVINFO_DATA deviceInfoData;
};
