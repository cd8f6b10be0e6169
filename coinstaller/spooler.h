// CSpooler: the print spooler's functions for the time of one pass. winspool.drv is no Known DLL, so it is
// not imported (a copy beside the host program would be taken in its place): the first call that needs it
// loads it from the system directory, and the object frees it when it goes. When it cannot be loaded, or
// lacks one of these functions, every call fails as the spooler's own calls fail, and the step that needed
// it is skipped.
#pragma once

#include "platform/platform.h"
#include "platform/system_library.h"

class CSpooler {
  public:
    CSpooler() = default;
    ~CSpooler();
    CSpooler(const CSpooler&) = delete;
    CSpooler& operator=(const CSpooler&) = delete;

    // The spooler's functions of the same names, with their results; without the library FALSE (or, for
    // GetPrinterDataW, the error itself) with ERROR_MOD_NOT_FOUND.
    BOOL OpenPrinterW(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults);
    BOOL ClosePrinter(HANDLE printer);
    BOOL GetPrinterDriverW(HANDLE printer, LPWSTR environment, DWORD level, LPBYTE driverInfo, DWORD size,
                           LPDWORD needed);
    BOOL GetPrinterW(HANDLE printer, DWORD level, LPBYTE record, DWORD size, LPDWORD needed);
    DWORD GetPrinterDataW(HANDLE printer, LPWSTR valueName, LPDWORD type, LPBYTE data, DWORD size,
                          LPDWORD needed);
    BOOL EnumPrintersW(DWORD flags, LPWSTR name, DWORD level, LPBYTE records, DWORD size, LPDWORD needed,
                       LPDWORD returned);
    BOOL SetPrinterW(HANDLE printer, DWORD level, LPBYTE record, DWORD command);

  private:
#define SPOOLER_FUNCTIONS(F)                                                                                 \
    F(OpenPrinterW)                                                                                          \
    F(ClosePrinter) F(GetPrinterDriverW) F(GetPrinterW) F(GetPrinterDataW) F(EnumPrintersW) F(SetPrinterW)
    struct Functions {
        SPOOLER_FUNCTIONS(VRA_SYSTEM_FUNCTION)
    };

    static bool FindAll(HMODULE library, Functions* found);
    // Loads the library on the first call (once, whatever comes of it); whether its functions are there.
    bool Load();

    HMODULE library = nullptr;
    bool loadTried = false;
    Functions functions = {};
};
