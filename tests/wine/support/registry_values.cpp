#include "tests/wine/support/registry_values.h"

#include "tests/two_sided/registry_type_name.h"

namespace winetest {

RegistryValue ReadValueFromKey(HKEY key, const wchar_t* name) {
    RegistryValue value;
    DWORD size = 0;
    value.status = RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size);
    if (value.status != ERROR_SUCCESS) {
        return value;
    }
    value.data.resize(size);
    value.status =
        RegQueryValueExW(key, name, nullptr, &value.type, size ? value.data.data() : nullptr, &size);
    value.data.resize(size);
    return value;
}

RegistryValue ReadValue(HKEY root, const wchar_t* path, const wchar_t* name) {
    HKEY key = nullptr;
    RegistryValue value;
    value.status = RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, &key);
    if (value.status != ERROR_SUCCESS) {
        return value;
    }
    value = ReadValueFromKey(key, name);
    RegCloseKey(key);
    return value;
}

static LONG WriteRaw(HKEY root, const wchar_t* path, const wchar_t* name, DWORD type, const void* data,
                     DWORD size) {
    HKEY key = nullptr;
    LONG status = RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                                  &key, nullptr);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    status = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return status;
}

LONG WriteText(HKEY root, const wchar_t* path, const wchar_t* name, const std::wstring& text, DWORD type) {
    const DWORD size = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return WriteRaw(root, path, name, type, text.c_str(), size);
}

LONG WriteDword(HKEY root, const wchar_t* path, const wchar_t* name, DWORD value) {
    return WriteRaw(root, path, name, REG_DWORD, &value, sizeof(value));
}

bool KeyExists(HKEY root, const wchar_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

LONG DeleteKeyTree(HKEY root, const wchar_t* path) {
    const LONG status = RegDeleteTreeW(root, path);
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
        // Given a subkey path RegDeleteTreeW removes the key itself as well; the second delete is for a
        // key that it only emptied.
        const LONG removed = RegDeleteKeyW(root, path);
        return removed == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : removed;
    }
    return status;
}

const char* TypeName(DWORD type) {
    return RegistryTypeName(type);
}

std::wstring Widen(const std::string& text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 1) {
        return std::wstring();
    }
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length - 1));
    return wide;
}

} // namespace winetest
