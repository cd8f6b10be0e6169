#include "coinstaller/printer_naming.h"

#include "coinstaller/two_call_read.h"
#include "platform/portability.h"

#include <cstring>

int32_t CPrinterNaming::RenamePrinter(HANDLE printerHandle, const WideString& newName) {
    if (printerHandle == nullptr || newName.IsEmpty() || !newName.IsValid()) {
        return 0;
    }
    TwoCallRead<ModuleStorage> record;
    if (!record.Read(
            [&](BYTE* buffer, DWORD size, DWORD* needed) {
                return StatusOf(spooler.GetPrinterW(printerHandle, 4, buffer, size, needed));
            },
            SizeAtLeast(sizeof(PRINTER_INFO_4W)))) {
        return 0;
    }

    int32_t result = 0;
    WideString uniqueName;
    if (MakeUniqueName(newName, uniqueName) != 0) {
        // Server name and attributes go back as read; only the name changes.
        PRINTER_INFO_4W info;
        std::memcpy(&info, record.As<BYTE>(), sizeof(info));
        info.pPrinterName = const_cast<LPWSTR>(uniqueName.c_str());
        result = spooler.SetPrinterW(printerHandle, 4, reinterpret_cast<LPBYTE>(&info), 0) != FALSE ? 1 : 0;
    }
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
    DWORD count = 0;
    TwoCallRead<ModuleStorage> list;
    if (!list.Read(
            [&](BYTE* buffer, DWORD size, DWORD* needed) {
                return StatusOf(
                    spooler.EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, buffer, size, needed, &count));
            },
            SizeAtLeast(1))) {
        return 0;
    }
    // Never walk beyond the block, whatever count comes back.
    size_t entries = count;
    if (entries > list.BlockBytes() / sizeof(PRINTER_INFO_4W)) {
        entries = list.BlockBytes() / sizeof(PRINTER_INFO_4W);
    }
    for (size_t i = 0; i < entries; ++i) {
        PRINTER_INFO_4W info;
        std::memcpy(&info, list.As<BYTE>() + i * sizeof(PRINTER_INFO_4W), sizeof(info));
        if (info.pPrinterName != nullptr && name.Equals(info.pPrinterName)) {
            return 1;
        }
    }
    return 0;
}
