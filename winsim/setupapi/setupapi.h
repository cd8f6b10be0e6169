// Device-installation services of the simulation (setupapi): device information sets and elements,
// instance ids, device registry properties, device interfaces and their registry keys. Failures set the
// thread's last error; a successful call sets it to 0, as Windows does.
// Modelled: device information sets from SetupDiGetClassDevsW (interface lists filtered by class and
// presence, plain device lists with DIGCF_ALLCLASSES) and from winsim::CreateDeviceSet; instance ids
// returned exactly as stored; typed device registry properties (a missing or empty one is
// ERROR_INVALID_DATA); the documented size protocols (instance ids in characters with the NUL,
// properties and interface details in bytes); interface enumeration by index; interface details that
// report the exposing device even when the buffer is too small, as Windows does; interface registry
// keys as ordinary registry keys under HKEY_LOCAL_MACHINE; last error 0 after every successful call.
// Not modelled: setup classes (every element's ClassGuid is GUID_NULL, so class-filtered plain device
// lists are empty), device installation itself, reference strings, hardware profiles, INF sections,
// remote machines, the A forms.
#pragma once

#include "winsim/kernel/types.h"

typedef PVOID HDEVINFO;
typedef UINT DI_FUNCTION;

#define DIF_SELECTDEVICE 0x00000001
#define DIF_INSTALLDEVICE 0x00000002
#define DIF_ASSIGNRESOURCES 0x00000003
#define DIF_PROPERTIES 0x00000004
#define DIF_REMOVE 0x00000005
#define DIF_INSTALLDEVICEFILES 0x00000015
#define DIF_REGISTERDEVICE 0x00000019
#define DIF_NEWDEVICEWIZARD_FINISHINSTALL 0x0000001E
#define DIF_REGISTER_COINSTALLERS 0x00000022

#define DIGCF_DEFAULT 0x00000001
#define DIGCF_PRESENT 0x00000002
#define DIGCF_ALLCLASSES 0x00000004
#define DIGCF_PROFILE 0x00000008
#define DIGCF_DEVICEINTERFACE 0x00000010

#define SPDRP_DEVICEDESC 0x00000000
#define SPDRP_HARDWAREID 0x00000001
#define SPDRP_FRIENDLYNAME 0x0000000C

#define ERROR_DI_POSTPROCESSING_REQUIRED 0xE0000226L
#define ERROR_NO_SUCH_DEVINST 0xE000020BL
#define ERROR_DI_DO_DEFAULT 0xE000020EL
#define ERROR_NO_SUCH_DEVICE_INTERFACE 0xE0000225L
#define ERROR_INVALID_REG_PROPERTY 0xE0000209L
#define ERROR_INVALID_FLAGS 1004L

// Properties beyond the last one that SetupAPI knows are refused with ERROR_INVALID_REG_PROPERTY.
#define SPDRP_MAXIMUM_PROPERTY 0x00000025

#define SPINT_ACTIVE 0x00000001
#define SPINT_DEFAULT 0x00000002
#define SPINT_REMOVED 0x00000004

struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
};
typedef SP_DEVINFO_DATA* PSP_DEVINFO_DATA;

struct SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
};
typedef SP_DEVICE_INTERFACE_DATA* PSP_DEVICE_INTERFACE_DATA;

struct SP_DEVICE_INTERFACE_DETAIL_DATA_W {
    DWORD cbSize;
    WCHAR DevicePath[1];
};
typedef SP_DEVICE_INTERFACE_DETAIL_DATA_W* PSP_DEVICE_INTERFACE_DETAIL_DATA_W;

struct COINSTALLER_CONTEXT_DATA {
    BOOL PostProcessing;
    DWORD InstallResult;
    PVOID PrivateData;
};
typedef COINSTALLER_CONTEXT_DATA* PCOINSTALLER_CONTEXT_DATA;

// RequiredSize counts characters including the terminating NUL; a too small buffer fails with
// ERROR_INSUFFICIENT_BUFFER after reporting the size.
BOOL WINAPI SetupDiGetDeviceInstanceIdW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        PWSTR DeviceInstanceId, DWORD DeviceInstanceIdSize,
                                        PDWORD RequiredSize);
// Sizes in bytes; a missing property fails with ERROR_INVALID_DATA.
BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                              DWORD Property, PDWORD PropertyRegDataType,
                                              PBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                              PDWORD RequiredSize);
// With DIGCF_DEVICEINTERFACE: the devices exposing interfaces of ClassGuid (present ones only with
// DIGCF_PRESENT). INVALID_HANDLE_VALUE on failure.
HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* ClassGuid, PCWSTR Enumerator, HWND hwndParent, DWORD Flags);
// ERROR_NO_MORE_ITEMS past the last interface.
BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                        PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData);
// A null buffer with size 0 reports the size in bytes and fails with ERROR_INSUFFICIENT_BUFFER. A
// buffer's cbSize must be sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W), else ERROR_INVALID_USER_BUFFER.
BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO DeviceInfoSet,
                                             PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
                                             DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                             PSP_DEVINFO_DATA DeviceInfoData);
// Opens (creating if needed) the interface's registry key; INVALID_HANDLE_VALUE on failure.
HKEY WINAPI SetupDiCreateDeviceInterfaceRegKeyW(HDEVINFO DeviceInfoSet,
                                                PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData, DWORD Reserved,
                                                REGSAM samDesired, HINF InfHandle, PCWSTR InfSectionName);
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);
