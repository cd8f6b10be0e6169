#include "coinstaller/registry_key.h"

#include "coinstaller/two_call_read.h"

namespace {

// Registry types that hold text.
bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

} // namespace

REGSAM RegistryAccessMask(RegistryAccessMode mode) {
    switch (mode) {
    case AccessRead:
        return KEY_READ;
    case AccessWrite:
        return KEY_WRITE;
    case AccessAll:
        return KEY_ALL_ACCESS;
    }
    return 0;
}

bool CRegistryKey::Open(HKEY root, const WideString& subkey, RegistryAccessMode accessMode, bool create,
                        bool isVolatile) {
    if (!subkey.IsValid()) {
        Close();
        mode = accessMode;
        created = false;
        lastError = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    return OpenHandle(root, subkey.c_str(), accessMode, create, isVolatile);
}

bool CRegistryKey::Attach(HKEY key, RegistryAccessMode accessMode) {
    // A null subkey asks the registry for a new handle to `key` itself.
    return OpenHandle(key, nullptr, accessMode, false, false);
}

bool CRegistryKey::OpenHandle(HKEY root, LPCWSTR subkey, RegistryAccessMode accessMode, bool create,
                              bool isVolatile) {
    Close();
    handle = nullptr;
    mode = accessMode;
    created = false;
    REGSAM access = RegistryAccessMask(accessMode);
    LSTATUS status;
    if (create) {
        DWORD disposition = 0;
        DWORD options = isVolatile ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE;
        status = RegCreateKeyExW(root, subkey, 0, nullptr, options, access, nullptr, &handle, &disposition);
        created = status == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
    } else {
        status = RegOpenKeyExW(root, subkey, 0, access, &handle);
    }
    lastError = static_cast<DWORD>(status);
    if (lastError != ERROR_SUCCESS) {
        handle = nullptr;
    }
    return IsOpen();
}

bool CRegistryKey::ReadDword(const WCHAR* name, DWORD& value) {
    if (!IsOpen()) {
        return false;
    }
    DWORD type = REG_NONE;
    DWORD size = sizeof(value);
    lastError = static_cast<DWORD>(
        RegQueryValueExW(handle, name, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size));
    return lastError == ERROR_SUCCESS && (type == REG_DWORD || type == REG_DWORD_BIG_ENDIAN);
}

bool CRegistryKey::ReadDword(const WideString& name, DWORD& value) {
    if (!IsOpen()) {
        return false;
    }
    if (!name.IsValid()) {
        lastError = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    return ReadDword(name.c_str(), value);
}

bool CRegistryKey::ReadString(const WCHAR* name, WideString& text) {
    if (!IsOpen()) {
        return false;
    }
    DWORD type = REG_NONE;
    TwoCallRead<ModuleStorage> value;
    bool read = value.Read(
        [&](BYTE* buffer, DWORD size, DWORD* returned) {
            // The data size is in and out: the buffer's size on the way in, the data's on the way out.
            *returned = size;
            return static_cast<DWORD>(RegQueryValueExW(handle, name, nullptr, &type, buffer, returned));
        },
        [&](DWORD status, DWORD size) {
            return (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) && size != 0 && IsStringType(type);
        });
    lastError = value.Status();
    if (!read || value.Reported() == 0 || value.Reported() > value.Probed() || !IsStringType(type)) {
        return false;
    }
    // Text stored without its terminating NUL is taken whole, never read beyond the data.
    const WCHAR* characters = value.As<WCHAR>();
    WideString taken(characters, WideLengthBounded(characters, value.Reported() / sizeof(WCHAR)));
    if (!taken.IsValid()) {
        lastError = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    text.Swap(taken);
    return true;
}

bool CRegistryKey::ReadString(const WideString& name, WideString& text) {
    if (!IsOpen()) {
        return false;
    }
    if (!name.IsValid()) {
        lastError = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    return ReadString(name.c_str(), text);
}

bool CRegistryKey::WriteDword(const WCHAR* name, DWORD value) {
    if (!IsOpen()) {
        return false;
    }
    lastError = static_cast<DWORD>(
        RegSetValueExW(handle, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)));
    return lastError == ERROR_SUCCESS;
}

bool CRegistryKey::WriteString(const WCHAR* name, const WCHAR* text) {
    if (!IsOpen()) {
        return false;
    }
    static const WCHAR emptyText[1] = {0};
    if (text == nullptr) {
        text = emptyText;
    }
    size_t length = WideLength(text);
    // The data size is a DWORD of bytes, terminating NUL included.
    const size_t largestSize = static_cast<DWORD>(-1);
    if (length > (largestSize - sizeof(WCHAR)) / sizeof(WCHAR)) {
        lastError = ERROR_INVALID_PARAMETER;
        return false;
    }
    DWORD bytes = static_cast<DWORD>((length + 1) * sizeof(WCHAR));
    lastError = static_cast<DWORD>(
        RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes));
    return lastError == ERROR_SUCCESS;
}

bool CRegistryKey::WriteString(const WideString& name, const WideString& text) {
    if (!IsOpen()) {
        return false;
    }
    if (!name.IsValid() || !text.IsValid()) {
        lastError = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    return WriteString(name.c_str(), text.c_str());
}

bool CRegistryKey::DeleteValue(const WCHAR* name) {
    if (!IsOpen()) {
        return false;
    }
    lastError = static_cast<DWORD>(RegDeleteValueW(handle, name));
    return lastError == ERROR_SUCCESS;
}

bool CRegistryKey::DeleteValue(const WideString& name) {
    if (!IsOpen()) {
        return false;
    }
    if (!name.IsValid()) {
        lastError = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    return DeleteValue(name.c_str());
}

void CRegistryKey::Close() {
    if (handle != nullptr) {
        lastError = static_cast<DWORD>(RegCloseKey(handle));
        handle = nullptr;
    }
}
