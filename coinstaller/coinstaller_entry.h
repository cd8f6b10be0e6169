// The co-installer entry point that the device-installation service calls for every request while it
// installs a printer whose driver package names this module as a co-installer.
#pragma once

#include "platform/platform.h"

extern "C" DWORD WINAPI VRACoInstallerEntryProc(DI_FUNCTION installFunction, HDEVINFO deviceInfoSet,
                                                PSP_DEVINFO_DATA deviceInfoData,
                                                PCOINSTALLER_CONTEXT_DATA context);
