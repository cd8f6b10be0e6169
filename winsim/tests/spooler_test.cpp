// Conformance of the simulated print spooler with the Win32 behaviour the co-installer relies on: the
// two-call size protocol with records and strings in one buffer, GetPrinterDataW's statuses, renaming
// and its collisions, and handles of removed printers.
#include "simulated_world.h"

#include <vector>

namespace {

constexpr DWORD kUntouched = 0xDEADBEEF;

class Spooler : public SimulatedWorld {
  protected:
    void SetUp() override {
        SimulatedWorld::SetUp();
        winsim::AddPrinter(u"Queue One", u"Example PCL 6 Driver", u"USB001");
        winsim::AddPrinter(u"Queue Two", u"Example Universal XPS", u"LPT1:");
    }
    HANDLE Open(const WCHAR* name, ACCESS_MASK access = PRINTER_ALL_ACCESS) {
        PRINTER_DEFAULTSW defaults{nullptr, nullptr, access};
        HANDLE printer = nullptr;
        EXPECT_TRUE(OpenPrinterW(const_cast<LPWSTR>(name), &printer, &defaults))
            << "opening " << Utf8(name) << ": error " << GetLastError();
        return printer;
    }
    std::vector<std::string> EnumeratedNames() {
        DWORD needed = 0;
        DWORD count = 0;
        EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &needed, &count);
        std::vector<BYTE> buffer(needed);
        std::vector<std::string> names;
        if (EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, buffer.data(), needed, &needed, &count)) {
            auto* entries = reinterpret_cast<PRINTER_INFO_4W*>(buffer.data());
            for (DWORD i = 0; i < count; ++i) {
                names.push_back(Utf8(entries[i].pPrinterName));
            }
        }
        return names;
    }
};

TEST_F(Spooler, OpeningAnUnknownPrinterFailsWithInvalidPrinterNameAndANullHandle) {
    HANDLE printer = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x1234));
    EXPECT_FALSE(OpenPrinterW(const_cast<LPWSTR>(W("No Such Queue")), &printer, nullptr));
    EXPECT_EQ(ERROR_INVALID_PRINTER_NAME, GetLastError());
    EXPECT_EQ(nullptr, printer);
    EXPECT_EQ(0u, winsim::OpenPrinterCount());
}

TEST_F(Spooler, PrinterNamesOpenWithoutRegardToLetterCase) {
    HANDLE printer = Open(W("QUEUE ONE"));
    EXPECT_EQ(1u, winsim::OpenPrinterCount());
    EXPECT_TRUE(ClosePrinter(printer));
    EXPECT_EQ(0u, winsim::OpenPrinterCount());
    EXPECT_FALSE(ClosePrinter(printer)) << "a closed handle is no longer valid";
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
}

TEST_F(Spooler, DriverInfoFollowsTheTwoCallProtocolWithItsStringInTheSameBuffer) {
    HANDLE printer = Open(W("Queue One"));
    DWORD needed = 0;
    EXPECT_FALSE(GetPrinterDriverW(printer, nullptr, 1, nullptr, 0, &needed));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(sizeof(DRIVER_INFO_1W) + sizeof(u"Example PCL 6 Driver"), needed);

    std::vector<BYTE> buffer(needed);
    EXPECT_FALSE(GetPrinterDriverW(printer, nullptr, 1, buffer.data(), needed - 1, &needed));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
    ASSERT_TRUE(GetPrinterDriverW(printer, nullptr, 1, buffer.data(), needed, &needed));
    auto* info = reinterpret_cast<DRIVER_INFO_1W*>(buffer.data());
    EXPECT_EQ("Example PCL 6 Driver", Utf8(info->pName));
    EXPECT_GE(reinterpret_cast<BYTE*>(info->pName), buffer.data() + sizeof(DRIVER_INFO_1W));
    EXPECT_LE(reinterpret_cast<BYTE*>(info->pName) + sizeof(u"Example PCL 6 Driver"), buffer.data() + needed);

    EXPECT_FALSE(GetPrinterDriverW(printer, nullptr, 3, nullptr, 0, &needed));
    EXPECT_EQ(ERROR_INVALID_LEVEL, GetLastError());
    ClosePrinter(printer);
}

TEST_F(Spooler, PrinterInfoLevelsFourAndFiveReportNameAndPort) {
    HANDLE printer = Open(W("queue one"));
    DWORD needed = 0;
    EXPECT_FALSE(GetPrinterW(printer, 5, nullptr, 0, &needed));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
    std::vector<BYTE> level5(needed);
    ASSERT_TRUE(GetPrinterW(printer, 5, level5.data(), needed, &needed));
    auto* info5 = reinterpret_cast<PRINTER_INFO_5W*>(level5.data());
    EXPECT_EQ("Queue One", Utf8(info5->pPrinterName)) << "the name as the spooler keeps it";
    EXPECT_EQ("USB001", Utf8(info5->pPortName));

    EXPECT_FALSE(GetPrinterW(printer, 4, nullptr, 0, &needed));
    std::vector<BYTE> level4(needed);
    ASSERT_TRUE(GetPrinterW(printer, 4, level4.data(), needed, &needed));
    auto* info4 = reinterpret_cast<PRINTER_INFO_4W*>(level4.data());
    EXPECT_EQ("Queue One", Utf8(info4->pPrinterName));
    EXPECT_EQ(nullptr, info4->pServerName) << "a local printer has no server name";
    EXPECT_NE(0u, info4->Attributes & PRINTER_ATTRIBUTE_LOCAL);

    EXPECT_FALSE(GetPrinterW(printer, 2, nullptr, 0, &needed));
    EXPECT_EQ(ERROR_INVALID_LEVEL, GetLastError());
    ClosePrinter(printer);
}

TEST_F(Spooler, EnumerationReportsTheNeededSizeThenEveryLocalPrinterInOrder) {
    DWORD needed = 0;
    DWORD count = kUntouched;
    EXPECT_FALSE(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &needed, &count));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(0u, count);
    EXPECT_EQ(2 * sizeof(PRINTER_INFO_4W) + sizeof(u"Queue One") + sizeof(u"Queue Two"), needed);

    std::vector<BYTE> buffer(needed);
    EXPECT_FALSE(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, buffer.data(), needed - 1, &needed, &count));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
    ASSERT_TRUE(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, buffer.data(), needed, &needed, &count));
    ASSERT_EQ(2u, count);
    auto* entries = reinterpret_cast<PRINTER_INFO_4W*>(buffer.data());
    EXPECT_EQ("Queue One", Utf8(entries[0].pPrinterName));
    EXPECT_EQ("Queue Two", Utf8(entries[1].pPrinterName));
    EXPECT_GE(reinterpret_cast<BYTE*>(entries[0].pPrinterName), buffer.data() + 2 * sizeof(PRINTER_INFO_4W))
        << "strings follow the records";
}

TEST_F(Spooler, EnumeratingNoPrintersSucceedsWithNothing) {
    winsim::RemovePrinter(u"Queue One");
    winsim::RemovePrinter(u"queue two");
    DWORD needed = kUntouched;
    DWORD count = kUntouched;
    EXPECT_TRUE(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &needed, &count));
    EXPECT_EQ(0u, needed);
    EXPECT_EQ(0u, count);
}

TEST_F(Spooler, PrinterDataAnswersWithStatusesAndTheNeededSize) {
    winsim::SetPrinterStringData(u"Queue One", u"USB001", u"Alpha 100");
    HANDLE printer = Open(W("Queue One"));
    BYTE buffer[520];
    DWORD needed = 0;
    DWORD type = 0;
    EXPECT_EQ(
        static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
        GetPrinterDataW(printer, const_cast<LPWSTR>(W("Missing")), &type, buffer, sizeof(buffer), &needed));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA),
              GetPrinterDataW(printer, const_cast<LPWSTR>(W("USB001")), &type, buffer, 4, &needed));
    EXPECT_EQ(20u, needed);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetPrinterDataW(printer, const_cast<LPWSTR>(W("usb001")),
                                                                 nullptr, buffer, sizeof(buffer), &needed));
    EXPECT_EQ(20u, needed);
    EXPECT_EQ("Alpha 100", Utf8(reinterpret_cast<const WCHAR*>(buffer)));
    EXPECT_EQ("usb001", Utf8(winsim::LastPrinterDataValueName()));
    ClosePrinter(printer);
}

TEST_F(Spooler, RenamingAppliesTheNewNameAndRefusesOneTakenInAnyLetterCase) {
    HANDLE printer = Open(W("Queue One"));
    PRINTER_INFO_4W record{const_cast<LPWSTR>(W("queue TWO")), nullptr, PRINTER_ATTRIBUTE_LOCAL};
    EXPECT_FALSE(SetPrinterW(printer, 4, reinterpret_cast<LPBYTE>(&record), 0));
    EXPECT_EQ(ERROR_PRINTER_ALREADY_EXISTS, GetLastError());

    record.pPrinterName = const_cast<LPWSTR>(W("QUEUE ONE"));
    EXPECT_TRUE(SetPrinterW(printer, 4, reinterpret_cast<LPBYTE>(&record), 0))
        << "its own name in other letters";
    record.pPrinterName = const_cast<LPWSTR>(W("Alpha 100 VRA PCL 6"));
    EXPECT_TRUE(SetPrinterW(printer, 4, reinterpret_cast<LPBYTE>(&record), 0)) << "error " << GetLastError();
    EXPECT_TRUE(winsim::PrinterExists(u"Alpha 100 VRA PCL 6"));
    EXPECT_FALSE(winsim::PrinterExists(u"QUEUE ONE"));
    std::vector<std::string> expected{"Alpha 100 VRA PCL 6", "Queue Two"};
    EXPECT_EQ(expected, EnumeratedNames());

    EXPECT_FALSE(SetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(&record), 0));
    EXPECT_EQ(ERROR_INVALID_LEVEL, GetLastError());
    EXPECT_EQ((std::vector<DWORD>{4, 4, 4, 2}), winsim::SetPrinterLevels());
    ClosePrinter(printer);
}

TEST_F(Spooler, RenamingNeedsTheAdministerRightAndAValidName) {
    HANDLE user = Open(W("Queue One"), PRINTER_ACCESS_USE);
    PRINTER_INFO_4W record{const_cast<LPWSTR>(W("Renamed")), nullptr, 0};
    EXPECT_FALSE(SetPrinterW(user, 4, reinterpret_cast<LPBYTE>(&record), 0));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    HANDLE admin = Open(W("Queue One"));
    record.pPrinterName = const_cast<LPWSTR>(W("Bad\\Name"));
    EXPECT_FALSE(SetPrinterW(admin, 4, reinterpret_cast<LPBYTE>(&record), 0));
    EXPECT_EQ(ERROR_INVALID_PRINTER_NAME, GetLastError());
    record.pPrinterName = const_cast<LPWSTR>(W(""));
    EXPECT_FALSE(SetPrinterW(admin, 4, reinterpret_cast<LPBYTE>(&record), 0));
    EXPECT_EQ(ERROR_INVALID_PRINTER_NAME, GetLastError());
    EXPECT_TRUE(winsim::PrinterExists(u"Queue One"));
    ClosePrinter(user);
    ClosePrinter(admin);
}

TEST_F(Spooler, HandlesOfARemovedPrinterFailButStillClose) {
    HANDLE printer = Open(W("Queue One"));
    winsim::RemovePrinter(u"Queue One");
    DWORD needed = 0;
    EXPECT_FALSE(GetPrinterW(printer, 4, nullptr, 0, &needed));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    BYTE data[8];
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE),
              GetPrinterDataW(printer, const_cast<LPWSTR>(W("")), nullptr, data, sizeof(data), &needed));
    EXPECT_TRUE(ClosePrinter(printer));
    EXPECT_EQ(0u, winsim::OpenPrinterCount());
}

TEST_F(Spooler, GlobalBlocksAreZeroFilledWithGptrAndFreedOnce) {
    auto* block = static_cast<BYTE*>(GlobalAlloc(GPTR, 64));
    ASSERT_NE(nullptr, block);
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(0, block[i]) << "GPTR memory is zero-filled, byte " << i;
    }
    EXPECT_EQ(1u, winsim::GlobalBlockCount());
    EXPECT_EQ(nullptr, GlobalFree(block));
    EXPECT_EQ(0u, winsim::GlobalBlockCount());
    EXPECT_EQ(block, GlobalFree(block)) << "a second free fails and answers the block";
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
}

} // namespace
