// Names and places of the USB companion binding. The strings are built once when the module loads, with
// storage from the module's allocation; one whose storage could not be had stays invalid, and the step
// that needs it does not run. Module code only reads them.
#pragma once

#include "coinstaller/wide_string.h"
#include "platform/platform.h"

// A port whose name contains this (letter case counts) is a USB port.
extern WideString usbPortMarker;
// The port name: in the device's hardware key, and as written for the companion.
extern WideString portValueName;
// Machine-wide settings key (HKEY_LOCAL_MACHINE) and its one-shot companion selector (DWORD).
extern WideString machineSettingsKeyPath;
extern WideString deviceTypeValueName;
// In a companion key: the companion's device instance identifier (string).
extern WideString bulkInstanceValueName;
// The companion keys (HKEY_LOCAL_MACHINE): the default one applies when the selector is 0 or absent.
extern WideString defaultCompanionKeyPath;
extern WideString alternateCompanionKeyPath;

// Device-interface classes of the two kinds of companion.
extern const GUID defaultCompanionInterfaceClass;
extern const GUID alternateCompanionInterfaceClass;
