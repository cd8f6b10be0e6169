// Naming a print queue through CPrinter: the three parts of the name, the copy number that makes it unique
// among the local printers, and how each spooler refusal leaves the queue's name alone.
#include "coinstaller/printer.h"
#include "coinstaller_test_support.h"
#include "install_scenario.h"

using namespace coinstaller_test;

namespace {

const std::u16string queue = u"VRA Alpha Queue";
const std::u16string port = u"USB001";
const std::u16string composed = u"Alpha 100 VRA PCL 6";

class PrintQueueNamingTest : public SimulatedWindowsTest {
  protected:
    // The usual queue: printer data "Alpha 100" under its port's name, a PCL 6 driver.
    void AddUsualQueue() { AddQueue(queue, u"Example PCL 6 Driver", port, u"Alpha 100"); }

    int32_t Name(const std::u16string& name) {
        int32_t result = 0;
        {
            CSpooler spooler;
            result = NamePrintQueue(spooler, WideString(name.c_str()));
        }
        ExpectNothingLeftOpen("naming " + Utf8(name));
        return result;
    }
    static std::string Names() {
        std::string list;
        for (const auto& name : winsim::PrinterNames()) {
            list += "[" + Utf8(name) + "] ";
        }
        return list;
    }
};

TEST_F(PrintQueueNamingTest, TheNameJoinsPrinterDataFamilyAndPdlTag) {
    AddUsualQueue();
    EXPECT_EQ(1, Name(queue));
    EXPECT_TRUE(winsim::PrinterExists(composed)) << "printers: " << Names();
    EXPECT_FALSE(winsim::PrinterExists(queue)) << "the old name is still there: " << Names();
}

TEST_F(PrintQueueNamingTest, ThePdlTagIsTheLastMatchInFixedOrder) {
    const struct {
        const char16_t* driver;
        const char16_t* tag;
    } cases[] = {{u"Example Universal XPS", u"XPS"},
                 {u"Example PS PCL 5", u"PCL 5"},
                 {u"Example PCL 5 and PCL 6", u"PCL 6"},
                 {u"Example PCL 3 PS", u"PCL 3"},
                 {u"Example PCL 6 XPS", u"XPS"},
                 {u"PS", u"PS"},
                 {u"Example ps pcl 6 xps", u""},
                 {u"Example PostScript", u""},
                 {u"Example PCL5", u""}};
    for (const auto& c : cases) {
        winsim::Reset();
        winsim::AddPrinter(queue, c.driver, port);
        CSpooler spooler;
        CPrinter printer(spooler, WideString(queue.c_str()));
        EXPECT_EQ(std::u16string(c.driver), Text(printer.DriverName()));
        printer.DerivePdlTag();
        EXPECT_EQ(std::u16string(c.tag), Text(printer.PdlTag())) << "driver " << Utf8(c.driver);
    }
}

TEST_F(PrintQueueNamingTest, ADriverWithoutATagLeavesTheQueueAlone) {
    AddQueue(queue, u"Example PostScript ps", port, u"Alpha 100");
    EXPECT_EQ(0, Name(queue));
    EXPECT_TRUE(winsim::PrinterExists(queue)) << "printers: " << Names();
    EXPECT_EQ(0u, winsim::CallCount("SetPrinterW"));
}

TEST_F(PrintQueueNamingTest, PrinterDataStartingWithSpaceOrNulIsRejected) {
    const std::pair<std::u16string, winsim::Bytes> values[] = {
        {u"leading space", winsim::StringBytes(u" Alpha 100")},
        {u"lone NUL", winsim::StringBytes(u"")},
        {u"NUL first", winsim::StringBytes(std::u16string(u"\0Alpha", 6))},
        {u"no bytes", winsim::Bytes()}};
    for (const auto& value : values) {
        winsim::Reset();
        winsim::AddPrinter(queue, u"Example PCL 6 Driver", port);
        winsim::SetPrinterData(queue, port, REG_SZ, value.second);
        EXPECT_EQ(0, Name(queue)) << Utf8(value.first);
        EXPECT_TRUE(winsim::PrinterExists(queue)) << Utf8(value.first) << ", printers: " << Names();
    }
}

TEST_F(PrintQueueNamingTest, PrinterDataOfAnyTypeIsTakenAsText) {
    winsim::AddPrinter(queue, u"Example PCL 6 Driver", port);
    winsim::SetPrinterData(queue, port, REG_BINARY, winsim::StringBytes(u"Alpha 100"));
    EXPECT_EQ(1, Name(queue));
    EXPECT_TRUE(winsim::PrinterExists(composed)) << "printers: " << Names();
}

TEST_F(PrintQueueNamingTest, PrinterDataTooLargeForItsBufferIsRejected) {
    winsim::AddPrinter(queue, u"Example PCL 6 Driver", port);
    winsim::SetPrinterData(queue, port, REG_SZ, winsim::StringBytes(std::u16string(260, u'A')));
    EXPECT_EQ(0, Name(queue)) << "522 bytes of printer data were accepted";
    EXPECT_TRUE(winsim::PrinterExists(queue));
}

TEST_F(PrintQueueNamingTest, PrinterDataFillingTheBufferWithoutNulGivesAllItsCharacters) {
    std::u16string full(259, u'B');
    full += u'Z';
    winsim::AddPrinter(queue, u"Example PCL 6 Driver", port);
    winsim::SetPrinterData(queue, port, REG_SZ, winsim::StringBytes(full, false));
    CSpooler spooler;
    CPrinter printer(spooler, WideString(queue.c_str()));
    printer.ReadPrinterDataString();
    EXPECT_EQ(full, Text(printer.PrinterDataString())) << "length " << printer.PrinterDataString().Length();
}

TEST_F(PrintQueueNamingTest, ThePrinterDataIsReadUnderThePortName) {
    AddUsualQueue();
    winsim::SetPrinterStringData(queue, u"", u"Wrong Value");
    EXPECT_EQ(1, Name(queue));
    EXPECT_EQ(port, winsim::LastPrinterDataValueName());
    EXPECT_TRUE(winsim::PrinterExists(composed)) << "printers: " << Names();
}

TEST_F(PrintQueueNamingTest, WithoutThePortTheEmptyValueNameIsAsked) {
    AddUsualQueue();
    winsim::SetPrinterStringData(queue, u"", u"Beta 200");
    winsim::FailCall("GetPrinterW", ERROR_ACCESS_DENIED, 1, 1); // the level-5 read after its size probe
    EXPECT_EQ(1, Name(queue));
    EXPECT_EQ(u"", winsim::LastPrinterDataValueName());
    EXPECT_TRUE(winsim::PrinterExists(u"Beta 200 VRA PCL 6")) << "printers: " << Names();
}

TEST_F(PrintQueueNamingTest, ATakenNameGetsTheFirstFreeCopyNumber) {
    AddUsualQueue();
    winsim::AddPrinter(composed, u"Other Driver", u"LPT1:");
    winsim::AddPrinter(composed + u" (Copy 1)", u"Other Driver", u"LPT2:");
    EXPECT_EQ(1, Name(queue));
    EXPECT_TRUE(winsim::PrinterExists(composed + u" (Copy 2)")) << "printers: " << Names();
    EXPECT_FALSE(winsim::PrinterExists(queue));
}

TEST_F(PrintQueueNamingTest, AQueueAlreadyBearingTheNameCountsAsTaken) {
    AddQueue(composed, u"Example PCL 6 Driver", port, u"Alpha 100");
    EXPECT_EQ(1, Name(composed));
    EXPECT_TRUE(winsim::PrinterExists(composed + u" (Copy 1)")) << "printers: " << Names();
    EXPECT_FALSE(winsim::PrinterExists(composed));
}

TEST_F(PrintQueueNamingTest, ANameDifferingOnlyInLetterCaseIsNotTaken) {
    AddUsualQueue();
    std::u16string upper = u"ALPHA 100 VRA PCL 6";
    winsim::AddPrinter(upper, u"Other Driver", u"LPT1:");
    int32_t result = Name(queue);
    EXPECT_FALSE(winsim::PrinterExists(composed + u" (Copy 1)")) << "a copy number was added: " << Names();
    // The spooler's own rule for names decides; the queue carries the composed name exactly when it agreed.
    EXPECT_EQ(result == 1, winsim::PrinterExists(composed))
        << "result " << result << ", printers: " << Names();
    EXPECT_EQ(1u, winsim::CallCount("SetPrinterW"));
}

TEST_F(PrintQueueNamingTest, AnEmptyOrUnknownQueueRenamesNothing) {
    EXPECT_EQ(0, Name(u""));
    EXPECT_EQ(0u, winsim::CallCount("OpenPrinterW")) << "an empty queue name was opened";
    AddUsualQueue();
    EXPECT_EQ(0, Name(u"No Such Queue"));
    EXPECT_TRUE(winsim::PrinterExists(queue));
    EXPECT_EQ(0u, winsim::CallCount("SetPrinterW"));
}

TEST_F(PrintQueueNamingTest, SpoolerRefusalsLeaveTheQueueItsName) {
    const struct {
        const char* call;
        unsigned skip;
        DWORD error;
    } failures[] = {
        {"OpenPrinterW", 0, ERROR_ACCESS_DENIED},     {"GetPrinterDriverW", 1, ERROR_ACCESS_DENIED},
        {"GetPrinterDataW", 0, ERROR_FILE_NOT_FOUND}, {"GetPrinterW", 3, ERROR_ACCESS_DENIED},
        {"SetPrinterW", 0, ERROR_ACCESS_DENIED},      {"SetPrinterW", 0, ERROR_PRINTER_ALREADY_EXISTS},
        {"GlobalAlloc", 0, ERROR_NOT_ENOUGH_MEMORY}};
    for (const auto& failure : failures) {
        winsim::Reset();
        AddUsualQueue();
        winsim::FailCall(failure.call, failure.error, failure.skip, 0);
        EXPECT_EQ(0, Name(queue)) << failure.call << " failing with " << failure.error;
        EXPECT_TRUE(winsim::PrinterExists(queue)) << failure.call << ", printers: " << Names();
        EXPECT_LE(winsim::CallCount("SetPrinterW"), 1u)
            << "another candidate was tried after " << failure.call;
    }
}

TEST_F(PrintQueueNamingTest, AFailedEnumerationCountsTheCandidateAsFree) {
    AddUsualQueue();
    winsim::AddPrinter(composed, u"Other Driver", u"LPT1:");
    winsim::FailCall("EnumPrintersW", ERROR_ACCESS_DENIED, 0, 0);
    // The spooler itself refuses the taken name, so the queue keeps its own.
    EXPECT_EQ(0, Name(queue));
    EXPECT_TRUE(winsim::PrinterExists(queue)) << "printers: " << Names();
    EXPECT_FALSE(winsim::PrinterExists(composed + u" (Copy 1)"));
}

TEST_F(PrintQueueNamingTest, AQueueRemovedWhileOpenIsNotRenamedAndItsHandleIsClosed) {
    AddUsualQueue();
    {
        CSpooler spooler;
        CPrinter printer(spooler, WideString(queue.c_str()));
        ASSERT_NE(nullptr, printer.PrinterHandle());
        winsim::RemovePrinter(queue);
        const WideString& name = printer.GetComposedName();
        EXPECT_EQ(0, printer.Rename(name));
    }
    ExpectNothingLeftOpen("renaming a removed queue");
    EXPECT_FALSE(winsim::PrinterExists(composed)) << "printers: " << Names();
}

TEST_F(PrintQueueNamingTest, ANameThatCouldNotBeCopiedOpensNothing) {
    AddUsualQueue();
    CSpooler spooler;
    EXPECT_EQ(0, NamePrintQueue(spooler, InvalidString()));
    EXPECT_EQ(0u, winsim::CallCount("OpenPrinterW"));
    EXPECT_EQ(0u, winsim::CallCount("LoadLibraryExW")) << "the spooler was loaded though nothing needed it";
}

TEST_F(PrintQueueNamingTest, CompositionFillsEachPartOnce) {
    AddUsualQueue();
    CSpooler spooler;
    CPrinter printer(spooler, WideString(queue.c_str()));
    EXPECT_EQ(composed, Text(printer.GetComposedName()));
    unsigned reads = winsim::CallCount("GetPrinterDataW");
    printer.ComposeName();
    EXPECT_EQ(composed, Text(printer.GetComposedName()));
    EXPECT_EQ(reads, winsim::CallCount("GetPrinterDataW")) << "the printer data was read again";
    EXPECT_EQ(u"VRA", Text(printer.FamilyTag()));
}

} // namespace
