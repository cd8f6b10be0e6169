// The co-installer as the device-installation service itself loads and calls it: registered the way a
// driver package's INF registers it (CoInstallers32 = "<dll>,VRACoInstallerEntryProc" in the device's
// driver key) and reached through SetupDiCallClassInstaller, not through a direct call.
#include "tests/wine/support/coinstaller_module.h"
#include "tests/wine/support/orvale_registry.h"
#include "tests/wine/support/registry_values.h"
#include "tests/wine/support/test_device.h"
#include "tests/wine/wine_check.h"

#include <string>

using namespace winetest;

namespace {

// The path as the ANSI functions gave it, in UTF-16.
std::wstring Widen(const std::string& text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 1) {
        return std::wstring();
    }
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length - 1));
    return wide;
}

void test_install_request_reaches_coinstaller(TestDevice& printer) {
    CHECK_AREA("the service runs the pre pass of the co-installer named in CoInstallers32");
    ForgetCoInstallerState();
    SetLastError(ERROR_SUCCESS);
    // No driver is selected for the device, so the class installer's own part fails; the co-installer's
    // pre pass runs before it all the same.
    const BOOL installed = SetupDiCallClassInstaller(DIF_INSTALLDEVICE, printer.Set(), printer.Element());
    const DWORD error = GetLastError();
    const RegistryValue port = ReadValue(HKEY_LOCAL_MACHINE, kDefaultCompanionKey, kPortNameValue);
    CHECK(port.Exists() && port.AsText() == L"USB001",
          "expected the pre pass to leave PortName \"USB001\" in the companion key, got status %ld "
          "(SetupDiCallClassInstaller answered %d, error %#lx)",
          port.status, installed, error);

    const RegistryValue context = ReadValue(HKEY_CURRENT_USER, kPrintSettingsKey, kInstallContextValue);
    if (context.Exists() && context.AsDword() == 2) {
        SKIP(
            "post pass: this SetupAPI calls co-installers before the class installer only, so InstallContext "
            "stays 2 (SetupDiCallClassInstaller answered %d, error %#lx)",
            installed, error);
    } else {
        CHECK(context.status == ERROR_FILE_NOT_FOUND,
              "expected InstallContext deleted by the post pass, got status %ld, %s %lu", context.status,
              TypeName(context.type), context.AsDword());
    }
}

void test_other_request_passes_through(TestDevice& printer) {
    CHECK_AREA("the service's other requests leave the co-installer's state alone");
    ForgetCoInstallerState();
    SetupDiCallClassInstaller(DIF_NEWDEVICEWIZARD_FINISHINSTALL, printer.Set(), printer.Element());
    CHECK(!KeyExists(HKEY_CURRENT_USER, kPrintSettingsKey), "expected no per-user settings key");
    CHECK(!KeyExists(HKEY_LOCAL_MACHINE, kDefaultCompanionKey), "expected no companion key");
}

} // namespace

int main(int argc, char** argv) {
    const std::string module = CoInstallerPath(argc, argv);
    CHECK_AREA("registering the co-installer");
    TestDevice printer(L"VraServicePrinter", L"Alpha 100 USB Printer", kPrinterSetupClass);
    if (!CHECK(printer.IsRegistered(), "cannot register the printer device: %s", printer.Failure().c_str())) {
        return winecheck::finish("class_installer_test");
    }
    CHECK(printer.SetHardwareText(kPortNameValue, L"USB001") == ERROR_SUCCESS,
          "cannot write the printer's PortName");
    const std::wstring entry = Widen(module) + L",VRACoInstallerEntryProc";
    const LONG registered = printer.SetDriverMultiText(L"CoInstallers32", entry);
    if (!CHECK(registered == ERROR_SUCCESS, "cannot write CoInstallers32, error %ld", registered)) {
        return winecheck::finish("class_installer_test");
    }

    test_install_request_reaches_coinstaller(printer);
    test_other_request_passes_through(printer);

    ForgetCoInstallerState();
    return winecheck::finish("class_installer_test");
}
