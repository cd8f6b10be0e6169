#include "coinstaller/printer_naming.h"

#include "platform/portability.h"

#include <cstring>

int32_t CPrinterNaming::RenamePrinter(HANDLE printerHandle, const WideString& newName) {
    if (printerHandle == nullptr || newName.IsEmpty() || !newName.IsValid()) {
        return 0;
    }
    // The probe fails by design (no buffer); only the size it reports matters.
    DWORD needed = 0;
    GetPrinterW(printerHandle, 4, nullptr, 0, &needed);
    if (needed < sizeof(PRINTER_INFO_4W)) {
        return 0;
    }
    BYTE* buffer = new BYTE[needed];
    if (buffer == nullptr) {
        return 0;
    }
    if (!GetPrinterW(printerHandle, 4, buffer, needed, &needed)) {
        delete[] buffer;
        return 0;
    }

    int32_t result = 0;
    WideString uniqueName;
    if (MakeUniqueName(newName, uniqueName) != 0) {
        // Server name and attributes go back as read; only the name changes.
        PRINTER_INFO_4W info;
        std::memcpy(&info, buffer, sizeof(info));
        info.pPrinterName = const_cast<LPWSTR>(uniqueName.c_str());
        result = SetPrinterW(printerHandle, 4, reinterpret_cast<LPBYTE>(&info), 0) != FALSE ? 1 : 0;
    }
    delete[] buffer;
    return result;
}

int32_t CPrinterNaming::MakeUniqueName(const WideString& baseName, WideString& uniqueName) {
    if (baseName.IsEmpty() || !baseName.IsValid()) {
        return 0;
    }
    WideString candidate(baseName);
    if (!candidate.IsValid()) {
        return 0;
    }
    // Every candidate is built from the base afresh, so suffixes never pile up. Each taken candidate is
    // the name of an existing printer, so the search ends.
    unsigned long long copyNumber = 0;
    while (PrinterExists(candidate) != 0) {
        ++copyNumber;
        candidate.Assign(baseName);
        candidate.Append(W(" "));
        candidate.Append(W("("));
        candidate.Append(W("Copy"));
        candidate.Append(W(" "));
        candidate.AppendUnsigned(copyNumber);
        candidate.Append(W(")"));
        if (!candidate.IsValid()) {
            return 0;
        }
    }
    uniqueName.Swap(candidate);
    return 1;
}

int32_t CPrinterNaming::PrinterExists(const WideString& name) {
    DWORD needed = 0;
    DWORD count = 0;
    EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &needed, &count);
    if (needed == 0) {
        return 0;
    }
    const DWORD bufferSize = needed;
    BYTE* buffer = new BYTE[bufferSize];
    if (buffer == nullptr) {
        return 0;
    }
    int32_t exists = 0;
    if (EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, buffer, bufferSize, &needed, &count)) {
        // Never walk beyond the buffer, whatever count comes back.
        size_t entries = count;
        if (entries > bufferSize / sizeof(PRINTER_INFO_4W)) {
            entries = bufferSize / sizeof(PRINTER_INFO_4W);
        }
        for (size_t i = 0; i < entries && exists == 0; ++i) {
            PRINTER_INFO_4W info;
            std::memcpy(&info, buffer + i * sizeof(PRINTER_INFO_4W), sizeof(info));
            if (info.pPrinterName != nullptr && name.Equals(info.pPrinterName)) {
                exists = 1;
            }
        }
    }
    delete[] buffer;
    return exists;
}
