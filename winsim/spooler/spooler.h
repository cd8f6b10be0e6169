// Print spooler services of the simulation (winspool): local printers with driver, port and printer
// data. Failures set the thread's last error.
// Modelled: local printers opened by name without regard to letter case (unknown names fail with
// ERROR_INVALID_PRINTER_NAME and a null handle); handle access (PRINTER_ACCESS_USE unless more is asked
// for; SetPrinterW needs PRINTER_ACCESS_ADMINISTER); the two-call size protocol of GetPrinterDriverW
// (level 1), GetPrinterW (levels 4 and 5) and EnumPrintersW (local printers, level 4), whose records
// are followed by their strings in the same buffer; GetPrinterDataW's status protocol; renaming with
// SetPrinterW level 4, Command 0, refused with ERROR_PRINTER_ALREADY_EXISTS when another printer bears
// the name in any letter case (the spooler keeps printer names unique without regard to case; renaming
// a printer to its own name in other letters is allowed) and with ERROR_INVALID_PRINTER_NAME for an
// empty name or one holding '\' or ','; handles of removed printers answer ERROR_INVALID_HANDLE.
// Not modelled: print servers and connections (a null printer name is refused), other info levels
// (ERROR_INVALID_LEVEL), environments (pEnvironment is ignored), DEVMODEs and data types, jobs, ports
// and forms, security beyond the administer right, printer attributes other than
// PRINTER_ATTRIBUTE_LOCAL (level 4 writes leave them as they are).
#pragma once

#include "winsim/kernel/types.h"

struct DEVMODEW;
typedef DEVMODEW* LPDEVMODEW;

#define PRINTER_ACCESS_ADMINISTER 0x00000004
#define PRINTER_ACCESS_USE 0x00000008
#define PRINTER_ALL_ACCESS (STANDARD_RIGHTS_REQUIRED | PRINTER_ACCESS_ADMINISTER | PRINTER_ACCESS_USE)

#define PRINTER_ENUM_DEFAULT 0x00000001
#define PRINTER_ENUM_LOCAL 0x00000002
#define PRINTER_ENUM_CONNECTIONS 0x00000004

#define PRINTER_ATTRIBUTE_LOCAL 0x00000040

struct PRINTER_DEFAULTSW {
    LPWSTR pDatatype;
    LPDEVMODEW pDevMode;
    ACCESS_MASK DesiredAccess;
};
typedef PRINTER_DEFAULTSW* LPPRINTER_DEFAULTSW;
typedef PRINTER_DEFAULTSW* PPRINTER_DEFAULTSW;

struct DRIVER_INFO_1W {
    LPWSTR pName;
};

struct PRINTER_INFO_4W {
    LPWSTR pPrinterName;
    LPWSTR pServerName;
    DWORD Attributes;
};
typedef PRINTER_INFO_4W* PPRINTER_INFO_4W;

struct PRINTER_INFO_5W {
    LPWSTR pPrinterName;
    LPWSTR pPortName;
    DWORD Attributes;
    DWORD DeviceNotSelectedTimeout;
    DWORD TransmissionRetryTimeout;
};
typedef PRINTER_INFO_5W* PPRINTER_INFO_5W;

// On failure *phPrinter is set to null.
BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault);
BOOL WINAPI ClosePrinter(HANDLE hPrinter);
// Two-call protocol: a too small buffer fails with ERROR_INSUFFICIENT_BUFFER and reports *pcbNeeded.
// Only level 1 is served.
BOOL WINAPI GetPrinterDriverW(HANDLE hPrinter, LPWSTR pEnvironment, DWORD Level, LPBYTE pDriverInfo,
                              DWORD cbBuf, LPDWORD pcbNeeded);
// Levels 4 and 5, same protocol.
BOOL WINAPI GetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded);
// Returns a Win32 status; ERROR_MORE_DATA when the value does not fit (with *pcbNeeded set).
DWORD WINAPI GetPrinterDataW(HANDLE hPrinter, LPWSTR pValueName, LPDWORD pType, LPBYTE pData, DWORD nSize,
                             LPDWORD pcbNeeded);
// Level 4 with PRINTER_ENUM_LOCAL only; same size protocol as GetPrinterW.
BOOL WINAPI EnumPrintersW(DWORD Flags, LPWSTR Name, DWORD Level, LPBYTE pPrinterEnum, DWORD cbBuf,
                          LPDWORD pcbNeeded, LPDWORD pcReturned);
// Level 4 with Command 0 renames the printer; a name already taken fails with
// ERROR_PRINTER_ALREADY_EXISTS.
BOOL WINAPI SetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD Command);
