#include "coinstaller/install_device.h"

#include <cstring>

bool CInstallDevice::GetRegistryPropertyString(HDEVINFO set, PSP_DEVINFO_DATA element, DWORD property,
                                               WideString& text) {
    if (set == nullptr || element == nullptr) {
        return false;
    }
    // The probe fails by design (no buffer); only the size it reports, in bytes, matters.
    DWORD type = REG_NONE;
    DWORD required = 0;
    SetupDiGetDeviceRegistryPropertyW(set, element, property, &type, nullptr, 0, &required);
    if (required == 0) {
        return false;
    }
    // Twice the reported bytes, zero-filled: whatever the property's data, a NUL follows it.
    size_t bufferBytes = static_cast<size_t>(required) * 2;
    size_t bufferCharacters = bufferBytes / sizeof(WCHAR);
    WCHAR* buffer = new WCHAR[bufferCharacters];
    if (buffer == nullptr) {
        return false;
    }
    std::memset(buffer, 0, bufferCharacters * sizeof(WCHAR));
    bool read = false;
    DWORD returned = 0;
    if (SetupDiGetDeviceRegistryPropertyW(set, element, property, &type, reinterpret_cast<PBYTE>(buffer),
                                          required, &returned) &&
        returned == required) {
        WideString value(buffer, WideLengthBounded(buffer, bufferCharacters));
        if (value.IsValid()) {
            text.Swap(value);
            read = true;
        }
    }
    delete[] buffer;
    return read;
}
