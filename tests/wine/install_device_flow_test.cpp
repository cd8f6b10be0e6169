// The co-installer entry against the real device-installation service and registry: which requests it
// answers and how, and the per-user install context that its two DIF_INSTALLDEVICE passes keep.
#include "tests/wine/support/coinstaller_module.h"
#include "tests/wine/support/orvale_registry.h"
#include "tests/wine/support/registry_values.h"
#include "tests/wine/support/test_device.h"
#include "tests/wine/wine_check.h"

using namespace winetest;

namespace {

const wchar_t kPrinterEnumerator[] = L"VraFlowPrinter";
const wchar_t kPrinterDescription[] = L"Alpha 100 Printer";

bool CompanionKeysUntouched() {
    return !KeyExists(HKEY_LOCAL_MACHINE, kDefaultCompanionKey) &&
           !KeyExists(HKEY_LOCAL_MACHINE, kAlternateCompanionKey);
}

void test_other_requests(const CoInstallerModule& coinstaller, TestDevice& printer) {
    CHECK_AREA("requests other than DIF_INSTALLDEVICE");
    const DI_FUNCTION others[] = {DIF_SELECTDEVICE, DIF_INSTALLDEVICEFILES, DIF_REGISTERDEVICE, DIF_REMOVE,
                                  DIF_NEWDEVICEWIZARD_FINISHINSTALL};
    for (DI_FUNCTION function : others) {
        ForgetCoInstallerState();
        const DWORD pre = coinstaller.Call(function, printer.Set(), printer.Element(), false);
        CHECK(pre == NO_ERROR, "request %#x, pre pass: expected 0, got %#lx", function, pre);
        const DWORD post = coinstaller.Call(function, printer.Set(), printer.Element(), true);
        CHECK(post == NO_ERROR, "request %#x, post pass: expected 0, got %#lx", function, post);
        CHECK(!KeyExists(HKEY_CURRENT_USER, kPrintSettingsKey),
              "request %#x: expected no per-user settings key, found one", function);
        CHECK(CompanionKeysUntouched(), "request %#x: expected no companion key, found one", function);
    }

    ForgetCoInstallerState();
    WriteDword(HKEY_CURRENT_USER, kPrintSettingsKey, kInstallContextValue, 2);
    const DWORD answer = coinstaller.Call(DIF_SELECTDEVICE, printer.Set(), printer.Element(), true);
    const RegistryValue context = UserSettingsValue(kInstallContextValue);
    CHECK(answer == NO_ERROR, "DIF_SELECTDEVICE with a stored context: expected 0, got %#lx", answer);
    CHECK(context.Exists() && context.AsDword() == 2,
          "DIF_SELECTDEVICE must leave InstallContext = 2 alone: got status %ld, value %lu", context.status,
          context.AsDword());
}

void test_pre_pass(const CoInstallerModule& coinstaller, TestDevice& printer) {
    CHECK_AREA("pre pass stores install context 2");
    ForgetCoInstallerState();
    // The selector is the companion binding's; a printer on a non-USB port must not consume it.
    WriteDword(HKEY_LOCAL_MACHINE, kPrintSettingsKey, kCurrentDeviceTypeValue, 1);

    const DWORD answer = coinstaller.PrePass(printer.Set(), printer.Element());
    CHECK(answer == kPostProcessingRequired,
          "expected ERROR_DI_POSTPROCESSING_REQUIRED (0xe0000226), got %#lx", answer);
    const RegistryValue context = UserSettingsValue(kInstallContextValue);
    CHECK(context.Exists(), "expected InstallContext under HKCU, got status %ld", context.status);
    CHECK(context.type == REG_DWORD, "expected InstallContext as REG_DWORD, got %s", TypeName(context.type));
    CHECK(context.data.size() == 4 && context.AsDword() == 2,
          "expected 4 bytes holding 2, got %u bytes, value %lu", static_cast<unsigned>(context.data.size()),
          context.AsDword());
    CHECK(CompanionKeysUntouched(), "a printer on LPT1: must not touch a companion key");
    const RegistryValue selector = ReadValue(HKEY_LOCAL_MACHINE, kPrintSettingsKey, kCurrentDeviceTypeValue);
    CHECK(selector.Exists() && selector.AsDword() == 1,
          "a printer on LPT1: must leave CurrentDeviceType in place, got status %ld", selector.status);

    CHECK_AREA("pre pass overwrites an earlier install context");
    WriteDword(HKEY_CURRENT_USER, kPrintSettingsKey, kInstallContextValue, 3);
    const DWORD again = coinstaller.PrePass(printer.Set(), printer.Element());
    const RegistryValue replaced = UserSettingsValue(kInstallContextValue);
    CHECK(again == kPostProcessingRequired, "expected 0xe0000226, got %#lx", again);
    CHECK(replaced.type == REG_DWORD && replaced.AsDword() == 2, "expected REG_DWORD 2, got %s %lu",
          TypeName(replaced.type), replaced.AsDword());

    CHECK_AREA("pre pass without a device element");
    ForgetCoInstallerState();
    const DWORD bare = coinstaller.PrePass(printer.Set(), nullptr);
    const RegistryValue bareContext = UserSettingsValue(kInstallContextValue);
    CHECK(bare == kPostProcessingRequired, "expected 0xe0000226, got %#lx", bare);
    CHECK(bareContext.Exists() && bareContext.AsDword() == 2,
          "expected InstallContext = 2, got status %ld, %lu", bareContext.status, bareContext.AsDword());
    CHECK(CompanionKeysUntouched(), "without a device element no companion key may be touched");
}

void test_post_pass(const CoInstallerModule& coinstaller, TestDevice& printer) {
    CHECK_AREA("post pass deletes the install context");
    ForgetCoInstallerState();
    coinstaller.PrePass(printer.Set(), printer.Element());
    const DWORD answer = coinstaller.PostPass(printer.Set(), printer.Element());
    CHECK(answer == NO_ERROR, "expected 0, got %#lx", answer);
    const RegistryValue context = UserSettingsValue(kInstallContextValue);
    CHECK(context.status == ERROR_FILE_NOT_FOUND,
          "expected InstallContext deleted, got status %ld, value %lu", context.status, context.AsDword());
    CHECK(KeyExists(HKEY_CURRENT_USER, kPrintSettingsKey), "the per-user settings key itself must stay");

    CHECK_AREA("post pass after a failed class installation");
    coinstaller.PrePass(printer.Set(), printer.Element());
    COINSTALLER_CONTEXT_DATA seen = {};
    const DWORD failedInstall = ERROR_DI_DO_DEFAULT;
    const DWORD afterFailure =
        coinstaller.Call(DIF_INSTALLDEVICE, printer.Set(), printer.Element(), true, failedInstall, &seen);
    const RegistryValue cleared = UserSettingsValue(kInstallContextValue);
    CHECK(afterFailure == NO_ERROR, "expected 0, got %#lx", afterFailure);
    CHECK(cleared.status == ERROR_FILE_NOT_FOUND, "expected InstallContext deleted, got status %ld",
          cleared.status);
    CHECK(seen.InstallResult == failedInstall && seen.PrivateData == nullptr && seen.PostProcessing,
          "the context record must come back unchanged: got InstallResult %#lx, PrivateData %p",
          seen.InstallResult, seen.PrivateData);

    CHECK_AREA("post pass without an install context");
    ForgetCoInstallerState();
    const DWORD nothing = coinstaller.PostPass(printer.Set(), printer.Element());
    CHECK(nothing == NO_ERROR, "expected 0, got %#lx", nothing);
    CHECK(!KeyExists(HKEY_CURRENT_USER, kPrintSettingsKey), "a post pass must not create the settings key");
}

void test_post_pass_keeps_name_without_description(const CoInstallerModule& coinstaller,
                                                   TestDevice& printer) {
    CHECK_AREA("post pass keeps the stored queue name when the description cannot be read");
    TestDevice anonymous(L"VraFlowAnonymous", nullptr, kPrinterSetupClass);
    if (!anonymous.IsRegistered()) {
        CHECK(false, "cannot register a device without description: %s", anonymous.Failure().c_str());
        return;
    }
    StorePrePassState(L"Queue Without Description");
    const DWORD answer = coinstaller.PostPass(anonymous.Set(), anonymous.Element());
    CHECK(answer == NO_ERROR, "expected 0, got %#lx", answer);
    const RegistryValue context = UserSettingsValue(kInstallContextValue);
    CHECK(context.status == ERROR_FILE_NOT_FOUND, "expected InstallContext deleted, got status %ld",
          context.status);
    const RegistryValue name = UserSettingsValue(kOriginalPrinterNameValue);
    CHECK(name.Exists() && name.AsText() == L"Queue Without Description",
          "expected InstallContextOriginalPrinterName kept, got status %ld, \"%s\"", name.status,
          Narrow(name.AsText()).c_str());

    CHECK_AREA("post pass without a device element keeps the stored queue name");
    WriteDword(HKEY_CURRENT_USER, kPrintSettingsKey, kInstallContextValue, 2);
    const DWORD bare = coinstaller.PostPass(printer.Set(), nullptr);
    CHECK(bare == NO_ERROR, "expected 0, got %#lx", bare);
    CHECK(UserSettingsValue(kInstallContextValue).status == ERROR_FILE_NOT_FOUND,
          "expected InstallContext deleted");
    CHECK(UserSettingsValue(kOriginalPrinterNameValue).Exists(),
          "expected InstallContextOriginalPrinterName kept");

    CHECK_AREA("post pass consumes the stored queue name when the description is readable");
    const DWORD readable = coinstaller.PostPass(printer.Set(), printer.Element());
    const RegistryValue consumed = UserSettingsValue(kOriginalPrinterNameValue);
    CHECK(readable == NO_ERROR, "expected 0, got %#lx", readable);
    CHECK(consumed.status == ERROR_FILE_NOT_FOUND,
          "expected InstallContextOriginalPrinterName deleted even with no such queue, got status %ld",
          consumed.status);
}

} // namespace

int main(int argc, char** argv) {
    CoInstallerModule coinstaller(argc, argv);
    CHECK_AREA("loading the module");
    if (!CHECK(coinstaller.IsLoaded(), "%s", coinstaller.LoadFailure().c_str())) {
        return winecheck::finish("install_device_flow_test");
    }
    TestDevice printer(kPrinterEnumerator, kPrinterDescription, kPrinterSetupClass);
    if (!CHECK(printer.IsRegistered(), "cannot register the printer device: %s", printer.Failure().c_str())) {
        return winecheck::finish("install_device_flow_test");
    }
    CHECK(printer.SetHardwareText(L"PortName", L"LPT1:") == ERROR_SUCCESS,
          "cannot write the printer's PortName");

    test_other_requests(coinstaller, printer);
    test_pre_pass(coinstaller, printer);
    test_post_pass(coinstaller, printer);
    test_post_pass_keeps_name_without_description(coinstaller, printer);

    ForgetCoInstallerState();
    return winecheck::finish("install_device_flow_test");
}
