// Test-facing control of the simulated registry: seeding keys and values, reading back what the code
// under test wrote, limiting access to keys, the open-handle accounting and the log of value accesses.
#pragma once

#include "winsim/control/world.h"
#include "winsim/kernel/types.h"

#include <cstddef>
#include <string>
#include <vector>

namespace winsim {

// --- Registry ----------------------------------------------------------------------------------------
// Roots are HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE; paths use backslashes and compare without regard to
// ASCII letter case, as on Windows.
void CreateKey(HKEY root, const std::u16string& path);
bool KeyExists(HKEY root, const std::u16string& path);
void DeleteKeyTree(HKEY root, const std::u16string& path);
// Creates the key when missing.
void SetValue(HKEY root, const std::u16string& path, const std::u16string& name, DWORD type,
              const Bytes& data);
void SetDwordValue(HKEY root, const std::u16string& path, const std::u16string& name, DWORD value);
// Stores the text with its terminating NUL, as REG_SZ unless another type is given.
void SetStringValue(HKEY root, const std::u16string& path, const std::u16string& name,
                    const std::u16string& text, DWORD type = 1 /* REG_SZ */);
bool GetValue(HKEY root, const std::u16string& path, const std::u16string& name, DWORD* type, Bytes* data);
bool ValueExists(HKEY root, const std::u16string& path, const std::u16string& name);
// Decodes REG_SZ-like data up to its first NUL; nullopt-like empty result and false when absent.
bool GetStringValue(HKEY root, const std::u16string& path, const std::u16string& name, std::u16string* text);
std::vector<std::u16string> ValueNames(HKEY root, const std::u16string& path);
// Grants at most `allowed` on this key: opening it for more fails with ERROR_ACCESS_DENIED.
void RestrictKeyAccess(HKEY root, const std::u16string& path, REGSAM allowed);
// Registry handles opened and not yet closed (including interface keys handed out by SetupAPI).
size_t OpenKeyCount();
// Full paths ("HKLM\..." or "HKCU\...") of every key successfully opened or created, in order.
std::vector<std::u16string> OpenedKeyLog();
// Every value read (RegQueryValueExW), written (RegSetValueEx*) or deleted (RegDeleteValueW) since the
// last Reset, in order, by the calls whose handle reached its key with the right they need; reads and
// deletions of absent values included. Seeding through this API is not logged.
struct ValueAccess {
    enum Operation { Read, Write, Delete };
    std::u16string keyPath; // "HKLM\..." or "HKCU\...", each level in the letter case it was created with
    std::u16string name;
    Operation operation = Read;
    DWORD type = 0;       // written; for a read or deletion, the type of the value found (0 when absent)
    bool existed = false; // whether the value existed before the access
};
std::vector<ValueAccess> ValueAccessLog();

} // namespace winsim
