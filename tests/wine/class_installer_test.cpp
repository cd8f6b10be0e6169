// The co-installer as the device-installation service itself loads and calls it: registered the way a
// driver package registers it (the INF's CoInstallers section, which DIF_REGISTER_COINSTALLERS writes
// into the device's driver key as CoInstallers32 = "<dll>,VRACoInstallerEntryProc") and reached through
// SetupDiCallClassInstaller(DIF_INSTALLDEVICE), never called directly for the pre pass. This SetupAPI
// calls co-installers before the class installer only; the test then plays the service's part for the
// post pass, with the class installer's result in InstallResult, as Windows does. A device that the
// service installed with the co-installer in it must come out as an otherwise identical device installed
// without it. GoogleTest tests, run under Wine by CTest.
#include "tests/two_sided/two_sided_test.h"
#include "tests/wine/support/coinstaller_module.h"
#include "tests/wine/support/driver_package.h"
#include "tests/wine/support/orvale_registry.h"
#include "tests/wine/support/registry_values.h"
#include "tests/wine/support/test_device.h"
#include "tests/wine/support/test_printer.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace winetest;

namespace {

constexpr GUID kOtherDevicesSetupClass = {
    0x4D36E97E, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

const wchar_t kDescription[] = L"Alpha 100 USB Printer";
const char kModel[] = "Alpha 100 PCL 6";
const char kHardwareId[] = "USBPRINT\\VRA_Alpha_100";
const wchar_t kUsbPort[] = L"USB001";
const wchar_t kPclDriver[] = L"Example PCL 6 Driver";
const wchar_t kQueueName[] = L"Service Queue";
const wchar_t kQueuePort[] = L"FILE:";
const wchar_t kComposedName[] = L"Alpha 100 VRA PCL 6";
const wchar_t kClassCoInstallersKey[] = L"System\\CurrentControlSet\\Control\\CoDeviceInstallers";
const wchar_t kPrinterClassText[] = L"{4D36E979-E325-11CE-BFC1-08002BE10318}";

ServiceAnswer InstallDevice(TestDevice& device) {
    return InstallThroughService(device.Set(), device.Element());
}

// What the components around the co-installer leave for one installation: a companion that the
// companion's installer recorded, the selector, and the print queue's name as the printer's setup stored
// it. The queue and the companion live as long as the object.
class InstallationSurroundings {
  public:
    InstallationSurroundings()
        : companion(L"VraServiceCompanion", L"Alpha 100 Companion", kOtherDevicesSetupClass),
          queue(kQueueName, kPclDriver, kQueuePort) {
        ForgetCoInstallerState();
        const bool companionPresent =
            companion.IsRegistered() && companion.ExposeInterface(kDefaultCompanionInterface);
        EXPECT_TRUE(companionPresent) << "cannot make the companion present: " << companion.Failure();
        if (!companionPresent) {
            return;
        }
        EXPECT_TRUE(queue.IsAdded()) << "cannot add the queue: " << queue.Failure();
        if (!queue.IsAdded()) {
            return;
        }
        ready = true;
        queue.SetDataText(kQueuePort, L"Alpha 100");
        WriteText(HKEY_LOCAL_MACHINE, kDefaultCompanionKey, kBulkInstanceIdValue, companion.InstanceId());
        WriteDword(HKEY_LOCAL_MACHINE, kPrintSettingsKey, kCurrentDeviceTypeValue, 0);
        WriteText(HKEY_CURRENT_USER, kPrintSettingsKey, kOriginalPrinterNameValue, kQueueName);
    }
    ~InstallationSurroundings() { ForgetCoInstallerState(); }

    bool IsReady() const { return ready; }
    RegistryValue BoundPort() {
        return companion.ReadInterfaceValue(kDefaultCompanionInterface, kPortNameValue);
    }
    const TestPrinter& Queue() const { return queue; }

  private:
    TestDevice companion;
    TestPrinter queue;
    bool ready = false;
};

// The pre pass ran inside SetupDiCallClassInstaller: the context stored, the port bound at the
// companion's interface and the selector consumed. Answers whether the service left the post pass to
// its caller (this SetupAPI), in which case InstallContext must still be 2.
bool CheckPrePassRanInService(InstallationSurroundings& around, const ServiceAnswer& answer) {
    const RegistryValue port = around.BoundPort();
    EXPECT_TRUE(port.Exists() && port.AsText() == kUsbPort) << Formatted(
        "expected the pre pass to bind PortName \"USB001\" at the companion's interface, got status %ld "
        "(SetupDiCallClassInstaller answered %d, error %#lx)",
        port.status, answer.succeeded, answer.error);
    EXPECT_TRUE(!ReadValue(HKEY_LOCAL_MACHINE, kPrintSettingsKey, kCurrentDeviceTypeValue).Exists())
        << "expected the pre pass to consume CurrentDeviceType";
    // Windows runs the post pass itself once the class installer has answered, and that consumes the
    // stored queue name; this SetupAPI does not ("Co-installer postprocessing not implemented").
    const bool postPassLeftToCaller = UserSettingsValue(kOriginalPrinterNameValue).Exists();
    if (postPassLeftToCaller) {
        const RegistryValue context = UserSettingsValue(kInstallContextValue);
        EXPECT_TRUE(context.Exists() && context.type == REG_DWORD && context.AsDword() == 2)
            << Formatted("expected the pre pass to store InstallContext REG_DWORD 2, got status %ld, %s %lu",
                         context.status, TypeName(context.type), context.AsDword());
    }
    return postPassLeftToCaller;
}

// The service's post pass with the class installer's result, then what it must have done.
void PlayPostPassAndCheck(const CoInstallerModule& coinstaller, TestDevice& printer,
                          InstallationSurroundings& around, const ServiceAnswer& answer,
                          bool postPassLeftToCaller) {
    if (postPassLeftToCaller) {
        COINSTALLER_CONTEXT_DATA seen = {};
        const DWORD post = coinstaller.Call(DIF_INSTALLDEVICE, printer.Set(), printer.Element(), true,
                                            answer.InstallResult(), &seen);
        EXPECT_TRUE(post == NO_ERROR) << Formatted("post pass with InstallResult %#lx: expected 0, got %#lx",
                                                   answer.InstallResult(), post);
        EXPECT_TRUE(seen.InstallResult == answer.InstallResult() && seen.PrivateData == nullptr) << Formatted(
            "the post pass must leave the context record alone: got InstallResult %#lx, PrivateData %p",
            seen.InstallResult, seen.PrivateData);
    }
    const RegistryValue context = UserSettingsValue(kInstallContextValue);
    EXPECT_TRUE(context.status == ERROR_FILE_NOT_FOUND)
        << Formatted("expected InstallContext cleared by the post pass, got status %ld, %lu", context.status,
                     context.AsDword());
    const RegistryValue name = UserSettingsValue(kOriginalPrinterNameValue);
    EXPECT_TRUE(name.status == ERROR_FILE_NOT_FOUND) << Formatted(
        "expected InstallContextOriginalPrinterName consumed by the post pass, got status %ld, \"%s\"",
        name.status, Narrow(name.AsText()).c_str());
    DWORD level4Error = ERROR_SUCCESS;
    if (SpoolerRenamesAtLevel4(around.Queue(), &level4Error)) {
        EXPECT_TRUE(around.Queue().CurrentName() == kComposedName) << Formatted(
            "expected the queue renamed, got \"%s\"", Narrow(around.Queue().CurrentName()).c_str());
    } else {
        EXPECT_TRUE(around.Queue().CurrentName() == kQueueName) << Formatted(
            "the queue must keep its name, got \"%s\"", Narrow(around.Queue().CurrentName()).c_str());
        GTEST_SKIP() << "queue rename: this spooler refuses SetPrinterW at level 4 (error " << level4Error
                     << ")";
    }
}

} // namespace

// Each test with the co-installer loaded as the service's own reference: Windows keeps a device's
// co-installers loaded from the pre pass to the post pass, while this SetupAPI loads the DLL for each call
// and releases it at once. Holding it here keeps the instance that SetupAPI calls loaded for the post pass.
class ClassInstaller : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(coinstaller.IsLoaded()) << coinstaller.LoadFailure();
        std::string why;
        ASSERT_TRUE(EnsurePrinterDriver(kPclDriver, &why)) << "cannot install the printer driver: " << why;
    }
    void TearDown() override { ForgetCoInstallerState(); }

    const std::string module = CoInstallerPath();
    const CoInstallerModule coinstaller{module};
};

TEST_F(ClassInstaller, ADriverPackageRegistersTheCoInstallerThatTheServiceRunsAroundItsSuccess) {
    // The step that failures are reported under (as SCOPED_TRACE does for a scope), each replacing the last.
    std::optional<::testing::ScopedTrace> step;
    step.emplace(__FILE__, __LINE__,
                 "a driver package's INF registers the co-installer in the device's driver key");
    TestDevice printer(L"VraServicePrinter", kDescription, kPrinterSetupClass);
    PrinterDriverPackage package("vra_service_package", kModel, kHardwareId, module);
    std::string why;
    ASSERT_TRUE(printer.IsRegistered()) << "cannot register the printer: " << printer.Failure();
    ASSERT_TRUE(package.PrepareInstall(printer.Set(), printer.Element(), &why)) << why;
    printer.SetHardwareText(kPortNameValue, kUsbPort);
    const std::wstring expected = Widen(module) + L",VRACoInstallerEntryProc";
    const std::wstring registered = RegisteredCoInstallers(printer.Set(), printer.Element());
    EXPECT_TRUE(registered == expected) << Formatted("expected CoInstallers32 \"%s\", got \"%s\"",
                                                     Narrow(expected).c_str(), Narrow(registered).c_str());

    step.emplace(__FILE__, __LINE__, "SetupDiCallClassInstaller(DIF_INSTALLDEVICE) runs the pre pass");
    InstallationSurroundings around;
    if (!around.IsReady()) {
        return;
    }
    const ServiceAnswer answer = InstallDevice(printer);
    const bool leftToCaller = CheckPrePassRanInService(around, answer);

    step.emplace(__FILE__, __LINE__, "the installation's result is the service's own");
    // The same installation of an otherwise identical device whose package names no co-installer.
    EXPECT_TRUE(answer.succeeded) << Formatted(
        "expected the device installed with the package's driver selected, got error %#lx", answer.error);
    TestDevice twin(L"VraServiceTwin", kDescription, kPrinterSetupClass);
    PrinterDriverPackage plain("vra_service_plain_package", kModel, kHardwareId, std::string());
    const bool twinPrepared = twin.IsRegistered() && plain.PrepareInstall(twin.Set(), twin.Element(), &why);
    EXPECT_TRUE(twinPrepared) << "cannot prepare the device without co-installer: " << twin.Failure() << " "
                              << why;
    if (twinPrepared) {
        twin.SetHardwareText(kPortNameValue, kUsbPort);
        const ServiceAnswer without = InstallDevice(twin);
        EXPECT_TRUE(answer.SameAs(without)) << Formatted(
            "with the co-installer the service answered %d (error %#lx), without it %d (error %#lx)",
            answer.succeeded, answer.error, without.succeeded, without.error);
    }

    step.emplace(__FILE__, __LINE__, "the post pass with the class installer's success");
    PlayPostPassAndCheck(coinstaller, printer, around, answer, leftToCaller);
}

// Without a selected driver the class installer's part fails; the co-installer's pre pass runs before
// it all the same, the failure is the service's own, and the post pass runs the same steps after it.
TEST_F(ClassInstaller, WithoutADriverThePrePassStillRunsAndTheFailureIsTheServicesOwn) {
    std::optional<::testing::ScopedTrace> step;
    step.emplace(__FILE__, __LINE__, "a failed class installation: the pre pass still runs");
    TestDevice printer(L"VraServiceNoDriver", kDescription, kPrinterSetupClass);
    TestDevice twin(L"VraServiceNoDriverTwin", kDescription, kPrinterSetupClass);
    ASSERT_TRUE(printer.IsRegistered() && twin.IsRegistered()) << Formatted(
        "cannot register the printers: %s %s", printer.Failure().c_str(), twin.Failure().c_str());
    // The value that DIF_REGISTER_COINSTALLERS would write, which needs a selected driver.
    const LONG registered =
        printer.SetDriverMultiText(L"CoInstallers32", Widen(module) + L",VRACoInstallerEntryProc");
    ASSERT_TRUE(registered == ERROR_SUCCESS)
        << Formatted("cannot write CoInstallers32, error %ld", registered);
    printer.SetHardwareText(kPortNameValue, kUsbPort);
    twin.SetHardwareText(kPortNameValue, kUsbPort);
    InstallationSurroundings around;
    if (!around.IsReady()) {
        return;
    }
    const ServiceAnswer answer = InstallDevice(printer);
    const bool leftToCaller = CheckPrePassRanInService(around, answer);

    step.emplace(__FILE__, __LINE__, "a failed class installation: the failure is the service's own");
    const ServiceAnswer without = InstallDevice(twin);
    EXPECT_TRUE(!answer.succeeded && answer.error == ERROR_NO_DRIVER_SELECTED)
        << Formatted("expected ERROR_NO_DRIVER_SELECTED (%#lx) from the class installer, got %d, error %#lx",
                     static_cast<DWORD>(ERROR_NO_DRIVER_SELECTED), answer.succeeded, answer.error);
    EXPECT_TRUE(answer.SameAs(without))
        << Formatted("with the co-installer the service answered %d (error %#lx), without it %d (error %#lx)",
                     answer.succeeded, answer.error, without.succeeded, without.error);

    step.emplace(__FILE__, __LINE__, "the post pass with the class installer's failure");
    PlayPostPassAndCheck(coinstaller, printer, around, answer, leftToCaller);
}

// A class-wide list of co-installers under CoDeviceInstallers reaches the co-installer too. A driver
// package does not register there, since the list applies to every device of the class; but this SetupAPI
// fails the request when a co-installer of the class list answers an error, while it goes on to the class
// installer after an error from one named in the driver key. Here, then, a co-installer that answered
// anything but success or ERROR_DI_POSTPROCESSING_REQUIRED would change the service's result.
TEST_F(ClassInstaller, ThePrinterClassListReachesTheCoInstallerAndTheResultStands) {
    TestDevice printer(L"VraServiceClassWide", kDescription, kPrinterSetupClass);
    TestDevice twin(L"VraServiceClassWideTwin", kDescription, kPrinterSetupClass);
    PrinterDriverPackage plain("vra_service_class_package", kModel, kHardwareId, std::string());
    std::string why;
    ASSERT_TRUE(printer.IsRegistered() && twin.IsRegistered())
        << "cannot register the printers: " << printer.Failure() << " " << twin.Failure();
    ASSERT_TRUE(plain.PrepareInstall(printer.Set(), printer.Element(), &why) &&
                plain.PrepareInstall(twin.Set(), twin.Element(), &why))
        << "cannot select the driver: " << why;
    ForgetCoInstallerState();
    // The twin is installed before the list names the co-installer, so that the co-installer never sees it.
    const ServiceAnswer without = InstallDevice(twin);
    std::wstring list = Widen(module) + L",VRACoInstallerEntryProc";
    list.push_back(L'\0'); // the list's own terminator; c_str() adds the string's
    HKEY key = nullptr;
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kClassCoInstallersKey, 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(key, kPrinterClassText, 0, REG_MULTI_SZ,
                                reinterpret_cast<const BYTE*>(list.c_str()),
                                static_cast<DWORD>((list.size() + 1) * sizeof(wchar_t)));
    }
    EXPECT_TRUE(status == ERROR_SUCCESS) << "cannot register in the class list, error " << status;
    if (status == ERROR_SUCCESS) {
        const ServiceAnswer answer = InstallDevice(printer);
        const RegistryValue context = UserSettingsValue(kInstallContextValue);
        EXPECT_TRUE(context.Exists() && context.AsDword() == 2)
            << Formatted("expected the pre pass to store InstallContext 2, got status %ld, %lu",
                         context.status, context.AsDword());
        EXPECT_TRUE(answer.succeeded && answer.SameAs(without)) << Formatted(
            "expected the device installed as without the co-installer: with it the service answered %d "
            "(error %#lx), without it %d (error %#lx)",
            answer.succeeded, answer.error, without.succeeded, without.error);
    }
    if (key != nullptr) {
        // Every later installation of a printer would reach the co-installer otherwise.
        RegDeleteValueW(key, kPrinterClassText);
        RegCloseKey(key);
    }
    ForgetCoInstallerState();
}

TEST_F(ClassInstaller, TheServicesOtherRequestsLeaveTheCoInstallersStateAlone) {
    TestDevice printer(L"VraServiceOtherRequest", kDescription, kPrinterSetupClass);
    ASSERT_TRUE(printer.IsRegistered())
        << Formatted("cannot register the printer: %s", printer.Failure().c_str());
    printer.SetHardwareText(kPortNameValue, kUsbPort);
    printer.SetDriverMultiText(L"CoInstallers32", Widen(module) + L",VRACoInstallerEntryProc");
    ForgetCoInstallerState();
    SetupDiCallClassInstaller(DIF_NEWDEVICEWIZARD_FINISHINSTALL, printer.Set(), printer.Element());
    EXPECT_TRUE(!KeyExists(HKEY_CURRENT_USER, kPrintSettingsKey)) << "expected no per-user settings key";
    EXPECT_TRUE(!KeyExists(HKEY_LOCAL_MACHINE, kDefaultCompanionKey)) << "expected no companion key";
}
