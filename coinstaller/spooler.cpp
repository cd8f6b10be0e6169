#include "coinstaller/spooler.h"

#include "platform/portability.h"
#include "platform/system_library.h"

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

bool CSpooler::Load() {
    if (loadTried) {
        return library != nullptr;
    }
    loadTried = true;
    HMODULE loaded = LoadSystemLibrary(W("winspool.drv"));
    if (loaded == nullptr) {
        return false;
    }
    // All of the functions or none: a pass never works with half a spooler.
    Functions found = {};
    if (FindSystemFunction(loaded, "OpenPrinterW", &found.openPrinter) &&
        FindSystemFunction(loaded, "ClosePrinter", &found.closePrinter) &&
        FindSystemFunction(loaded, "GetPrinterDriverW", &found.getPrinterDriver) &&
        FindSystemFunction(loaded, "GetPrinterW", &found.getPrinter) &&
        FindSystemFunction(loaded, "GetPrinterDataW", &found.getPrinterData) &&
        FindSystemFunction(loaded, "EnumPrintersW", &found.enumPrinters) &&
        FindSystemFunction(loaded, "SetPrinterW", &found.setPrinter)) {
        functions = found;
        library = loaded;
        return true;
    }
    FreeLibrary(loaded);
    return false;
}

BOOL CSpooler::OpenPrinterW(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults) {
    return Load() ? functions.openPrinter(name, printer, defaults) : NotLoaded();
}

BOOL CSpooler::ClosePrinter(HANDLE printer) {
    return Load() ? functions.closePrinter(printer) : NotLoaded();
}

BOOL CSpooler::GetPrinterDriverW(HANDLE printer, LPWSTR environment, DWORD level, LPBYTE driverInfo,
                                 DWORD size, LPDWORD needed) {
    return Load() ? functions.getPrinterDriver(printer, environment, level, driverInfo, size, needed)
                  : NotLoaded();
}

BOOL CSpooler::GetPrinterW(HANDLE printer, DWORD level, LPBYTE record, DWORD size, LPDWORD needed) {
    return Load() ? functions.getPrinter(printer, level, record, size, needed) : NotLoaded();
}

DWORD CSpooler::GetPrinterDataW(HANDLE printer, LPWSTR valueName, LPDWORD type, LPBYTE data, DWORD size,
                                LPDWORD needed) {
    return Load() ? functions.getPrinterData(printer, valueName, type, data, size, needed)
                  : static_cast<DWORD>(ERROR_MOD_NOT_FOUND);
}

BOOL CSpooler::EnumPrintersW(DWORD flags, LPWSTR name, DWORD level, LPBYTE records, DWORD size,
                             LPDWORD needed, LPDWORD returned) {
    return Load() ? functions.enumPrinters(flags, name, level, records, size, needed, returned) : NotLoaded();
}

BOOL CSpooler::SetPrinterW(HANDLE printer, DWORD level, LPBYTE record, DWORD command) {
    return Load() ? functions.setPrinter(printer, level, record, command) : NotLoaded();
}
