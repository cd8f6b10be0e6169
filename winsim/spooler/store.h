// The simulated print spooler's state: local printers, their printer data, the open printer handles,
// and what tests read back about the calls made. Every function here expects the caller to hold the
// world lock. Internal to winsim.
#pragma once

#include "winsim/core/malloc_containers.h"
#include "winsim/spooler/spooler.h"

#include <memory>

namespace winsim_detail {

struct PrinterDataValue {
    SimWString name;
    DWORD type = 0;
    SimVector<BYTE> data;
};

struct Printer {
    SimWString name;
    SimWString driver;
    SimWString port;
    DWORD attributes = PRINTER_ATTRIBUTE_LOCAL;
    SimVector<PrinterDataValue> data;
    bool removed = false; // its handles then answer ERROR_INVALID_HANDLE
};

struct PrinterHandle {
    std::shared_ptr<Printer> printer;
    ACCESS_MASK granted;
};

struct SpoolerState {
    SimVector<std::shared_ptr<Printer>> printers; // in order of creation, as enumerated
    SimMap<ULONG_PTR, PrinterHandle> handles;
    ULONG_PTR nextHandle = 0;
    SimWString lastDataValueName;
    SimVector<DWORD> setPrinterLevels;
};

SpoolerState& Spooler();
// Printer names are compared without regard to letter case, as the spooler does.
std::shared_ptr<Printer> FindPrinter(const SimWString& name);
void ResetSpooler();

} // namespace winsim_detail
