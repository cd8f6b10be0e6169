// The simulated registry's state: two trees of keys (HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE), the table of
// open key handles with their granted access, the access limits that tests put on keys, and the logs of
// opened keys and of value accesses. Shared by the registry functions, the device-interface keys of
// SetupAPI and the control API. Every function here expects the caller to hold the world lock. Internal
// to winsim.
#pragma once

#include "winsim/core/malloc_containers.h"
#include "winsim/registry/registry.h"

#include <memory>

namespace winsim_detail {

struct RegValue {
    SimWString name;
    DWORD type = 0;
    SimVector<BYTE> data;
};

struct RegKey {
    SimWString name;          // as created: letter case is kept, lookups ignore it
    RegKey* parent = nullptr; // null for a root; valid while the key is not deleted
    HKEY root = nullptr;      // HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE
    bool deleted = false;     // its handles then answer ERROR_KEY_DELETED
    bool isVolatile = false;  // recorded only: the simulation has no reboot to lose it at
    SimMap<SimWString, std::shared_ptr<RegKey>> subkeys; // by folded name
    SimVector<RegValue> values;                          // in order of creation, as Windows enumerates them
};

// The key behind a handle, predefined roots included, with the access the handle was opened with.
// ERROR_INVALID_HANDLE for an unknown or closed handle, ERROR_KEY_DELETED for a deleted key.
LSTATUS ResolveKeyHandle(HKEY handle, std::shared_ptr<RegKey>* key, REGSAM* granted);

// Opens (or with `create`, creates every missing level of) `subkey` below the key of `parent` and hands
// out a new handle with `access`. An empty subkey opens a new handle to the parent's own key.
// `disposition` (optional) receives REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY.
LSTATUS OpenOrCreateKey(HKEY parent, const SimWString& subkey, REGSAM access, bool create, DWORD options,
                        HKEY* result, DWORD* disposition);
LSTATUS CloseKeyHandle(HKEY handle);

RegValue* FindValue(RegKey& key, const SimWString& name);
void StoreValue(RegKey& key, const SimWString& name, DWORD type, const BYTE* data, size_t size);
bool RemoveValue(RegKey& key, const SimWString& name);

// One value read, written or deleted through a handle whose key was found with the right for it, by
// full key path ("HKLM\..." or "HKCU\...").
enum class ValueOperation { Read, Write, Delete };
struct ValueAccessEntry {
    SimWString keyPath;
    SimWString name;
    ValueOperation operation = ValueOperation::Read;
    DWORD type = 0; // the type written, or the type of the value found by a read or deletion
    bool existed = false;
};
// `found`: the value as it stood before the access (null when absent).
void RecordValueAccess(const RegKey& key, const SimWString& name, ValueOperation operation,
                       const RegValue* found, DWORD writtenType);
const SimVector<ValueAccessEntry>& ValueAccesses();

// Control-side access by root and path; null when the key is missing (FindKey) or the path is invalid.
std::shared_ptr<RegKey> FindKey(HKEY root, const SimWString& path);
std::shared_ptr<RegKey> EnsureKey(HKEY root, const SimWString& path);
void DeleteKey(RegKey& key);
void RestrictAccess(HKEY root, const SimWString& path, REGSAM allowed);
size_t OpenKeyHandleCount();
const SimVector<SimWString>& OpenedKeys();
void ResetRegistry();

} // namespace winsim_detail
