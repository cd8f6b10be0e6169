#include "memtrack/switches_key.h"

#include "platform/portability.h"

HKEY openSwitchesKey() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, W("SOFTWARE\\Orvale\\DIZadaridi"), 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

bool querySwitch(HKEY key, LPCWSTR name, DWORD* value) {
    DWORD data = 0;
    DWORD dataLength = sizeof data;
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(&data), &dataLength) !=
        ERROR_SUCCESS) {
        return false;
    }
    *value = data;
    return true;
}
