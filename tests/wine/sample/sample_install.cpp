// One printer installation, as the device-installation service would run it, with vracoins.dll as the
// printer's co-installer: a USB printer device and its print queue, a companion device that exposes the
// companion interface, and the per-user and machine values that the co-installer works with. The program
// calls the co-installer's pre pass, stands in for the class installer in between, calls the post pass,
// and prints every value and printer name that the co-installer reads or writes, before and after each
// pass. Everything it creates is removed again at the end.
//
// Usage: sample_install.exe [path\to\vracoins.dll]
#include "tests/wine/support/coinstaller_module.h"
#include "tests/wine/support/orvale_registry.h"
#include "tests/wine/support/registry_values.h"
#include "tests/wine/support/test_device.h"
#include "tests/wine/support/test_printer.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace winetest;

namespace {

constexpr GUID kOtherDevicesSetupClass = {
    0x4D36E97E, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

const wchar_t kDriverName[] = L"Example PCL 6 Driver";
const wchar_t kQueueName[] = L"Alpha Queue";
const wchar_t kUsbPort[] = L"USB001";
const wchar_t kPrinterDataText[] = L"Alpha 100";

std::string Describe(const RegistryValue& value) {
    if (value.status == ERROR_FILE_NOT_FOUND) {
        return "(absent)";
    }
    if (!value.Exists()) {
        return "(error " + std::to_string(value.status) + ")";
    }
    if (value.type == REG_DWORD && value.data.size() == 4) {
        return std::string("REG_DWORD ") + std::to_string(value.AsDword());
    }
    if (value.type == REG_SZ || value.type == REG_EXPAND_SZ) {
        return std::string(TypeName(value.type)) + " \"" + Narrow(value.AsText()) + "\"";
    }
    return std::string(TypeName(value.type)) + ", " + std::to_string(value.data.size()) + " bytes";
}

std::string DescribePrinters() {
    std::string names;
    for (const std::wstring& name : LocalPrinterNames()) {
        names += (names.empty() ? "\"" : ", \"") + Narrow(name) + "\"";
    }
    return names.empty() ? "(none)" : names;
}

struct Row {
    const char* label;
    std::vector<std::string> states;
};

class Observation {
  public:
    explicit Observation(TestDevice& companion) : companion(companion) {}

    void Take() {
        Record("HKCU OV Print Settings\\InstallContext",
               ReadValue(HKEY_CURRENT_USER, kPrintSettingsKey, kInstallContextValue));
        Record("HKCU OV Print Settings\\InstallContextOriginalPrinterName",
               ReadValue(HKEY_CURRENT_USER, kPrintSettingsKey, kOriginalPrinterNameValue));
        Record("HKLM OV Print Settings\\CurrentDeviceType",
               ReadValue(HKEY_LOCAL_MACHINE, kPrintSettingsKey, kCurrentDeviceTypeValue));
        Record("HKLM companion key {28DD0066-...}\\BulkInstanceID",
               ReadValue(HKEY_LOCAL_MACHINE, kDefaultCompanionKey, kBulkInstanceIdValue));
        Record("HKLM companion key {28DD0066-...}\\PortName",
               ReadValue(HKEY_LOCAL_MACHINE, kDefaultCompanionKey, kPortNameValue));
        Record("companion interface {A6AF917D-...} key\\PortName",
               companion.ReadInterfaceValue(kDefaultCompanionInterface, kPortNameValue));
        Record("local printers", DescribePrinters());
    }

    void Print(const std::vector<const char*>& headings) const {
        for (size_t i = 0; i < headings.size(); ++i) {
            std::printf("\n%s:\n", headings[i]);
            for (const Row& row : rows) {
                std::printf("  %-58s %s\n", row.label, i < row.states.size() ? row.states[i].c_str() : "?");
            }
        }
        std::printf("\nWhat the co-installer changed:\n");
        bool any = false;
        for (const Row& row : rows) {
            for (size_t i = 1; i < row.states.size(); ++i) {
                if (row.states[i] != row.states[i - 1]) {
                    std::printf("  %s: %s -> %s (%s)\n", row.label, row.states[i - 1].c_str(),
                                row.states[i].c_str(), headings[i]);
                    any = true;
                }
            }
        }
        if (!any) {
            std::printf("  nothing\n");
        }
    }

  private:
    void Record(const char* label, const RegistryValue& value) { Record(label, Describe(value)); }

    void Record(const char* label, const std::string& state) {
        for (Row& row : rows) {
            if (std::string(row.label) == label) {
                row.states.push_back(state);
                return;
            }
        }
        rows.push_back(Row{label, {state}});
    }

    TestDevice& companion;
    std::vector<Row> rows;
};

int Fail(const char* what, const std::string& why) {
    std::printf("sample installation could not run: %s: %s\n", what, why.c_str());
    ForgetCoInstallerState();
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    CoInstallerModule coinstaller(argc, argv);
    if (!coinstaller.IsLoaded()) {
        return Fail("loading the co-installer", coinstaller.LoadFailure());
    }
    ForgetCoInstallerState();

    std::string why;
    if (!EnsurePrinterDriver(kDriverName, &why)) {
        return Fail("installing the printer driver", why);
    }
    TestPrinter queue(kQueueName, kDriverName, kUsbPort);
    if (!queue.IsAdded()) {
        return Fail("adding the print queue", queue.Failure());
    }
    // The printer data that names the queue is kept under the queue's port name.
    queue.SetDataText(kUsbPort, kPrinterDataText);

    TestDevice printer(L"VraSamplePrinter", L"Alpha 100 USB Printer", kPrinterSetupClass);
    if (!printer.IsRegistered()) {
        return Fail("registering the printer device", printer.Failure());
    }
    printer.SetHardwareText(kPortNameValue, kUsbPort);

    TestDevice companion(L"VraSampleCompanion", L"Alpha 100 Companion", kOtherDevicesSetupClass);
    if (!companion.IsRegistered()) {
        return Fail("registering the companion device", companion.Failure());
    }
    if (!companion.ExposeInterface(kDefaultCompanionInterface)) {
        return Fail("exposing the companion interface", companion.Failure());
    }

    // What the components around the co-installer leave for it: the companion's installer records the
    // companion, the printer's setup records the queue's name and which companion applies.
    WriteText(HKEY_LOCAL_MACHINE, kDefaultCompanionKey, kBulkInstanceIdValue, companion.InstanceId());
    WriteDword(HKEY_LOCAL_MACHINE, kPrintSettingsKey, kCurrentDeviceTypeValue, 0);
    WriteText(HKEY_CURRENT_USER, kPrintSettingsKey, kOriginalPrinterNameValue, kQueueName);

    std::printf("Sample installation of a USB printer with vracoins.dll as its co-installer\n");
    std::printf(
        "  printer device    %s, hardware key PortName \"%s\", description \"Alpha 100 USB Printer\"\n",
        Narrow(printer.InstanceId()).c_str(), Narrow(kUsbPort).c_str());
    std::printf(
        "  companion device  %s, exposing a present interface of {A6AF917D-48E9-459A-95A1-3B9CD24D91E3}\n",
        Narrow(companion.InstanceId()).c_str());
    std::printf("  print queue       \"%s\" on %s, driver \"%s\", printer data \"%s\"\n",
                Narrow(kQueueName).c_str(), Narrow(kUsbPort).c_str(), Narrow(kDriverName).c_str(),
                Narrow(kPrinterDataText).c_str());

    Observation observation(companion);
    observation.Take();

    const DWORD preAnswer = coinstaller.PrePass(printer.Set(), printer.Element());
    std::printf("\nDIF_INSTALLDEVICE pre pass answered %#lx%s\n", preAnswer,
                preAnswer == kPostProcessingRequired ? " (ERROR_DI_POSTPROCESSING_REQUIRED)" : "");
    observation.Take();

    // The class installer would install the device here; the post pass runs the same either way.
    const DWORD postAnswer = coinstaller.PostPass(printer.Set(), printer.Element());
    std::printf("DIF_INSTALLDEVICE post pass answered %#lx%s\n", postAnswer,
                postAnswer == NO_ERROR ? " (NO_ERROR)" : "");
    observation.Take();

    observation.Print({"before", "after the pre pass", "after the post pass"});

    DWORD level4Error = ERROR_SUCCESS;
    if (!SpoolerRenamesAtLevel4(queue, &level4Error)) {
        std::printf(
            "\nNote: this spooler refuses SetPrinterW at level 4 (error %lu), so the queue cannot be given "
            "its composed name \"Alpha 100 VRA PCL 6\" here; the installation goes on regardless.\n",
            level4Error);
    }

    ForgetCoInstallerState();
    const bool answeredAsExpected = preAnswer == kPostProcessingRequired && postAnswer == NO_ERROR;
    std::printf("\nsample installation %s\n",
                answeredAsExpected ? "completed" : "FAILED: unexpected answers");
    return answeredAsExpected ? 0 : 1;
}
