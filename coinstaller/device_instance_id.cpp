#include "coinstaller/install_device.h"

#include "coinstaller/two_call_read.h"

bool CInstallDevice::GetDeviceInstanceId(HDEVINFO set, PSP_DEVINFO_DATA element, WideString& instanceId) {
    if (set == nullptr || element == nullptr) {
        return false;
    }
    // Sizes in characters, NUL included.
    TwoCallRead<ModuleStorage> read;
    if (!read.Read(
            [&](BYTE* buffer, DWORD size, DWORD* required) {
                return StatusOf(SetupDiGetDeviceInstanceIdW(set, element, reinterpret_cast<PWSTR>(buffer),
                                                            size, required));
            },
            SizeAtLeast(1), sizeof(WCHAR)) ||
        read.Reported() != read.Probed()) {
        return false;
    }
    const WCHAR* buffer = read.As<WCHAR>();
    WideString text(buffer, WideLengthBounded(buffer, read.BlockBytes() / sizeof(WCHAR)));
    if (!text.IsValid()) {
        return false;
    }
    instanceId.Swap(text);
    return true;
}
