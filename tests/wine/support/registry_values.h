// Plain registry access for seeding and inspecting state, kept apart from the code under test: these
// helpers go straight to advapi32.
#pragma once

#include "tests/two_sided/stored_value.h"

#include <windows.h>

#include <string>

namespace winetest {

// A value as read back: the status of the key's open or of the query, the type and the bytes.
using RegistryValue = StoredValue;

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
// Text in the ANSI code page (as the ANSI functions give paths) in UTF-16.
std::wstring Widen(const std::string& text);

} // namespace winetest
