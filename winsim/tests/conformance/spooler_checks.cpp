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
    EXPECT_TRUE(ok && printer != nullptr) << Formatted("opening %s: error %lu", Narrow(name).c_str(),
                                                       static_cast<unsigned long>(GetLastError()));
    return printer;
}

} // namespace

TEST_F(ConformanceCheck, OpeningAnUnknownPrinterFailsWithInvalidPrinterName) {
    world.Clear();
    HANDLE printer = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x1234));
    BOOL ok = OpenPrinterW(const_cast<LPWSTR>(W("Vracoins No Such Queue")), &printer, nullptr);
    EXPECT_TRUE(!ok && GetLastError() == ERROR_INVALID_PRINTER_NAME)
        << Formatted("result %d, error %lu", ok, static_cast<unsigned long>(GetLastError()));
    EXPECT_TRUE(printer == nullptr) << Formatted("got handle %p", printer);
}

TEST_F(ConformanceCheck, EnumerationReportsItsSizeThenRecordsFollowedByStrings) {
    world.Clear();
    DWORD needed = 0;
    DWORD count = 0xDEADBEEF;
    BOOL ok = EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &needed, &count);
    if (needed == 0) {
        EXPECT_TRUE(ok && count == 0)
            << Formatted("no printers: result %d, count %lu", ok, static_cast<unsigned long>(count));
        return;
    }
    EXPECT_TRUE(!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER)
        << Formatted("probe: result %d, error %lu", ok, static_cast<unsigned long>(GetLastError()));
    std::vector<BYTE> buffer(needed);
    ok = EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, buffer.data(), needed - 1, &needed, &count);
    EXPECT_TRUE(!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER)
        << Formatted("one byte short: result %d, error %lu", ok, static_cast<unsigned long>(GetLastError()));
    ok = EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, buffer.data(), needed, &needed, &count);
    EXPECT_TRUE(ok && count > 0) << Formatted("read: result %d, count %lu, error %lu", ok,
                                              static_cast<unsigned long>(count),
                                              static_cast<unsigned long>(GetLastError()));
    auto* entries = reinterpret_cast<PRINTER_INFO_4W*>(buffer.data());
    for (DWORD i = 0; ok && i < count; ++i) {
        auto* name = reinterpret_cast<BYTE*>(entries[i].pPrinterName);
        EXPECT_TRUE(name >= buffer.data() + count * sizeof(PRINTER_INFO_4W) && name < buffer.data() + needed)
            << Formatted("entry %lu: the name lies outside the string area", static_cast<unsigned long>(i));
    }
}

TEST_F(ConformanceCheck, DriverAndPrinterRecordsFollowTheTwoCallProtocol) {
    world.Clear();
    SKIP_UNLESS_PREPARED(
        world.AddLocalPrinter(kQueue, W("Example PCL 6 Driver"), W("USB001"), nullptr, nullptr));
    HANDLE printer = OpenQueue(kQueue);
    DWORD needed = 0;
    BOOL ok = GetPrinterDriverW(printer, nullptr, 1, nullptr, 0, &needed);
    EXPECT_TRUE(!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER && needed > sizeof(DRIVER_INFO_1W))
        << Formatted("driver probe: result %d, error %lu, needed %lu", ok,
                     static_cast<unsigned long>(GetLastError()), static_cast<unsigned long>(needed));
    std::vector<BYTE> driver(needed);
    ok = GetPrinterDriverW(printer, nullptr, 1, driver.data(), needed - 1, &needed);
    EXPECT_TRUE(!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER) << Formatted(
        "driver one byte short: result %d, error %lu", ok, static_cast<unsigned long>(GetLastError()));
    ok = GetPrinterDriverW(printer, nullptr, 1, driver.data(), needed, &needed);
    EXPECT_TRUE(ok) << Formatted("driver: error %lu", static_cast<unsigned long>(GetLastError()));
    if (ok) {
        const WCHAR* name = reinterpret_cast<DRIVER_INFO_1W*>(driver.data())->pName;
        EXPECT_TRUE(SameText(name, W("Example PCL 6 Driver")))
            << Formatted("got driver %s", Narrow(name).c_str());
        auto* text = reinterpret_cast<const BYTE*>(name);
        EXPECT_TRUE(text >= driver.data() + sizeof(DRIVER_INFO_1W) &&
                    text + sizeof(W("Example PCL 6 Driver")) <= driver.data() + needed)
            << Formatted("the driver name lies outside the string area");
    }
    ok = GetPrinterW(printer, 5, nullptr, 0, &needed);
    EXPECT_TRUE(!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER)
        << Formatted("level 5 probe: error %lu", static_cast<unsigned long>(GetLastError()));
    std::vector<BYTE> level5(needed);
    ok = GetPrinterW(printer, 5, level5.data(), needed, &needed);
    EXPECT_TRUE(ok) << Formatted("level 5: error %lu", static_cast<unsigned long>(GetLastError()));
    if (ok) {
        const auto* info = reinterpret_cast<PRINTER_INFO_5W*>(level5.data());
        EXPECT_TRUE(SameText(info->pPrinterName, kQueue))
            << Formatted("got name %s", Narrow(info->pPrinterName).c_str());
        EXPECT_TRUE(SameText(info->pPortName, W("USB001")))
            << Formatted("got port %s", Narrow(info->pPortName).c_str());
    }
    ClosePrinter(printer);
}

TEST_F(ConformanceCheck, PrinterDataAnswersWithStatuses) {
    world.Clear();
    SKIP_UNLESS_PREPARED(
        world.AddLocalPrinter(kQueue, W("Example PCL 6 Driver"), W("USB001"), W("USB001"), W("Alpha 100")));
    HANDLE printer = OpenQueue(kQueue);
    BYTE buffer[520];
    DWORD needed = 0;
    DWORD status = GetPrinterDataW(printer, const_cast<LPWSTR>(W("Vracoins Missing")), nullptr, buffer,
                                   sizeof(buffer), &needed);
    EXPECT_TRUE(status == ERROR_FILE_NOT_FOUND)
        << Formatted("missing value: status %lu", static_cast<unsigned long>(status));
    status = GetPrinterDataW(printer, const_cast<LPWSTR>(W("USB001")), nullptr, buffer, 4, &needed);
    EXPECT_TRUE(status == ERROR_MORE_DATA && needed == 10 * sizeof(WCHAR))
        << Formatted("small buffer: status %lu, needed %lu", static_cast<unsigned long>(status),
                     static_cast<unsigned long>(needed));
    DWORD type = 0;
    status =
        GetPrinterDataW(printer, const_cast<LPWSTR>(W("usb001")), &type, buffer, sizeof(buffer), &needed);
    EXPECT_TRUE(status == ERROR_SUCCESS && type == REG_SZ && needed == 10 * sizeof(WCHAR))
        << Formatted("read by the name in other letters: status %lu, type %lu, needed %lu",
                     static_cast<unsigned long>(status), static_cast<unsigned long>(type),
                     static_cast<unsigned long>(needed));
    EXPECT_TRUE(status != ERROR_SUCCESS || SameText(reinterpret_cast<const WCHAR*>(buffer), W("Alpha 100")))
        << Formatted("got %s", Narrow(reinterpret_cast<const WCHAR*>(buffer)).c_str());
    ClosePrinter(printer);
}

TEST_F(ConformanceCheck, RenamingRefusesANameAnotherPrinterBears) {
    world.Clear();
    SKIP_UNLESS_PREPARED(
        world.AddLocalPrinter(kQueue, W("Example PCL 6 Driver"), W("USB001"), nullptr, nullptr));
    SKIP_UNLESS_PREPARED(
        world.AddLocalPrinter(kOther, W("Example PCL 6 Driver"), W("LPT1:"), nullptr, nullptr));
    HANDLE printer = OpenQueue(kQueue);
    PRINTER_INFO_4W record{const_cast<LPWSTR>(W("VRACOINS CONFORMANCE OTHER")), nullptr,
                           PRINTER_ATTRIBUTE_LOCAL};
    BOOL ok = SetPrinterW(printer, 4, reinterpret_cast<LPBYTE>(&record), 0);
    EXPECT_TRUE_EXCEPT_ON_WINE("Wine's SetPrinterW does not rename (level 4 is ERROR_INVALID_LEVEL there)",
                               !ok && GetLastError() == ERROR_PRINTER_ALREADY_EXISTS)
        << Formatted("taken in other letters: result %d, error %lu", ok,
                     static_cast<unsigned long>(GetLastError()));
    record.pPrinterName = const_cast<LPWSTR>(W("Vracoins Conformance QUEUE"));
    ok = SetPrinterW(printer, 4, reinterpret_cast<LPBYTE>(&record), 0);
    EXPECT_TRUE_EXCEPT_ON_WINE("Wine's SetPrinterW does not rename (level 4 is ERROR_INVALID_LEVEL there)",
                               ok)
        << Formatted("its own name in other letters: error %lu", static_cast<unsigned long>(GetLastError()));
    record.pPrinterName = const_cast<LPWSTR>(W("Vracoins Conformance Renamed"));
    ok = SetPrinterW(printer, 4, reinterpret_cast<LPBYTE>(&record), 0);
    EXPECT_TRUE_EXCEPT_ON_WINE("Wine's SetPrinterW does not rename (level 4 is ERROR_INVALID_LEVEL there)",
                               ok)
        << Formatted("free name: error %lu", static_cast<unsigned long>(GetLastError()));
    ClosePrinter(printer);
    if (ok) {
        HANDLE renamed = OpenQueue(W("Vracoins Conformance Renamed"));
        ClosePrinter(renamed);
    }
}

TEST_F(ConformanceCheck, PrinterNamesOpenWithoutRegardToLetterCase) {
    world.Clear();
    SKIP_UNLESS_PREPARED(
        world.AddLocalPrinter(kQueue, W("Example PCL 6 Driver"), W("USB001"), nullptr, nullptr));
    HANDLE printer = OpenQueue(W("VRACOINS CONFORMANCE QUEUE"));
    DWORD needed = 0;
    GetPrinterW(printer, 4, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed + sizeof(PRINTER_INFO_4W));
    BOOL ok = GetPrinterW(printer, 4, buffer.data(), static_cast<DWORD>(buffer.size()), &needed);
    EXPECT_TRUE(ok) << Formatted("level 4: error %lu", static_cast<unsigned long>(GetLastError()));
    if (ok) {
        const auto* info = reinterpret_cast<PRINTER_INFO_4W*>(buffer.data());
        EXPECT_TRUE(SameText(info->pPrinterName, kQueue))
            << Formatted("the spooler reports its own spelling, got %s", Narrow(info->pPrinterName).c_str());
        EXPECT_TRUE(info->pServerName == nullptr)
            << Formatted("a local printer has no server name, got %s", Narrow(info->pServerName).c_str());
        EXPECT_TRUE((info->Attributes & PRINTER_ATTRIBUTE_LOCAL) != 0)
            << Formatted("got attributes %#lx", static_cast<unsigned long>(info->Attributes));
    }
    ClosePrinter(printer);
}
