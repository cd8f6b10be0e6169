// Registry functions of the simulation (advapi32), over the key trees of store.h; registry.h says what is
// modelled.
#include "winsim/core/entry.h"
#include "winsim/core/text.h"
#include "winsim/registry/registry.h"
#include "winsim/registry/store.h"

#include <cstring>

using namespace winsim_detail;

namespace {

constexpr LSTATUS kNoAccess = 998; // ERROR_NOACCESS: the data pointer cannot be read

// RegOpenKeyEx and RegCreateKeyEx in both forms: the result handle is cleared before anything else.
LSTATUS OpenOrCreateKeyFor(const char* function, HKEY hKey, const SimWString& subkey, bool create,
                           DWORD dwOptions, REGSAM samDesired, PHKEY phkResult, LPDWORD lpdwDisposition) {
    PlatformCall call(function);
    if (phkResult == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *phkResult = nullptr;
    DWORD injected = 0;
    if (call.Fails(&injected)) {
        return static_cast<LSTATUS>(injected);
    }
    return OpenOrCreateKey(hKey, subkey, samDesired, create, dwOptions, phkResult, lpdwDisposition);
}

// The key of a handle when the handle grants `right`.
LSTATUS KeyWithRight(HKEY hKey, REGSAM right, std::shared_ptr<RegKey>* key) {
    REGSAM granted = 0;
    LSTATUS status = ResolveKeyHandle(hKey, key, &granted);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return (granted & right) == right ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// The start of the value writes: the injected failure, then the key of a handle that grants `right`.
// Whether the key was found; if not, *status holds the status to return.
bool KeyOfCall(const PlatformCall& call, HKEY hKey, REGSAM right, std::shared_ptr<RegKey>* key,
               LSTATUS* status) {
    DWORD injected = 0;
    if (call.Fails(&injected)) {
        *status = static_cast<LSTATUS>(injected);
        return false;
    }
    *status = KeyWithRight(hKey, right, key);
    return *status == ERROR_SUCCESS;
}

LSTATUS SetValueFor(const char* function, HKEY hKey, const SimWString& name, DWORD dwType, const BYTE* lpData,
                    DWORD cbData, bool narrowData) {
    PlatformCall call(function);
    std::shared_ptr<RegKey> key;
    LSTATUS status = ERROR_SUCCESS;
    if (!KeyOfCall(call, hKey, KEY_SET_VALUE, &key, &status)) {
        return status;
    }
    if (lpData == nullptr && cbData != 0) {
        return kNoAccess;
    }
    RecordValueAccess(*key, name, ValueOperation::Write, FindValue(*key, name), dwType);
    bool isText = dwType == REG_SZ || dwType == REG_EXPAND_SZ || dwType == REG_MULTI_SZ;
    if (narrowData && isText) {
        // The A form converts text data, its counted bytes as given, to UTF-16.
        SimWString wide = FromUtf8Bytes(reinterpret_cast<const char*>(lpData), cbData);
        StoreValue(*key, name, dwType, reinterpret_cast<const BYTE*>(wide.data()),
                   wide.size() * sizeof(char16_t));
    } else {
        StoreValue(*key, name, dwType, lpData, cbData);
    }
    return ERROR_SUCCESS;
}

} // namespace

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    PlatformDepth depth;
    return OpenOrCreateKeyFor("RegOpenKeyExW", hKey, FromWide(lpSubKey), false, 0, samDesired, phkResult,
                              nullptr);
}

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    PlatformDepth depth;
    return OpenOrCreateKeyFor("RegOpenKeyExA", hKey, FromNarrow(lpSubKey), false, 0, samDesired, phkResult,
                              nullptr);
}

LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD dwOptions, REGSAM samDesired,
                               const SECURITY_ATTRIBUTES*, PHKEY phkResult, LPDWORD lpdwDisposition) {
    PlatformDepth depth;
    return OpenOrCreateKeyFor("RegCreateKeyExW", hKey, FromWide(lpSubKey), true, dwOptions, samDesired,
                              phkResult, lpdwDisposition);
}

LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD dwOptions, REGSAM samDesired,
                               const SECURITY_ATTRIBUTES*, PHKEY phkResult, LPDWORD lpdwDisposition) {
    PlatformDepth depth;
    return OpenOrCreateKeyFor("RegCreateKeyExA", hKey, FromNarrow(lpSubKey), true, dwOptions, samDesired,
                              phkResult, lpdwDisposition);
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData) {
    PlatformDepth depth;
    SimWString name = FromWide(lpValueName);
    PlatformCall call("RegQueryValueExW");
    DWORD injected = 0;
    if (call.Fails(&injected)) {
        return static_cast<LSTATUS>(injected);
    }
    if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    std::shared_ptr<RegKey> key;
    LSTATUS status = KeyWithRight(hKey, KEY_QUERY_VALUE, &key);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    const RegValue* value = FindValue(*key, name);
    RecordValueAccess(*key, name, ValueOperation::Read, value, 0);
    if (value == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (lpType != nullptr) {
        *lpType = value->type;
    }
    DWORD size = static_cast<DWORD>(value->data.size());
    if (lpData != nullptr) {
        if (*lpcbData < size) {
            // The buffer's content is undefined on Windows; the simulation leaves it untouched.
            *lpcbData = size;
            return ERROR_MORE_DATA;
        }
        if (size != 0) {
            std::memcpy(lpData, value->data.data(), size);
        }
    }
    if (lpcbData != nullptr) {
        *lpcbData = size;
    }
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                              DWORD cbData) {
    PlatformDepth depth;
    return SetValueFor("RegSetValueExW", hKey, FromWide(lpValueName), dwType, lpData, cbData, false);
}

LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                              DWORD cbData) {
    PlatformDepth depth;
    return SetValueFor("RegSetValueExA", hKey, FromNarrow(lpValueName), dwType, lpData, cbData, true);
}

LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    PlatformDepth depth;
    SimWString name = FromWide(lpValueName);
    PlatformCall call("RegDeleteValueW");
    std::shared_ptr<RegKey> key;
    LSTATUS status = ERROR_SUCCESS;
    if (!KeyOfCall(call, hKey, KEY_SET_VALUE, &key, &status)) {
        return status;
    }
    RecordValueAccess(*key, name, ValueOperation::Delete, FindValue(*key, name), 0);
    return RemoveValue(*key, name) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    PlatformCall call("RegCloseKey");
    DWORD injected = 0;
    if (call.Fails(&injected)) {
        return static_cast<LSTATUS>(injected);
    }
    return CloseKeyHandle(hKey);
}
