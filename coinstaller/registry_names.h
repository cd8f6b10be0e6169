// The places and names in the registry that the co-installer uses, and what it looks for there. The
// WideString constants are built once, when the module loads, in the order of registry_names.cpp, with
// storage from the module's allocation: the first of them is the module's first allocation, which makes
// the allocation hooks choose their functions. One whose storage could not be had stays invalid, and the
// step that needs it does not run. Module code only reads them. The plain texts need no storage.
#pragma once

#include "coinstaller/wide_string.h"
#include "platform/platform.h"
#include "platform/portability.h"

// A port whose name contains this (letter case counts) is a USB port.
extern WideString usbPortMarker;
// The port name: in the device's hardware key, and as written for the companion.
extern WideString portValueName;
// The settings key: under HKEY_CURRENT_USER it holds the install context, under HKEY_LOCAL_MACHINE the
// one-shot companion selector (DWORD).
extern WideString settingsKeyPath;
extern WideString deviceTypeValueName;
// In a companion key: the companion's device instance identifier (string).
extern WideString bulkInstanceValueName;
// The companion keys (HKEY_LOCAL_MACHINE): the default one applies when the selector is 0 or absent.
extern WideString defaultCompanionKeyPath;
extern WideString alternateCompanionKeyPath;

// Device-interface classes of the two kinds of companion, whose interface keys receive the port name.
extern const GUID defaultCompanionInterfaceClass;
extern const GUID alternateCompanionInterfaceClass;

// In the settings key under HKEY_CURRENT_USER: the install context (DWORD) and the queue's name from
// before the installation (string).
inline constexpr WCHAR installContextValueName[] = W("InstallContext");
inline constexpr WCHAR originalPrinterNameValueName[] = W("InstallContextOriginalPrinterName");
// A device's hardware key under HKEY_LOCAL_MACHINE: this prefix, the device instance identifier, this
// suffix.
inline constexpr WCHAR hardwareKeyPathPrefix[] = W("System\\CurrentControlSet\\Enum\\");
inline constexpr WCHAR hardwareKeyPathSuffix[] = W("\\Device Parameters");
