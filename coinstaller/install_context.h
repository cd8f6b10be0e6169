// CInstallContext: the per-user install context kept under HKEY_CURRENT_USER while a printer device is
// installed. Holds no key between operations: each one opens the key, does its one value operation and
// closes it again.
#pragma once

#include "coinstaller/wide_string.h"

#include <cstdint>

class CInstallContext {
  public:
    // Starts with no context and no name, then loads the stored context.
    CInstallContext();
    CInstallContext(const CInstallContext&) = delete;
    CInstallContext& operator=(const CInstallContext&) = delete;

    // Takes the stored InstallContext when it reads as a DWORD; otherwise `context` stays as it was.
    void Load();
    // Stores `context` as InstallContext, creating the key when missing. A failed write is not reported.
    void Save();
    // Accepts 1 to 3 only: returns 0 for anything else and changes nothing; else keeps and saves the value
    // and returns 1 (also when the save failed).
    int32_t SetContext(int32_t value);
    // 1 when InstallContext was deleted, else 0.
    int32_t ClearContext();
    // Reads InstallContextOriginalPrinterName into the record's name; a failed read leaves it as it was.
    const WideString& ReadPrinterName();
    // 1 when InstallContextOriginalPrinterName was deleted, else 0.
    int32_t ClearPrinterName();

    int32_t Context() const { return context; }
    const WideString& PrinterName() const { return printerName; }

  private:
    int32_t context = 0;
    WideString printerName;
};
