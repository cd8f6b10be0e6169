#include "coinstaller/printer_queries.h"

namespace {

// The spooler's two-call read. `read(buffer, size, needed)` is one spooler call; the probe without a
// buffer fails by design, only the size it reports matters.
template <typename SpoolerRead> bool ReadSizedRecord(SpoolerRead read, LPBYTE& record) {
    record = nullptr;
    DWORD needed = 0;
    read(nullptr, 0, &needed);
    if (needed == 0) {
        return false;
    }
    record = static_cast<LPBYTE>(GlobalAlloc(GPTR, needed));
    if (record == nullptr) {
        return false;
    }
    return read(record, needed, &needed) != FALSE;
}

} // namespace

bool QueryPrinterDriver(HANDLE printerHandle, DWORD level, LPBYTE& record) {
    return ReadSizedRecord(
        [&](LPBYTE buffer, DWORD size, LPDWORD needed) {
            return GetPrinterDriverW(printerHandle, nullptr, level, buffer, size, needed);
        },
        record);
}

bool QueryPrinter(HANDLE printerHandle, DWORD level, LPBYTE& record) {
    return ReadSizedRecord(
        [&](LPBYTE buffer, DWORD size, LPDWORD needed) {
            return GetPrinterW(printerHandle, level, buffer, size, needed);
        },
        record);
}
