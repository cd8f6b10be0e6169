#include "coinstaller/printer_queries.h"

bool QueryPrinterDriver(HANDLE printerHandle, DWORD level, LPBYTE& record) {
    record = nullptr;
    // The probe fails by design (no buffer); only the size it reports matters.
    DWORD needed = 0;
    GetPrinterDriverW(printerHandle, nullptr, level, nullptr, 0, &needed);
    if (needed == 0) {
        return false;
    }
    record = static_cast<LPBYTE>(GlobalAlloc(GPTR, needed));
    if (record == nullptr) {
        return false;
    }
    return GetPrinterDriverW(printerHandle, nullptr, level, record, needed, &needed) != FALSE;
}

bool QueryPrinter(HANDLE printerHandle, DWORD level, LPBYTE& record) {
    record = nullptr;
    DWORD needed = 0;
    GetPrinterW(printerHandle, level, nullptr, 0, &needed);
    if (needed == 0) {
        return false;
    }
    record = static_cast<LPBYTE>(GlobalAlloc(GPTR, needed));
    if (record == nullptr) {
        return false;
    }
    return GetPrinterW(printerHandle, level, record, needed, &needed) != FALSE;
}
