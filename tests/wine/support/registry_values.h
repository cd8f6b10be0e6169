// Plain registry access for seeding and inspecting state, kept apart from the code under test: these
// helpers go straight to advapi32.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace winetest {

struct RegistryValue {
    LONG status = ERROR_FILE_NOT_FOUND; // of the key open or the value query
    DWORD type = REG_NONE;
    std::vector<BYTE> data;

    bool Exists() const { return status == ERROR_SUCCESS; }
    // The data read as a DWORD; 0 unless the value holds exactly four bytes.
    DWORD AsDword() const;
    // The data read as UTF-16 text up to its first NUL.
    std::wstring AsText() const;
};

RegistryValue ReadValue(HKEY root, const wchar_t* path, const wchar_t* name);
RegistryValue ReadValueFromKey(HKEY key, const wchar_t* name);

// Each creates the key when missing and answers the registry's status code.
LONG WriteText(HKEY root, const wchar_t* path, const wchar_t* name, const std::wstring& text,
               DWORD type = REG_SZ);
LONG WriteDword(HKEY root, const wchar_t* path, const wchar_t* name, DWORD value);

bool KeyExists(HKEY root, const wchar_t* path);
// Deletes the key with everything below it; a missing key counts as deleted.
LONG DeleteKeyTree(HKEY root, const wchar_t* path);

// "REG_SZ", "REG_DWORD", ... for messages.
const char* TypeName(DWORD type);
// The text narrowed for printing (non-ASCII characters become '?').
std::string Narrow(const std::wstring& text);
// Text in the ANSI code page (as the ANSI functions give paths) in UTF-16.
std::wstring Widen(const std::string& text);

} // namespace winetest
