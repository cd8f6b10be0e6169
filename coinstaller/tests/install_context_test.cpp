// The per-user install context: which values it loads, stores and deletes, under which key, and that a
// read or delete never creates the key.
#include "coinstaller/install_context.h"
#include "coinstaller_test_support.h"
#include "install_scenario.h"

using namespace coinstaller_test;

namespace {

const std::u16string contextValue = u"InstallContext";
const std::u16string nameValue = u"InstallContextOriginalPrinterName";

class InstallContextTest : public SimulatedWindowsTest {};

TEST_F(InstallContextTest, ConstructionWithoutTheKeyLoadsNothingAndCreatesNothing) {
    CInstallContext installContext;
    EXPECT_EQ(0, installContext.Context());
    EXPECT_TRUE(installContext.PrinterName().IsEmpty());
    EXPECT_FALSE(winsim::KeyExists(HKEY_CURRENT_USER, userSettingsKey)) << "loading created the settings key";
}

TEST_F(InstallContextTest, LoadTakesAnyDwordWithoutRangeCheck) {
    winsim::SetDwordValue(HKEY_CURRENT_USER, userSettingsKey, contextValue, 7);
    CInstallContext installContext;
    EXPECT_EQ(7, installContext.Context());
}

TEST_F(InstallContextTest, LoadTakesBigEndianBytesAsStored) {
    winsim::SetValue(HKEY_CURRENT_USER, userSettingsKey, contextValue, REG_DWORD_BIG_ENDIAN, {0, 0, 0, 2});
    CInstallContext installContext;
    EXPECT_EQ(33554432, installContext.Context());
}

TEST_F(InstallContextTest, LoadIgnoresValuesThatAreNotDwords) {
    winsim::SetStringValue(HKEY_CURRENT_USER, userSettingsKey, contextValue, u"2");
    CInstallContext fromText;
    EXPECT_EQ(0, fromText.Context()) << "a REG_SZ context was loaded";

    winsim::SetValue(HKEY_CURRENT_USER, userSettingsKey, contextValue, REG_BINARY, {3, 0, 0, 0});
    CInstallContext fromBinary;
    EXPECT_EQ(0, fromBinary.Context()) << "a REG_BINARY context was loaded";
}

TEST_F(InstallContextTest, LoadKeepsThePreviousContextWhenTheValueGoes) {
    winsim::SetDwordValue(HKEY_CURRENT_USER, userSettingsKey, contextValue, 3);
    CInstallContext installContext;
    winsim::DeleteKeyTree(HKEY_CURRENT_USER, userSettingsKey);
    installContext.Load();
    EXPECT_EQ(3, installContext.Context());
}

TEST_F(InstallContextTest, SetContextRejectsValuesOutsideOneToThree) {
    for (int32_t value : {0, 4, -1}) {
        CInstallContext installContext;
        EXPECT_EQ(0, installContext.SetContext(value)) << "value " << value;
        EXPECT_EQ(0, installContext.Context()) << "value " << value << " was taken";
        EXPECT_FALSE(winsim::KeyExists(HKEY_CURRENT_USER, userSettingsKey))
            << "value " << value << " was written";
    }
}

TEST_F(InstallContextTest, SetContextCreatesTheKeyAndStoresADword) {
    CInstallContext installContext;
    EXPECT_EQ(1, installContext.SetContext(3));
    EXPECT_EQ(3, installContext.Context());
    DWORD type = 0;
    winsim::Bytes data;
    ASSERT_TRUE(winsim::GetValue(HKEY_CURRENT_USER, userSettingsKey, contextValue, &type, &data))
        << "InstallContext was not stored under HKEY_CURRENT_USER\\" << Utf8(userSettingsKey);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(winsim::DwordBytes(3), data);
    EXPECT_FALSE(winsim::KeyExists(HKEY_LOCAL_MACHINE, machineSettingsKey)) << "the machine key was touched";
}

TEST_F(InstallContextTest, SetContextReportsAcceptanceEvenWhenTheKeyCannotBeWritten) {
    winsim::CreateKey(HKEY_CURRENT_USER, userSettingsKey);
    winsim::RestrictKeyAccess(HKEY_CURRENT_USER, userSettingsKey, KEY_READ);
    CInstallContext installContext;
    EXPECT_EQ(1, installContext.SetContext(2));
    EXPECT_EQ(2, installContext.Context());
    EXPECT_FALSE(winsim::ValueExists(HKEY_CURRENT_USER, userSettingsKey, contextValue));
}

TEST_F(InstallContextTest, ClearContextDeletesOnlyAnExistingValue) {
    CInstallContext withoutKey;
    EXPECT_EQ(0, withoutKey.ClearContext());
    EXPECT_FALSE(winsim::KeyExists(HKEY_CURRENT_USER, userSettingsKey)) << "clearing created the key";

    winsim::SetStringValue(HKEY_CURRENT_USER, userSettingsKey, nameValue, u"Queue");
    EXPECT_EQ(0, withoutKey.ClearContext()) << "a missing value was reported as deleted";
    EXPECT_TRUE(winsim::ValueExists(HKEY_CURRENT_USER, userSettingsKey, nameValue)) << "another value went";

    winsim::SetDwordValue(HKEY_CURRENT_USER, userSettingsKey, contextValue, 2);
    EXPECT_EQ(1, withoutKey.ClearContext());
    EXPECT_FALSE(winsim::ValueExists(HKEY_CURRENT_USER, userSettingsKey, contextValue));
}

TEST_F(InstallContextTest, ReadPrinterNameTakesTextAsStored) {
    winsim::SetStringValue(HKEY_CURRENT_USER, userSettingsKey, nameValue, u"%USERNAME% Queue", REG_EXPAND_SZ);
    CInstallContext installContext;
    EXPECT_EQ(u"%USERNAME% Queue", Text(installContext.ReadPrinterName())) << "the name was expanded or lost";
}

TEST_F(InstallContextTest, ReadPrinterNameAcceptsAnEmptyNameAndKeepsTheOldOneOnFailure) {
    CInstallContext installContext;
    winsim::SetStringValue(HKEY_CURRENT_USER, userSettingsKey, nameValue, u"Alpha Queue");
    EXPECT_EQ(u"Alpha Queue", Text(installContext.ReadPrinterName()));

    winsim::SetValue(HKEY_CURRENT_USER, userSettingsKey, nameValue, REG_SZ, {});
    EXPECT_EQ(u"Alpha Queue", Text(installContext.ReadPrinterName())) << "zero bytes replaced the name";
    winsim::SetDwordValue(HKEY_CURRENT_USER, userSettingsKey, nameValue, 1);
    EXPECT_EQ(u"Alpha Queue", Text(installContext.ReadPrinterName())) << "a DWORD replaced the name";

    winsim::SetValue(HKEY_CURRENT_USER, userSettingsKey, nameValue, REG_SZ, winsim::StringBytes(u""));
    EXPECT_EQ(u"", Text(installContext.ReadPrinterName())) << "a lone NUL should read as the empty name";
}

TEST_F(InstallContextTest, ClearPrinterNameDeletesOnlyAnExistingValue) {
    CInstallContext installContext;
    EXPECT_EQ(0, installContext.ClearPrinterName());
    winsim::SetStringValue(HKEY_CURRENT_USER, userSettingsKey, nameValue, u"Alpha Queue");
    EXPECT_EQ(1, installContext.ClearPrinterName());
    EXPECT_FALSE(winsim::ValueExists(HKEY_CURRENT_USER, userSettingsKey, nameValue));
}

TEST_F(InstallContextTest, EveryOperationUsesTheSettingsKeyUnderTheCurrentUserOnly) {
    winsim::SetDwordValue(HKEY_LOCAL_MACHINE, machineSettingsKey, contextValue, 3);
    winsim::SetStringValue(HKEY_LOCAL_MACHINE, machineSettingsKey, nameValue, u"Machine Queue");
    CInstallContext installContext;
    EXPECT_EQ(0, installContext.Context()) << "the machine value was loaded";
    EXPECT_TRUE(installContext.ReadPrinterName().IsEmpty()) << "the machine value was read";
    EXPECT_EQ(0, installContext.ClearContext());
    EXPECT_EQ(0, installContext.ClearPrinterName());
    EXPECT_TRUE(winsim::ValueExists(HKEY_LOCAL_MACHINE, machineSettingsKey, contextValue));
    EXPECT_TRUE(winsim::ValueExists(HKEY_LOCAL_MACHINE, machineSettingsKey, nameValue));
}

} // namespace
