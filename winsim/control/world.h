// Test-facing control of the simulated Windows world: seed it, read back what the code under test wrote,
// and make a named platform call fail. Only tests and test tools include this header.
#pragma once

#include "winsim/kernel/types.h"
#include "winsim/setupapi/setupapi.h"

#include <cstddef>
#include <string>
#include <vector>

namespace winsim {

using Bytes = std::vector<BYTE>;

// Forgets every key, device, interface, printer and armed failure, and closes nothing: handles that the
// code under test still holds are counted as leaked by the *Open*Count() functions until Reset.
void Reset();

// --- Failure injection -------------------------------------------------------------------------------
// The next `times` calls of the platform function `name` (for example "RegOpenKeyExW"), after `skip`
// successful ones, fail with `error`: the function returns its documented failure value and, where the
// function reports through the last error, sets it. `times` of 0 means every later call.
void FailCall(const char* name, DWORD error, unsigned skip = 0, unsigned times = 1);
void ClearFailures();
// How many times the platform function `name` was called since the last Reset.
unsigned CallCount(const char* name);
// True while the calling thread is inside a simulated platform function. Test allocators use it to tell
// the simulation's own allocations from those of the code under test.
bool InPlatformCall();

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

// --- Devices (SetupAPI) ------------------------------------------------------------------------------
// With `keep`, SetupAPI calls that succeed leave the thread's last error as it was, as Wine's do, instead
// of setting it to 0 as Windows does. Reset restores the Windows behaviour.
void KeepLastErrorOnSuccess(bool keep);
struct DeviceProperty {
    DWORD property; // SPDRP_*
    DWORD type;     // REG_*
    Bytes data;
};
// Adds a device node, or changes whether a known one is present. Instance ids compare without regard to
// letter case; the functions below add a device they do not know yet. Its hardware key
// "System\CurrentControlSet\Enum\<id>\Device Parameters" is an ordinary HKLM key that tests seed with
// SetValue.
void AddDevice(const std::u16string& instanceId, bool present = true);
void SetDeviceProperty(const std::u16string& instanceId, DWORD property, DWORD type, const Bytes& data);
void SetDeviceStringProperty(const std::u16string& instanceId, DWORD property, const std::u16string& text);
// Registers a device interface of `interfaceClass` on the device. Returns the HKLM path of the interface's
// registry key (the key that SetupDiCreateDeviceInterfaceRegKeyW opens).
std::u16string AddInterface(const std::u16string& instanceId, const GUID& interfaceClass);
// A device information set holding the one device, and its element, as the installation service passes
// them to a co-installer. Destroy the set with SetupDiDestroyDeviceInfoList.
HDEVINFO CreateDeviceSet(const std::u16string& instanceId, SP_DEVINFO_DATA* element);
// Device information sets created and not yet destroyed.
size_t OpenDeviceSetCount();

// --- Printers (spooler) ------------------------------------------------------------------------------
// Adds a local printer, or replaces driver and port of the one that bears the name in any letter case.
void AddPrinter(const std::u16string& name, const std::u16string& driver, const std::u16string& port);
// True when a printer bears exactly this name, letter case included.
bool PrinterExists(const std::u16string& name);
std::vector<std::u16string> PrinterNames();
// The printer must exist (any letter case); value names compare without regard to letter case.
void SetPrinterData(const std::u16string& printer, const std::u16string& valueName, DWORD type,
                    const Bytes& data);
void SetPrinterStringData(const std::u16string& printer, const std::u16string& valueName,
                          const std::u16string& text);
// Removes a printer while handles to it may be open: later calls on those handles fail with
// ERROR_INVALID_HANDLE, as for a printer deleted meanwhile.
void RemovePrinter(const std::u16string& name);
// The value name of the last GetPrinterDataW call, and the levels of every SetPrinterW call.
std::u16string LastPrinterDataValueName();
std::vector<DWORD> SetPrinterLevels();
size_t OpenPrinterCount();
size_t GlobalBlockCount();

// --- Paths -------------------------------------------------------------------------------------------
// Maps drive `letter` to a host directory (Z: is the host's root from the start).
void MapDrive(char letter, const std::string& hostDirectory);

// --- Helpers -----------------------------------------------------------------------------------------
Bytes StringBytes(const std::u16string& text, bool withNul = true);
Bytes DwordBytes(DWORD value);
std::u16string FromUtf8(const std::string& text);
std::string ToUtf8(const std::u16string& text);

} // namespace winsim

#include "winsim/control/kernel.h"
#include "winsim/control/modules.h"
