#include "coinstaller/install_device.h"

#include "coinstaller/two_call_read.h"

bool CInstallDevice::GetRegistryPropertyString(HDEVINFO set, PSP_DEVINFO_DATA element, DWORD property,
                                               WideString& text) {
    if (set == nullptr || element == nullptr) {
        return false;
    }
    // Sizes in bytes. The block holds twice the reported bytes, zero-filled: whatever the property's data,
    // a NUL follows it.
    DWORD type = REG_NONE;
    TwoCallRead<ModuleStorage> read;
    if (!read.Read(
            [&](BYTE* buffer, DWORD size, DWORD* required) {
                return StatusOf(
                    SetupDiGetDeviceRegistryPropertyW(set, element, property, &type, buffer, size, required));
            },
            SizeAtLeast(1), 2) ||
        read.Reported() != read.Probed()) {
        return false;
    }
    const WCHAR* buffer = read.As<WCHAR>();
    WideString value(buffer, WideLengthBounded(buffer, read.BlockBytes() / sizeof(WCHAR)));
    if (!value.IsValid()) {
        return false;
    }
    text.Swap(value);
    return true;
}
