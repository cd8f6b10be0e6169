// CPrinterNaming: applies a new name to an open print queue, first making it unique among the local
// printers by a copy number ("Name (Copy 2)").
#pragma once

#include "coinstaller/spooler.h"
#include "coinstaller/wide_string.h"
#include "platform/platform.h"

#include <cstdint>

class CPrinterNaming {
  public:
    // Asks `spooler`, which must outlive the object.
    explicit CPrinterNaming(CSpooler& spooler) : spooler(spooler) {}

    // SetPrinterW's result (non-zero on success), or 0 when the rename stops before that call.
    int32_t RenamePrinter(HANDLE printerHandle, const WideString& newName);
    // `uniqueName` becomes the first of baseName, "baseName (Copy 1)", "baseName (Copy 2)", ... that no
    // local printer bears. 0, with `uniqueName` untouched, for an empty base name or when a candidate
    // cannot be built whole; else 1.
    int32_t MakeUniqueName(const WideString& baseName, WideString& uniqueName);
    // Non-zero when a local printer bears exactly `name` (letter case counts).
    int32_t PrinterExists(const WideString& name);

  private:
    CSpooler& spooler;
};
