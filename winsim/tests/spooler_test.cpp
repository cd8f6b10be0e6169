// What only the host shows of the simulated print spooler: the control API's printers (seeded, renamed,
// removed under open handles) and what it records of the calls, exact record sizes, the info levels it
// does not model, the accounting of printer handles, and the global blocks that carry spooler records.
// The Win32 behaviour that Windows and Wine show as well is checked on both sides by
// conformance/spooler_checks.cpp.
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

TEST_F(Spooler, PrinterHandlesAreCountedUntilClosedOnce) {
    HANDLE printer = Open(W("Queue One"));
    EXPECT_EQ(1u, winsim::OpenPrinterCount());
    EXPECT_TRUE(ClosePrinter(printer));
    EXPECT_EQ(0u, winsim::OpenPrinterCount());
    EXPECT_FALSE(ClosePrinter(printer)) << "a closed handle is no longer valid";
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
}

TEST_F(Spooler, TheDriverRecordNeedsExactlyItselfAndItsName) {
    HANDLE printer = Open(W("Queue One"));
    DWORD needed = 0;
    EXPECT_FALSE(GetPrinterDriverW(printer, nullptr, 1, nullptr, 0, &needed));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(sizeof(DRIVER_INFO_1W) + sizeof(u"Example PCL 6 Driver"), needed);
    ClosePrinter(printer);
}

TEST_F(Spooler, InfoLevelsThatAreNotModelledAreRefused) {
    HANDLE printer = Open(W("Queue One"));
    DWORD needed = 0;
    EXPECT_FALSE(GetPrinterDriverW(printer, nullptr, 3, nullptr, 0, &needed));
    EXPECT_EQ(ERROR_INVALID_LEVEL, GetLastError()) << "GetPrinterDriverW level 3";
    EXPECT_FALSE(GetPrinterW(printer, 2, nullptr, 0, &needed));
    EXPECT_EQ(ERROR_INVALID_LEVEL, GetLastError()) << "GetPrinterW level 2";
    ClosePrinter(printer);
}

TEST_F(Spooler, EnumerationListsEveryLocalPrinterInOrderWithItsExactSize) {
    DWORD needed = 0;
    DWORD count = kUntouched;
    EXPECT_FALSE(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &needed, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(2 * sizeof(PRINTER_INFO_4W) + sizeof(u"Queue One") + sizeof(u"Queue Two"), needed);
    std::vector<std::string> expected{"Queue One", "Queue Two"};
    EXPECT_EQ(expected, EnumeratedNames());
}

TEST_F(Spooler, TheLastPrinterDataValueNameIsKeptAsAsked) {
    winsim::SetPrinterStringData(u"Queue One", u"USB001", u"Alpha 100");
    HANDLE printer = Open(W("Queue One"));
    BYTE buffer[520];
    DWORD needed = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetPrinterDataW(printer, const_cast<LPWSTR>(W("usb001")),
                                                                 nullptr, buffer, sizeof(buffer), &needed));
    EXPECT_EQ("usb001", Utf8(winsim::LastPrinterDataValueName()));
    ClosePrinter(printer);
}

TEST_F(Spooler, RenamingReplacesTheNameAndTheLevelOfEveryCallIsRecorded) {
    HANDLE printer = Open(W("Queue One"));
    PRINTER_INFO_4W record{const_cast<LPWSTR>(W("Alpha 100 VRA PCL 6")), nullptr, PRINTER_ATTRIBUTE_LOCAL};
    EXPECT_TRUE(SetPrinterW(printer, 4, reinterpret_cast<LPBYTE>(&record), 0)) << "error " << GetLastError();
    EXPECT_TRUE(winsim::PrinterExists(u"Alpha 100 VRA PCL 6"));
    EXPECT_FALSE(winsim::PrinterExists(u"Queue One"));
    std::vector<std::string> expected{"Alpha 100 VRA PCL 6", "Queue Two"};
    EXPECT_EQ(expected, EnumeratedNames());

    EXPECT_FALSE(SetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(&record), 0));
    EXPECT_EQ(ERROR_INVALID_LEVEL, GetLastError());
    EXPECT_EQ((std::vector<DWORD>{4, 2}), winsim::SetPrinterLevels());
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
