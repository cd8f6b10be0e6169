// CPrinterNaming on its own: how a unique name is found among the local printers, and what a rename needs.
#include "coinstaller/printer_naming.h"
#include "coinstaller_test_support.h"

#include <memory>

using namespace coinstaller_test;

namespace {

class PrinterNamingTest : public SimulatedWindowsTest {
  protected:
    void ReleaseTestHandles() override { spooler.reset(); }
    std::unique_ptr<CSpooler> spooler = std::make_unique<CSpooler>();
};

TEST_F(PrinterNamingTest, MakeUniqueNameBuildsEachCandidateFromTheBase) {
    winsim::AddPrinter(u"Beta", u"Driver", u"LPT1:");
    winsim::AddPrinter(u"Beta (Copy 1)", u"Driver", u"LPT1:");
    winsim::AddPrinter(u"Beta (Copy 2)", u"Driver", u"LPT1:");
    winsim::AddPrinter(u"Beta (Copy 1) (Copy 1)", u"Driver", u"LPT1:");
    CPrinterNaming naming(*spooler);
    WideString unique;
    EXPECT_EQ(1, naming.MakeUniqueName(WideString(u"Beta"), unique));
    EXPECT_EQ(u"Beta (Copy 3)", Text(unique));
    EXPECT_EQ(1, naming.MakeUniqueName(WideString(u"Gamma"), unique));
    EXPECT_EQ(u"Gamma", Text(unique));
    spooler.reset();
    ExpectNothingLeftOpen("MakeUniqueName");
}

TEST_F(PrinterNamingTest, MakeUniqueNameRefusesAnEmptyBase) {
    CPrinterNaming naming(*spooler);
    WideString unique(u"untouched");
    EXPECT_EQ(0, naming.MakeUniqueName(WideString(), unique));
    EXPECT_EQ(u"untouched", Text(unique));
    EXPECT_EQ(0u, winsim::CallCount("EnumPrintersW"));
}

TEST_F(PrinterNamingTest, PrinterExistsComparesExactly) {
    winsim::AddPrinter(u"Alpha 100", u"Driver", u"LPT1:");
    CPrinterNaming naming(*spooler);
    EXPECT_NE(0, naming.PrinterExists(WideString(u"Alpha 100")));
    EXPECT_EQ(0, naming.PrinterExists(WideString(u"alpha 100")));
    EXPECT_EQ(0, naming.PrinterExists(WideString(u"Alpha 10")));
    EXPECT_EQ(0, naming.PrinterExists(WideString(u"Alpha 100 ")));
    spooler.reset();
    ExpectNothingLeftOpen("PrinterExists");
}

TEST_F(PrinterNamingTest, RenamePrinterNeedsAHandleAndAName) {
    CPrinterNaming naming(*spooler);
    EXPECT_EQ(0, naming.RenamePrinter(nullptr, WideString(u"Alpha")));
    EXPECT_EQ(0u, winsim::CallCount("GetPrinterW"));
}

} // namespace
