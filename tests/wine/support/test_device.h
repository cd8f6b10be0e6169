// A device that exists in the device-installation service's own database for the length of a scenario:
// created and registered through SetupAPI, with its hardware key and device interfaces, and removed again
// when the object goes.
#pragma once

#include "tests/wine/support/registry_values.h"

#include <windows.h>
#include <setupapi.h>

#include <string>
#include <vector>

namespace winetest {

class TestDevice {
  public:
    // Creates and registers the root-enumerated device "ROOT\<enumeratorName>\0000" of the given setup
    // class (or, when `enumeratorName` holds backslashes, the device of that whole instance identifier),
    // with the device description when one is given. A device left over by an earlier run under that
    // identifier is removed first.
    TestDevice(const wchar_t* enumeratorName, const wchar_t* description, const GUID& setupClass);
    ~TestDevice();
    TestDevice(const TestDevice&) = delete;
    TestDevice& operator=(const TestDevice&) = delete;

    bool IsRegistered() const { return registered; }
    // Which step failed and its error, when the device could not be registered.
    const std::string& Failure() const { return failure; }

    HDEVINFO Set() const { return set; }
    PSP_DEVINFO_DATA Element() { return &element; }
    // The identifier as the service reports it (Wine upper-cases the one it was given).
    const std::wstring& InstanceId() const { return instanceId; }

    // Writes a REG_SZ into the device's hardware key ("...\Enum\<id>\Device Parameters").
    LONG SetHardwareText(const wchar_t* name, const wchar_t* text);

    // Writes a REG_MULTI_SZ of one string into the device's driver (software) key, where an INF's HKR
    // lines in the install section put their values.
    LONG SetDriverMultiText(const wchar_t* name, const std::wstring& text);

    // Creates a device interface of the class and makes it present: an interface is enumerated with
    // DIGCF_PRESENT only once the "Control" subkey of its DeviceClasses entry says "Linked" = 1, which on
    // Windows the driver's start does and here is written directly. False, with the reason in
    // Failure(), when the interface is still not enumerated as present afterwards.
    bool ExposeInterface(const GUID& interfaceClass);

    // Reads a value from the registry key of this device's interface of the class, through
    // SetupDiOpenDeviceInterfaceRegKey.
    RegistryValue ReadInterfaceValue(const GUID& interfaceClass, const wchar_t* name);

  private:
    struct ExposedInterface {
        GUID interfaceClass;
        SP_DEVICE_INTERFACE_DATA data;
    };

    const ExposedInterface* FindInterface(const GUID& interfaceClass) const;
    void Fail(const char* step);

    HDEVINFO set = INVALID_HANDLE_VALUE;
    SP_DEVINFO_DATA element = {};
    std::wstring instanceId;
    bool registered = false;
    std::string failure;
    std::vector<ExposedInterface> interfaces;
};

// Whether a present device interface of the class belongs to the device with this identifier, and at
// which enumeration index; -1 when none does.
int PresentInterfaceIndex(const GUID& interfaceClass, const std::wstring& instanceId);

} // namespace winetest
