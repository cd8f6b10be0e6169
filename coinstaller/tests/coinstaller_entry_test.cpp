// The co-installer entry: which requests it acts on, what each pass of DIF_INSTALLDEVICE leaves in the
// registry and the spooler, and that it answers the same whatever its steps run into.
#include "coinstaller/coinstaller_entry.h"
#include "coinstaller_test_support.h"
#include "install_scenario.h"

using namespace coinstaller_test;

namespace {

const std::u16string contextValue = u"InstallContext";
const std::u16string nameValue = u"InstallContextOriginalPrinterName";
const std::u16string queue = u"VRA Alpha Queue";
const std::u16string composed = u"Alpha 100 VRA PCL 6";

class CoInstallerEntryTest : public SimulatedWindowsTest {
  protected:
    void ReleaseTestHandles() override { printer.Release(); }

    // A USB printer whose queue is waiting to be named.
    void SeedInstallation(const std::u16string& port = u"USB001") {
        printer.SetPort(port);
        printer.SetDescription(u"Alpha 100 Printer");
        AddQueue(queue, u"Example PCL 6 Driver", port, u"Alpha 100");
        winsim::SetStringValue(HKEY_CURRENT_USER, userSettingsKey, nameValue, queue);
    }
    DWORD Call(DI_FUNCTION function, BOOL postProcessing, DWORD installResult = NO_ERROR) {
        COINSTALLER_CONTEXT_DATA context = {postProcessing, installResult, nullptr};
        DWORD answer = VRACoInstallerEntryProc(function, printer.Set(), printer.Element(), &context);
        ExpectNothingLeftOpen("the entry", 1);
        return answer;
    }
    DWORD PrePass() { return Call(DIF_INSTALLDEVICE, FALSE); }
    DWORD PostPass(DWORD installResult = NO_ERROR) { return Call(DIF_INSTALLDEVICE, TRUE, installResult); }
    static unsigned RegistryWrites() {
        return winsim::CallCount("RegSetValueExW") + winsim::CallCount("RegDeleteValueW") +
               winsim::CallCount("RegCreateKeyExW");
    }

    PrinterDevice printer;
};

TEST_F(CoInstallerEntryTest, OtherRequestsAreAnsweredWithSuccessAndLeftAlone) {
    SeedInstallation();
    winsim::SetDwordValue(HKEY_CURRENT_USER, userSettingsKey, contextValue, 2);
    for (DI_FUNCTION function : {DIF_SELECTDEVICE, DIF_PROPERTIES, DIF_REMOVE, DIF_REGISTER_COINSTALLERS}) {
        EXPECT_EQ(static_cast<DWORD>(NO_ERROR), Call(function, FALSE)) << "request " << function;
        EXPECT_EQ(static_cast<DWORD>(NO_ERROR), Call(function, TRUE)) << "request " << function;
    }
    EXPECT_EQ(0u, RegistryWrites()) << "a request other than DIF_INSTALLDEVICE wrote to the registry";
    EXPECT_EQ(0u, winsim::CallCount("OpenPrinterW") + winsim::CallCount("SetupDiGetClassDevsW"));
    EXPECT_TRUE(winsim::ValueExists(HKEY_CURRENT_USER, userSettingsKey, contextValue));
    EXPECT_TRUE(winsim::PrinterExists(queue));
}

TEST_F(CoInstallerEntryTest, PrePassStoresContextTwoAndAsksToBeCalledAgain) {
    SeedInstallation(u"LPT1:");
    winsim::DeleteKeyTree(HKEY_CURRENT_USER, userSettingsKey);
    EXPECT_EQ(static_cast<DWORD>(ERROR_DI_POSTPROCESSING_REQUIRED), PrePass());
    DWORD type = 0;
    winsim::Bytes data;
    ASSERT_TRUE(winsim::GetValue(HKEY_CURRENT_USER, userSettingsKey, contextValue, &type, &data))
        << "InstallContext was not stored";
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(winsim::DwordBytes(2), data);
    EXPECT_FALSE(winsim::KeyExists(HKEY_LOCAL_MACHINE, defaultCompanionKey)) << "a non-USB port was bound";
    EXPECT_FALSE(winsim::KeyExists(HKEY_LOCAL_MACHINE, alternateCompanionKey)) << "a non-USB port was bound";
    EXPECT_TRUE(winsim::PrinterExists(queue)) << "the pre pass renamed the queue";
}

TEST_F(CoInstallerEntryTest, PrePassBindsAUsbPort) {
    SeedInstallation(u"USB004");
    std::u16string interfaceKey = AddCompanion(companionInstanceId, defaultCompanionClass);
    winsim::SetStringValue(HKEY_LOCAL_MACHINE, defaultCompanionKey, u"BulkInstanceID", companionInstanceId);
    EXPECT_EQ(static_cast<DWORD>(ERROR_DI_POSTPROCESSING_REQUIRED), PrePass());
    EXPECT_EQ("USB004", StoredText(HKEY_LOCAL_MACHINE, interfaceKey, u"PortName"));
}

TEST_F(CoInstallerEntryTest, PostPassClearsTheContextRenamesAndForgetsTheName) {
    SeedInstallation();
    winsim::SetDwordValue(HKEY_CURRENT_USER, userSettingsKey, contextValue, 2);
    EXPECT_EQ(static_cast<DWORD>(NO_ERROR), PostPass());
    EXPECT_FALSE(winsim::ValueExists(HKEY_CURRENT_USER, userSettingsKey, contextValue));
    EXPECT_FALSE(winsim::ValueExists(HKEY_CURRENT_USER, userSettingsKey, nameValue));
    EXPECT_TRUE(winsim::PrinterExists(composed)) << "the queue was not renamed";
    EXPECT_FALSE(winsim::PrinterExists(queue));
}

TEST_F(CoInstallerEntryTest, PostPassAfterAFailedInstallationDoesTheSame) {
    SeedInstallation();
    winsim::AddPrinter(composed, u"Other Driver", u"LPT1:");
    winsim::SetDwordValue(HKEY_CURRENT_USER, userSettingsKey, contextValue, 2);
    EXPECT_EQ(static_cast<DWORD>(NO_ERROR), PostPass(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(winsim::ValueExists(HKEY_CURRENT_USER, userSettingsKey, contextValue));
    EXPECT_FALSE(winsim::ValueExists(HKEY_CURRENT_USER, userSettingsKey, nameValue));
    EXPECT_TRUE(winsim::PrinterExists(composed + u" (Copy 1)")) << "the queue was not renamed";
}

TEST_F(CoInstallerEntryTest, PostPassWithoutAStoredNameRenamesNothing) {
    SeedInstallation();
    winsim::DeleteKeyTree(HKEY_CURRENT_USER, userSettingsKey);
    EXPECT_EQ(static_cast<DWORD>(NO_ERROR), PostPass());
    EXPECT_EQ(0u, winsim::CallCount("OpenPrinterW")) << "an empty queue name was opened";
    EXPECT_TRUE(winsim::PrinterExists(queue));
}

TEST_F(CoInstallerEntryTest, PostPassWithAnUnreadableDescriptionOnlyClearsTheContext) {
    const struct {
        const char* what;
        void (*makeUnreadable)(const std::u16string& instanceId);
    } rows[] = {
        {"an empty description",
         [](const std::u16string& id) { winsim::SetDeviceProperty(id, SPDRP_DEVICEDESC, REG_SZ, {}); }},
        {"a refused read",
         [](const std::u16string&) {
             winsim::FailCall("SetupDiGetDeviceRegistryPropertyW", ERROR_INVALID_DATA, 0, 0);
         }},
        {"a description shorter at its read than at its probe",
         [](const std::u16string& id) {
             winsim::ChangeDevicePropertyAfterProbe(id, SPDRP_DEVICEDESC, REG_SZ,
                                                    winsim::StringBytes(u"Alpha"));
         }},
    };
    for (const auto& row : rows) {
        printer.Release();
        winsim::Reset();
        SeedInstallation();
        winsim::SetDwordValue(HKEY_CURRENT_USER, userSettingsKey, contextValue, 2);
        row.makeUnreadable(printer.InstanceId());
        EXPECT_EQ(static_cast<DWORD>(NO_ERROR), PostPass()) << row.what;
        EXPECT_FALSE(winsim::ValueExists(HKEY_CURRENT_USER, userSettingsKey, contextValue)) << row.what;
        EXPECT_EQ(Utf8(queue), StoredText(HKEY_CURRENT_USER, userSettingsKey, nameValue)) << row.what;
        EXPECT_TRUE(winsim::PrinterExists(queue)) << row.what;
    }
}

TEST_F(CoInstallerEntryTest, WithoutADeviceElementOnlyTheContextIsKept) {
    SeedInstallation();
    COINSTALLER_CONTEXT_DATA pre = {FALSE, NO_ERROR, nullptr};
    EXPECT_EQ(static_cast<DWORD>(ERROR_DI_POSTPROCESSING_REQUIRED),
              VRACoInstallerEntryProc(DIF_INSTALLDEVICE, printer.Set(), nullptr, &pre));
    DWORD type = 0;
    winsim::Bytes data;
    ASSERT_TRUE(winsim::GetValue(HKEY_CURRENT_USER, userSettingsKey, contextValue, &type, &data));
    EXPECT_EQ(winsim::DwordBytes(2), data);
    EXPECT_FALSE(winsim::KeyExists(HKEY_LOCAL_MACHINE, defaultCompanionKey));

    COINSTALLER_CONTEXT_DATA post = {TRUE, NO_ERROR, nullptr};
    EXPECT_EQ(static_cast<DWORD>(NO_ERROR),
              VRACoInstallerEntryProc(DIF_INSTALLDEVICE, nullptr, nullptr, &post));
    EXPECT_FALSE(winsim::ValueExists(HKEY_CURRENT_USER, userSettingsKey, contextValue));
    EXPECT_EQ(Utf8(queue), StoredText(HKEY_CURRENT_USER, userSettingsKey, nameValue));
    EXPECT_TRUE(winsim::PrinterExists(queue));
    ExpectNothingLeftOpen("passes without a device element", 1);
}

TEST_F(CoInstallerEntryTest, WithoutAContextRecordNothingIsDone) {
    SeedInstallation();
    EXPECT_EQ(static_cast<DWORD>(NO_ERROR),
              VRACoInstallerEntryProc(DIF_INSTALLDEVICE, printer.Set(), printer.Element(), nullptr));
    EXPECT_EQ(0u, RegistryWrites());
    EXPECT_TRUE(winsim::PrinterExists(queue));
}

TEST_F(CoInstallerEntryTest, RegistryRefusalsDoNotChangeTheAnswers) {
    SeedInstallation();
    winsim::FailCall("RegOpenKeyExW", ERROR_ACCESS_DENIED, 0, 0);
    winsim::FailCall("RegCreateKeyExW", ERROR_ACCESS_DENIED, 0, 0);
    EXPECT_EQ(static_cast<DWORD>(ERROR_DI_POSTPROCESSING_REQUIRED), PrePass());
    EXPECT_EQ(static_cast<DWORD>(NO_ERROR), PostPass());
    EXPECT_TRUE(winsim::PrinterExists(queue)) << "renamed without the stored name";
}

TEST_F(CoInstallerEntryTest, AWholeInstallationBindsThenRenames) {
    SeedInstallation(u"USB001");
    winsim::SetDwordValue(HKEY_LOCAL_MACHINE, machineSettingsKey, u"CurrentDeviceType", 1);
    EXPECT_EQ(static_cast<DWORD>(ERROR_DI_POSTPROCESSING_REQUIRED), PrePass());
    EXPECT_EQ("USB001", StoredText(HKEY_LOCAL_MACHINE, alternateCompanionKey, u"PortName"));
    EXPECT_TRUE(winsim::ValueExists(HKEY_CURRENT_USER, userSettingsKey, contextValue));
    EXPECT_EQ(static_cast<DWORD>(NO_ERROR), PostPass());
    EXPECT_FALSE(winsim::ValueExists(HKEY_CURRENT_USER, userSettingsKey, contextValue));
    EXPECT_TRUE(winsim::PrinterExists(composed));
}

} // namespace
