// Print spooler behaviour the co-installer relies on: opening by name, the two-call size protocol with
// records and strings in one buffer, GetPrinterDataW's statuses, and renaming with SetPrinterW level 4.
#include "conformance.h"

#include <vector>

namespace {

const WCHAR* const kQueue = W("Vracoins Conformance Queue");
const WCHAR* const kOther = W("Vracoins Conformance Other");

HANDLE OpenQueue(const WCHAR* name) {
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    BOOL ok = OpenPrinterW(const_cast<LPWSTR>(name), &printer, &defaults);
    CHECK(ok && printer != nullptr, "opening %s: error %lu", Narrow(name).c_str(),
          static_cast<unsigned long>(GetLastError()));
    return printer;
}

} // namespace

CONFORMANCE_CHECK(OpeningAnUnknownPrinterFailsWithInvalidPrinterName) {
    world.Clear();
    HANDLE printer = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x1234));
    BOOL ok = OpenPrinterW(const_cast<LPWSTR>(W("Vracoins No Such Queue")), &printer, nullptr);
    CHECK(!ok && GetLastError() == ERROR_INVALID_PRINTER_NAME, "result %d, error %lu", ok,
          static_cast<unsigned long>(GetLastError()));
    CHECK(printer == nullptr, "got handle %p", printer);
}

CONFORMANCE_CHECK(EnumerationReportsItsSizeThenRecordsFollowedByStrings) {
    world.Clear();
    DWORD needed = 0;
    DWORD count = 0xDEADBEEF;
    BOOL ok = EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &needed, &count);
    if (needed == 0) {
        CHECK(ok && count == 0, "no printers: result %d, count %lu", ok, static_cast<unsigned long>(count));
        return;
    }
    CHECK(!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER, "probe: result %d, error %lu", ok,
          static_cast<unsigned long>(GetLastError()));
    std::vector<BYTE> buffer(needed);
    ok = EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, buffer.data(), needed - 1, &needed, &count);
    CHECK(!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER, "one byte short: result %d, error %lu", ok,
          static_cast<unsigned long>(GetLastError()));
    ok = EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, buffer.data(), needed, &needed, &count);
    CHECK(ok && count > 0, "read: result %d, count %lu, error %lu", ok, static_cast<unsigned long>(count),
          static_cast<unsigned long>(GetLastError()));
    auto* entries = reinterpret_cast<PRINTER_INFO_4W*>(buffer.data());
    for (DWORD i = 0; ok && i < count; ++i) {
        auto* name = reinterpret_cast<BYTE*>(entries[i].pPrinterName);
        CHECK(name >= buffer.data() + count * sizeof(PRINTER_INFO_4W) && name < buffer.data() + needed,
              "entry %lu: the name lies outside the string area", static_cast<unsigned long>(i));
    }
}

CONFORMANCE_CHECK(DriverAndPrinterRecordsFollowTheTwoCallProtocol) {
    world.Clear();
    SKIP_UNLESS_PREPARED(
        world.AddLocalPrinter(kQueue, W("Example PCL 6 Driver"), W("USB001"), nullptr, nullptr));
    HANDLE printer = OpenQueue(kQueue);
    DWORD needed = 0;
    BOOL ok = GetPrinterDriverW(printer, nullptr, 1, nullptr, 0, &needed);
    CHECK(!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER && needed > sizeof(DRIVER_INFO_1W),
          "driver probe: result %d, error %lu, needed %lu", ok, static_cast<unsigned long>(GetLastError()),
          static_cast<unsigned long>(needed));
    std::vector<BYTE> driver(needed);
    ok = GetPrinterDriverW(printer, nullptr, 1, driver.data(), needed - 1, &needed);
    CHECK(!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER, "driver one byte short: result %d, error %lu",
          ok, static_cast<unsigned long>(GetLastError()));
    ok = GetPrinterDriverW(printer, nullptr, 1, driver.data(), needed, &needed);
    CHECK(ok, "driver: error %lu", static_cast<unsigned long>(GetLastError()));
    if (ok) {
        const WCHAR* name = reinterpret_cast<DRIVER_INFO_1W*>(driver.data())->pName;
        CHECK(SameText(name, W("Example PCL 6 Driver")), "got driver %s", Narrow(name).c_str());
        auto* text = reinterpret_cast<const BYTE*>(name);
        CHECK(text >= driver.data() + sizeof(DRIVER_INFO_1W) &&
                  text + sizeof(W("Example PCL 6 Driver")) <= driver.data() + needed,
              "the driver name lies outside the string area");
    }
    ok = GetPrinterW(printer, 5, nullptr, 0, &needed);
    CHECK(!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER, "level 5 probe: error %lu",
          static_cast<unsigned long>(GetLastError()));
    std::vector<BYTE> level5(needed);
    ok = GetPrinterW(printer, 5, level5.data(), needed, &needed);
    CHECK(ok, "level 5: error %lu", static_cast<unsigned long>(GetLastError()));
    if (ok) {
        const auto* info = reinterpret_cast<PRINTER_INFO_5W*>(level5.data());
        CHECK(SameText(info->pPrinterName, kQueue), "got name %s", Narrow(info->pPrinterName).c_str());
        CHECK(SameText(info->pPortName, W("USB001")), "got port %s", Narrow(info->pPortName).c_str());
    }
    ClosePrinter(printer);
}

CONFORMANCE_CHECK(PrinterDataAnswersWithStatuses) {
    world.Clear();
    SKIP_UNLESS_PREPARED(
        world.AddLocalPrinter(kQueue, W("Example PCL 6 Driver"), W("USB001"), W("USB001"), W("Alpha 100")));
    HANDLE printer = OpenQueue(kQueue);
    BYTE buffer[520];
    DWORD needed = 0;
    DWORD status = GetPrinterDataW(printer, const_cast<LPWSTR>(W("Vracoins Missing")), nullptr, buffer,
                                   sizeof(buffer), &needed);
    CHECK(status == ERROR_FILE_NOT_FOUND, "missing value: status %lu", static_cast<unsigned long>(status));
    status = GetPrinterDataW(printer, const_cast<LPWSTR>(W("USB001")), nullptr, buffer, 4, &needed);
    CHECK(status == ERROR_MORE_DATA && needed == 10 * sizeof(WCHAR), "small buffer: status %lu, needed %lu",
          static_cast<unsigned long>(status), static_cast<unsigned long>(needed));
    DWORD type = 0;
    status =
        GetPrinterDataW(printer, const_cast<LPWSTR>(W("usb001")), &type, buffer, sizeof(buffer), &needed);
    CHECK(status == ERROR_SUCCESS && type == REG_SZ && needed == 10 * sizeof(WCHAR),
          "read by the name in other letters: status %lu, type %lu, needed %lu",
          static_cast<unsigned long>(status), static_cast<unsigned long>(type),
          static_cast<unsigned long>(needed));
    CHECK(status != ERROR_SUCCESS || SameText(reinterpret_cast<const WCHAR*>(buffer), W("Alpha 100")),
          "got %s", Narrow(reinterpret_cast<const WCHAR*>(buffer)).c_str());
    ClosePrinter(printer);
}

CONFORMANCE_CHECK(RenamingRefusesANameAnotherPrinterBears) {
    world.Clear();
    SKIP_UNLESS_PREPARED(
        world.AddLocalPrinter(kQueue, W("Example PCL 6 Driver"), W("USB001"), nullptr, nullptr));
    SKIP_UNLESS_PREPARED(
        world.AddLocalPrinter(kOther, W("Example PCL 6 Driver"), W("LPT1:"), nullptr, nullptr));
    HANDLE printer = OpenQueue(kQueue);
    PRINTER_INFO_4W record{const_cast<LPWSTR>(W("VRACOINS CONFORMANCE OTHER")), nullptr,
                           PRINTER_ATTRIBUTE_LOCAL};
    BOOL ok = SetPrinterW(printer, 4, reinterpret_cast<LPBYTE>(&record), 0);
    CHECK_EXCEPT_WINE("Wine's SetPrinterW does not rename (level 4 is ERROR_INVALID_LEVEL there)",
                      !ok && GetLastError() == ERROR_PRINTER_ALREADY_EXISTS,
                      "taken in other letters: result %d, error %lu", ok,
                      static_cast<unsigned long>(GetLastError()));
    record.pPrinterName = const_cast<LPWSTR>(W("Vracoins Conformance QUEUE"));
    ok = SetPrinterW(printer, 4, reinterpret_cast<LPBYTE>(&record), 0);
    CHECK_EXCEPT_WINE("Wine's SetPrinterW does not rename (level 4 is ERROR_INVALID_LEVEL there)", ok,
                      "its own name in other letters: error %lu", static_cast<unsigned long>(GetLastError()));
    record.pPrinterName = const_cast<LPWSTR>(W("Vracoins Conformance Renamed"));
    ok = SetPrinterW(printer, 4, reinterpret_cast<LPBYTE>(&record), 0);
    CHECK_EXCEPT_WINE("Wine's SetPrinterW does not rename (level 4 is ERROR_INVALID_LEVEL there)", ok,
                      "free name: error %lu", static_cast<unsigned long>(GetLastError()));
    ClosePrinter(printer);
    if (ok) {
        HANDLE renamed = OpenQueue(W("Vracoins Conformance Renamed"));
        ClosePrinter(renamed);
    }
}

CONFORMANCE_CHECK(PrinterNamesOpenWithoutRegardToLetterCase) {
    world.Clear();
    SKIP_UNLESS_PREPARED(
        world.AddLocalPrinter(kQueue, W("Example PCL 6 Driver"), W("USB001"), nullptr, nullptr));
    HANDLE printer = OpenQueue(W("VRACOINS CONFORMANCE QUEUE"));
    DWORD needed = 0;
    GetPrinterW(printer, 4, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed + sizeof(PRINTER_INFO_4W));
    BOOL ok = GetPrinterW(printer, 4, buffer.data(), static_cast<DWORD>(buffer.size()), &needed);
    CHECK(ok, "level 4: error %lu", static_cast<unsigned long>(GetLastError()));
    if (ok) {
        const auto* info = reinterpret_cast<PRINTER_INFO_4W*>(buffer.data());
        CHECK(SameText(info->pPrinterName, kQueue), "the spooler reports its own spelling, got %s",
              Narrow(info->pPrinterName).c_str());
        CHECK(info->pServerName == nullptr, "a local printer has no server name, got %s",
              Narrow(info->pServerName).c_str());
        CHECK((info->Attributes & PRINTER_ATTRIBUTE_LOCAL) != 0, "got attributes %#lx",
              static_cast<unsigned long>(info->Attributes));
    }
    ClosePrinter(printer);
}
