// CRegistryKey: the co-installer's one way into the registry. One object holds at most one key, opened
// with one of three access levels, and closes it when it is closed or destroyed.
#pragma once

#include "coinstaller/wide_string.h"
#include "platform/platform.h"

#include <cstdint>

enum RegistryAccessMode : int32_t {
    AccessRead = 0,  // KEY_READ
    AccessWrite = 1, // KEY_WRITE
    AccessAll = 2,   // KEY_ALL_ACCESS
};

// The access mask a mode requests; 0 (no rights at all) for a value outside the three modes.
REGSAM RegistryAccessMask(RegistryAccessMode mode);

class CRegistryKey {
  public:
    CRegistryKey() = default;
    ~CRegistryKey() { Close(); }
    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;

    // Opens `subkey` of `root`, or with `create` opens or creates it. Any key held before is closed
    // first. A path that could not be built (invalid string) is never handed to the registry.
    // Returns IsOpen().
    bool Open(HKEY root, const WideString& subkey, RegistryAccessMode mode, bool create = false,
              bool isVolatile = false);
    // Opens a handle of this object's own to the key behind `key`, with the mode's access. `key` stays
    // open and stays the caller's. Returns IsOpen().
    bool Attach(HKEY key, RegistryAccessMode mode);

    bool IsOpen() const { return handle != nullptr; }

    // Value operations. Without an open key each returns false at once, makes no registry call and
    // leaves LastError() as it was. A name or text that is an invalid string fails with
    // ERROR_NOT_ENOUGH_MEMORY without a registry call.

    // Accepts REG_DWORD and REG_DWORD_BIG_ENDIAN, four bytes taken as stored. The query writes into
    // `value` before the type is judged, so a rejected value of at most 4 bytes still leaves its bytes.
    bool ReadDword(const WCHAR* name, DWORD& value);
    bool ReadDword(const WideString& name, DWORD& value);
    // Accepts REG_SZ and REG_EXPAND_SZ (not expanded); the text ends at the first NUL or with the data.
    // `text` changes only on success.
    bool ReadString(const WCHAR* name, WideString& text);
    bool ReadString(const WideString& name, WideString& text);
    bool WriteDword(const WCHAR* name, DWORD value);
    // Stores REG_SZ with its terminating NUL.
    bool WriteString(const WCHAR* name, const WCHAR* text);
    bool WriteString(const WideString& name, const WideString& text);
    bool DeleteValue(const WCHAR* name);
    bool DeleteValue(const WideString& name);

    void Close();

    // Status of the last registry call this object made (0 for success). ERROR_NOT_ENOUGH_MEMORY
    // when an operation stopped because its own memory or strings could not be had.
    DWORD LastError() const { return lastError; }
    RegistryAccessMode Mode() const { return mode; }
    // True only after an Open with `create` that made a new key.
    bool WasCreated() const { return created; }

  private:
    bool OpenHandle(HKEY root, LPCWSTR subkey, RegistryAccessMode accessMode, bool create, bool isVolatile);

    HKEY handle = nullptr;
    RegistryAccessMode mode = AccessRead;
    DWORD lastError = ERROR_SUCCESS;
    bool created = false;
};
