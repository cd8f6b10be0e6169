#include "coinstaller/spooler.h"

#include "platform/portability.h"

namespace {

BOOL NotLoaded() {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
}

} // namespace

CSpooler::~CSpooler() {
    if (library != nullptr) {
        FreeLibrary(library);
    }
}

bool CSpooler::FindAll(HMODULE library, Functions* found) {
    return true SPOOLER_FUNCTIONS(VRA_FIND_SYSTEM_FUNCTION);
}

bool CSpooler::Load() {
    if (!loadTried) {
        loadTried = true;
        // All of the functions or none: a pass never works with half a spooler.
        library = LoadSystemFunctions(W("winspool.drv"), &functions, FindAll);
    }
    return library != nullptr;
}

BOOL CSpooler::OpenPrinterW(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults) {
    return Load() ? functions.OpenPrinterW(name, printer, defaults) : NotLoaded();
}

BOOL CSpooler::ClosePrinter(HANDLE printer) {
    return Load() ? functions.ClosePrinter(printer) : NotLoaded();
}

BOOL CSpooler::GetPrinterDriverW(HANDLE printer, LPWSTR environment, DWORD level, LPBYTE driverInfo,
                                 DWORD size, LPDWORD needed) {
    return Load() ? functions.GetPrinterDriverW(printer, environment, level, driverInfo, size, needed)
                  : NotLoaded();
}

BOOL CSpooler::GetPrinterW(HANDLE printer, DWORD level, LPBYTE record, DWORD size, LPDWORD needed) {
    return Load() ? functions.GetPrinterW(printer, level, record, size, needed) : NotLoaded();
}

DWORD CSpooler::GetPrinterDataW(HANDLE printer, LPWSTR valueName, LPDWORD type, LPBYTE data, DWORD size,
                                LPDWORD needed) {
    return Load() ? functions.GetPrinterDataW(printer, valueName, type, data, size, needed)
                  : static_cast<DWORD>(ERROR_MOD_NOT_FOUND);
}

BOOL CSpooler::EnumPrintersW(DWORD flags, LPWSTR name, DWORD level, LPBYTE records, DWORD size,
                             LPDWORD needed, LPDWORD returned) {
    return Load() ? functions.EnumPrintersW(flags, name, level, records, size, needed, returned)
                  : NotLoaded();
}

BOOL CSpooler::SetPrinterW(HANDLE printer, DWORD level, LPBYTE record, DWORD command) {
    return Load() ? functions.SetPrinterW(printer, level, record, command) : NotLoaded();
}
