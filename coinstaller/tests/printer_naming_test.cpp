// CPrinterNaming on its own: how a unique name is found among the local printers, and what a rename needs.
#include "coinstaller/printer_naming.h"
#include "coinstaller_test_support.h"

using namespace coinstaller_test;

namespace {

class PrinterNamingTest : public SimulatedWindowsTest {};

TEST_F(PrinterNamingTest, MakeUniqueNameBuildsEachCandidateFromTheBase) {
    winsim::AddPrinter(u"Beta", u"Driver", u"LPT1:");
    winsim::AddPrinter(u"Beta (Copy 1)", u"Driver", u"LPT1:");
    winsim::AddPrinter(u"Beta (Copy 2)", u"Driver", u"LPT1:");
    winsim::AddPrinter(u"Beta (Copy 1) (Copy 1)", u"Driver", u"LPT1:");
    CPrinterNaming naming;
    WideString unique;
    EXPECT_EQ(1, naming.MakeUniqueName(WideString(u"Beta"), unique));
    EXPECT_EQ(u"Beta (Copy 3)", Text(unique));
    EXPECT_EQ(1, naming.MakeUniqueName(WideString(u"Gamma"), unique));
    EXPECT_EQ(u"Gamma", Text(unique));
    ExpectNothingLeftOpen("MakeUniqueName");
}

TEST_F(PrinterNamingTest, MakeUniqueNameRefusesAnEmptyBase) {
    CPrinterNaming naming;
    WideString unique(u"untouched");
    EXPECT_EQ(0, naming.MakeUniqueName(WideString(), unique));
    EXPECT_EQ(u"untouched", Text(unique));
    EXPECT_EQ(0u, winsim::CallCount("EnumPrintersW"));
}

TEST_F(PrinterNamingTest, PrinterExistsComparesExactly) {
    winsim::AddPrinter(u"Alpha 100", u"Driver", u"LPT1:");
    CPrinterNaming naming;
    EXPECT_NE(0, naming.PrinterExists(WideString(u"Alpha 100")));
    EXPECT_EQ(0, naming.PrinterExists(WideString(u"alpha 100")));
    EXPECT_EQ(0, naming.PrinterExists(WideString(u"Alpha 10")));
    EXPECT_EQ(0, naming.PrinterExists(WideString(u"Alpha 100 ")));
    ExpectNothingLeftOpen("PrinterExists");
}

TEST_F(PrinterNamingTest, RenamePrinterNeedsAHandleAndAName) {
    CPrinterNaming naming;
    EXPECT_EQ(0, naming.RenamePrinter(nullptr, WideString(u"Alpha")));
    EXPECT_EQ(0u, winsim::CallCount("GetPrinterW"));
}

} // namespace
