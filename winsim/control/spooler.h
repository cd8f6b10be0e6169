// Test-facing control of the simulated print spooler: seeding local printers and their printer data,
// removing printers under open handles, and reading back names and calls.
#pragma once

#include "winsim/control/world.h"
#include "winsim/kernel/types.h"

#include <cstddef>
#include <string>
#include <vector>

namespace winsim {

// --- Printers (spooler) ------------------------------------------------------------------------------
// Adds a local printer, or replaces driver and port of the one that bears the name in any letter case.
void AddPrinter(const std::u16string& name, const std::u16string& driver, const std::u16string& port);
// True when a printer bears exactly this name, letter case included.
bool PrinterExists(const std::u16string& name);
std::vector<std::u16string> PrinterNames();
// The printer must exist (any letter case); value names compare without regard to letter case.
void SetPrinterData(const std::u16string& printer, const std::u16string& valueName, DWORD type,
                    const Bytes& data);
void SetPrinterStringData(const std::u16string& printer, const std::u16string& valueName,
                          const std::u16string& text);
// Removes a printer while handles to it may be open: later calls on those handles fail with
// ERROR_INVALID_HANDLE, as for a printer deleted meanwhile.
void RemovePrinter(const std::u16string& name);
// The value name of the last GetPrinterDataW call, and the levels of every SetPrinterW call.
std::u16string LastPrinterDataValueName();
std::vector<DWORD> SetPrinterLevels();
size_t OpenPrinterCount();

} // namespace winsim
