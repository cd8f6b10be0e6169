#include "coinstaller/install_device.h"

#include <cstring>

bool CInstallDevice::GetDeviceInstanceId(HDEVINFO set, PSP_DEVINFO_DATA element, WideString& instanceId) {
    if (set == nullptr || element == nullptr) {
        return false;
    }
    // The probe fails by design (no buffer); only the size it reports matters. Characters, NUL included.
    DWORD required = 0;
    SetupDiGetDeviceInstanceIdW(set, element, nullptr, 0, &required);
    if (required == 0) {
        return false;
    }
    WCHAR* buffer = new WCHAR[required];
    if (buffer == nullptr) {
        return false;
    }
    std::memset(buffer, 0, required * sizeof(WCHAR));
    bool read = false;
    DWORD returned = 0;
    if (SetupDiGetDeviceInstanceIdW(set, element, buffer, required, &returned) && returned == required) {
        WideString text(buffer, WideLengthBounded(buffer, required));
        if (text.IsValid()) {
            instanceId.Swap(text);
            read = true;
        }
    }
    delete[] buffer;
    return read;
}
