// Where the co-installer keeps its state, as the programs that seed and inspect it need to know. These are
// the system's own names; the co-installer finds the same places by the same names.
#pragma once

#include "tests/wine/support/registry_values.h"

#include <windows.h>

namespace winetest {

// Per-user install context (under HKEY_CURRENT_USER) and machine-wide companion selector (under
// HKEY_LOCAL_MACHINE) share one path.
constexpr const wchar_t* kPrintSettingsKey = L"Software\\Orvale\\OV Print Settings";
constexpr const wchar_t* kInstallContextValue = L"InstallContext";
constexpr const wchar_t* kOriginalPrinterNameValue = L"InstallContextOriginalPrinterName";
constexpr const wchar_t* kCurrentDeviceTypeValue = L"CurrentDeviceType";

// The two kinds of USB companion, each with its own key under HKEY_LOCAL_MACHINE and its own device
// interface class.
constexpr const wchar_t* kDefaultCompanionKey = L"Software\\Orvale\\{28DD0066-0674-42c2-AFAE-8D691AFEDEA8}";
constexpr const wchar_t* kAlternateCompanionKey = L"Software\\Orvale\\{28DD0067-0674-42c2-AFAE-8D691AFEDEA8}";
constexpr GUID kDefaultCompanionInterface = {
    0xA6AF917D, 0x48E9, 0x459A, {0x95, 0xA1, 0x3B, 0x9C, 0xD2, 0x4D, 0x91, 0xE3}};
constexpr GUID kAlternateCompanionInterface = {
    0x211CD2C1, 0xA63E, 0x4164, {0x9E, 0x17, 0xFD, 0xA3, 0xFE, 0x1F, 0x79, 0xFF}};
constexpr const wchar_t* kBulkInstanceIdValue = L"BulkInstanceID";
constexpr const wchar_t* kPortNameValue = L"PortName";

// The Printer device setup class ({4D36E979-E325-11CE-BFC1-08002BE10318}).
constexpr GUID kPrinterSetupClass = {
    0x4D36E979, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// Removes every key and value above so that a scenario starts from a machine that never saw the
// co-installer. The tracker's own switches, elsewhere under Software\Orvale, are left alone.
void ForgetCoInstallerState();

// A value under the per-user print settings key (InstallContext, InstallContextOriginalPrinterName).
RegistryValue UserSettingsValue(const wchar_t* name);

// What the pre pass leaves for the post pass, on a machine that has otherwise forgotten the co-installer:
// install context 2 and the queue's original name under the per-user print settings key.
void StorePrePassState(const wchar_t* queueName);

} // namespace winetest
