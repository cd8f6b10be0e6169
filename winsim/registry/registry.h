// Registry services of the simulation (advapi32), over the key trees of store.h. Statuses are returned,
// never set as last error.
// Modelled: case-insensitive (ASCII) key and value names that keep the letter case they were created
// with; creation of every missing level; handles that carry their granted access; the statuses Windows
// returns for invalid handles, missing keys and values, missing rights (values are read with
// KEY_QUERY_VALUE, written and deleted with KEY_SET_VALUE), deleted keys (whose handles live on and
// answer ERROR_KEY_DELETED) and too small buffers; the size-only query; values of every type kept as raw
// bytes; the narrow (A) forms, whose names and string data are read as UTF-8 and stored as UTF-16 as
// Windows stores ANSI text; per-key access limits set by tests (opening for more than the limit, or
// creating a subkey below a key whose limit lacks KEY_CREATE_SUB_KEY, is denied).
// Not modelled: security descriptors beyond those limits, the zero-termination fix-ups of RegGetValue
// (RegQueryValueExW returns the bytes as stored, as it does on Windows), registry redirection and
// reflection (the KEY_WOW64_* flags are accepted and ignored), symbolic links, HKEY_CLASSES_ROOT,
// HKEY_USERS and HKEY_PERFORMANCE_DATA, size limits of names and values, the rule that a volatile key
// has only volatile children, remote registries, notifications.
// Every value access through a handle that reaches its key is logged for winsim::ValueAccessLog.
#pragma once

#include "winsim/kernel/types.h"

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define HKEY_USERS ((HKEY)(ULONG_PTR)((LONG)0x80000003))

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_EXECUTE 0x20019
#define KEY_ALL_ACCESS 0xF003F

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_LITTLE_ENDIAN 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define REG_OPTION_NON_VOLATILE 0x00000000L
#define REG_OPTION_VOLATILE 0x00000001L
#define REG_CREATED_NEW_KEY 0x00000001L
#define REG_OPENED_EXISTING_KEY 0x00000002L

// lpSubKey may be null or empty: a new handle to hKey itself. The handle carries the requested access.
LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                             PHKEY phkResult);
LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
// Creates every missing level of lpSubKey; lpdwDisposition (optional) tells new from existing.
LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                               REGSAM samDesired, const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                               PHKEY phkResult, LPDWORD lpdwDisposition);
LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                               REGSAM samDesired, const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                               PHKEY phkResult, LPDWORD lpdwDisposition);
// Needs KEY_QUERY_VALUE. With lpData null only type and size are reported; a too small buffer gives
// ERROR_MORE_DATA with the needed size in *lpcbData.
LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData);
// Needs KEY_SET_VALUE.
LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                              const BYTE* lpData, DWORD cbData);
LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                              DWORD cbData);
// Needs KEY_SET_VALUE; ERROR_FILE_NOT_FOUND for a missing value.
LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName);
LSTATUS WINAPI RegCloseKey(HKEY hKey);
