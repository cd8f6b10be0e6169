// Print queues in the real spooler for the length of a scenario.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <memory>
#include <string>
#include <vector>

namespace winetest {

// Installs a printer driver by this name for the local environment, unless the spooler knows it already.
// Wine installs no driver of its own when it finds no CUPS printer, so the driver is made from the files
// of Wine's PostScript driver (wineps.drv, present in the driver directory of every prefix) with a
// minimal PPD. Answers false with the reason in `why` when no driver could be installed.
bool EnsurePrinterDriver(const wchar_t* driverName, std::string* why);

class TestPrinter {
  public:
    // Adds a local printer (AddPrinterW, level 2) on the port with the driver. A printer left over by an
    // earlier run under the same name is deleted first.
    TestPrinter(const wchar_t* name, const wchar_t* driverName, const wchar_t* portName);
    ~TestPrinter();
    TestPrinter(const TestPrinter&) = delete;
    TestPrinter& operator=(const TestPrinter&) = delete;

    bool IsAdded() const { return handle != nullptr; }
    const std::string& Failure() const { return failure; }

    // The queue's name as the spooler reports it now (GetPrinterW level 4 on the queue's own handle, so
    // it follows a rename); empty when it cannot be read.
    std::wstring CurrentName() const;

    // Stores printer data (SetPrinterDataW, REG_SZ) under the value name.
    DWORD SetDataText(const wchar_t* valueName, const wchar_t* text) const;

  private:
    HANDLE handle = nullptr;
    std::string failure;
};

// A queue added for the length of a check with its driver installed first (EnsurePrinterDriver); null,
// with the reason in `why`, when the driver or the queue cannot be added.
std::unique_ptr<TestPrinter> AddTestPrinter(const wchar_t* name, const wchar_t* driverName,
                                            const wchar_t* portName, std::string* why);

// The names of the local printers, in the spooler's order (EnumPrintersW, PRINTER_ENUM_LOCAL, level 4).
std::vector<std::wstring> LocalPrinterNames();
bool HasLocalPrinter(const std::wstring& name);

// Whether the spooler accepts SetPrinterW at level 4, tried on the queue with its own record unchanged.
// Wine 8 answers ERROR_INVALID_LEVEL; `error` receives the spooler's answer.
bool SpoolerRenamesAtLevel4(const TestPrinter& printer, DWORD* error);

// Deletes the local printer of that name if there is one.
void DeletePrinterNamed(const wchar_t* name);

} // namespace winetest
