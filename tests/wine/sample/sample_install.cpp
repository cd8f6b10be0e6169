// One printer installation driven through the device-installation service, with vracoins.dll as the
// printer's co-installer. A driver package (an INF) names the DLL in its model's CoInstallers section; the
// program lets SetupAPI select the model for a root-enumerated Printer-class device and register the
// package's co-installers in the device's driver key, as the service does before it installs a device.
// Then SetupDiCallClassInstaller(DIF_INSTALLDEVICE) runs the installation: SetupAPI loads the DLL and
// calls VRACoInstallerEntryProc for the pre pass, then the class installer installs the device. This
// SetupAPI calls co-installers before the class installer only, so the program then plays the service's
// part for the post pass: it calls the export with PostProcessing set and the class installer's result in
// InstallResult, as Windows does. Every value and printer name that the co-installer reads or writes is
// printed before and after each pass, then what changed and whether both passes ran.
//
// With the tracker switched on (HKLM\SOFTWARE\Orvale\DIZadaridi), the tracker's report, which the module
// writes on the debugger output when its last reference is released, is caught and printed at the end.
//
// Usage: sample_install.exe [path\to\vracoins.dll]
#include "tests/wine/support/coinstaller_module.h"
#include "tests/wine/support/debug_output_capture.h"
#include "tests/wine/support/driver_package.h"
#include "tests/wine/support/orvale_registry.h"
#include "tests/wine/support/registry_values.h"
#include "tests/wine/support/sample_installation.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace winetest;

namespace {

using namespace sample;

const wchar_t kTrackerKey[] = L"SOFTWARE\\Orvale\\DIZadaridi";

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

std::string DescribeDeviceDescription(TestDevice& device) {
    wchar_t text[256] = {};
    DWORD type = REG_NONE;
    if (!SetupDiGetDeviceRegistryPropertyW(device.Set(), device.Element(), SPDRP_DEVICEDESC, &type,
                                           reinterpret_cast<BYTE*>(text), sizeof(text) - sizeof(wchar_t),
                                           nullptr)) {
        return "(unreadable, error " + std::to_string(GetLastError()) + ")";
    }
    return "\"" + Narrow(text) + "\"";
}

// The install section that the class installer recorded in the device's driver key: present once the
// device is installed.
std::string DescribeInstalledSection(TestDevice& device) {
    HKEY key =
        SetupDiOpenDevRegKey(device.Set(), device.Element(), DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE) {
        return "(no driver key)";
    }
    const RegistryValue value = ReadValueFromKey(key, L"InfSection");
    RegCloseKey(key);
    return Describe(value);
}

struct Row {
    const char* label;
    std::vector<std::string> states;
};

class Observation {
  public:
    Observation(TestDevice& printer, TestDevice& companion) : printer(printer), companion(companion) {}

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
        Record("printer device description (SPDRP_DEVICEDESC)", DescribeDeviceDescription(printer));
        Record("printer driver key\\InfSection", DescribeInstalledSection(printer));
    }

    // The state of a row at one observation, as printed.
    const std::string& State(const char* label, size_t observation) const {
        static const std::string unknown = "?";
        for (const Row& row : rows) {
            if (std::string(row.label) == label && observation < row.states.size()) {
                return row.states[observation];
            }
        }
        return unknown;
    }

    void Print(const std::vector<const char*>& headings) const {
        for (size_t i = 0; i < headings.size(); ++i) {
            std::printf("\n%s:\n", headings[i]);
            for (const Row& row : rows) {
                std::printf("  %-58s %s\n", row.label, i < row.states.size() ? row.states[i].c_str() : "?");
            }
        }
        std::printf("\nWhat changed:\n");
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

    TestDevice& printer;
    TestDevice& companion;
    std::vector<Row> rows;
};

// Column indices of the observations.
constexpr size_t kBefore = 0;
constexpr size_t kAfterInstall = 1;
constexpr size_t kAfterPostPass = 2;

// One line of the closing checks; answers whether it held.
bool Verdict(bool holds, const char* what, const std::string& found) {
    std::printf("  %-4s %s%s%s\n", holds ? "ok" : "FAIL", what, found.empty() ? "" : ": ", found.c_str());
    return holds;
}

// The service's answer for an otherwise identical device whose package names no co-installer; printed.
ServiceAnswer InstallWithoutCoInstaller() {
    TestDevice twin(L"PrinterWithoutCoInstaller", kEnumeratedDescription, kPrinterSetupClass);
    PrinterDriverPackage plain("vra_sample_plain_package", kModelDescription, kHardwareId, std::string());
    std::string why = twin.Failure();
    if (!twin.IsRegistered() || !plain.PrepareInstall(twin.Set(), twin.Element(), &why)) {
        std::printf("\nThe same installation without the co-installer could not be prepared: %s\n",
                    why.c_str());
        return ServiceAnswer{FALSE, ERROR_GEN_FAILURE};
    }
    twin.SetHardwareText(kPortNameValue, kUsbPort);
    const ServiceAnswer answer = InstallThroughService(twin.Set(), twin.Element());
    std::printf("\nThe same installation without the co-installer (%s, the package without its CoInstallers "
                "section):\n  SetupDiCallClassInstaller answered %s\n",
                Narrow(twin.InstanceId()).c_str(), answer.Text().c_str());
    return answer;
}

// The closing checks: what each pass must have changed, and the service's result. Answers whether all
// held.
bool CheckBothPasses(const Observation& observation, const ServiceAnswer& with, const ServiceAnswer& without,
                     DWORD postAnswer, bool spoolerRenames) {
    const char* context = "HKCU OV Print Settings\\InstallContext";
    const char* queueName = "HKCU OV Print Settings\\InstallContextOriginalPrinterName";
    const char* selector = "HKLM OV Print Settings\\CurrentDeviceType";
    const char* interfacePort = "companion interface {A6AF917D-...} key\\PortName";

    std::printf("\nDid both passes run?\n");
    bool all = true;
    all &= Verdict(observation.State(context, kBefore) == "(absent)" &&
                       observation.State(context, kAfterInstall) == "REG_DWORD 2",
                   "pre pass, called by SetupAPI: InstallContext stored",
                   observation.State(context, kAfterInstall));
    all &= Verdict(observation.State(interfacePort, kAfterInstall) == "REG_SZ \"USB001\"",
                   "pre pass: PortName bound at the companion's interface",
                   observation.State(interfacePort, kAfterInstall));
    all &= Verdict(observation.State(selector, kAfterInstall) == "(absent)",
                   "pre pass: CurrentDeviceType consumed", observation.State(selector, kAfterInstall));
    all &= Verdict(with.succeeded && with.SameAs(without),
                   "the service's result stands: the device installed, as without the co-installer",
                   with.Text() + " with it, " + without.Text() + " without");
    all &= Verdict(postAnswer == NO_ERROR,
                   "post pass, played with the class installer's result: answered NO_ERROR",
                   std::to_string(postAnswer));
    all &= Verdict(observation.State(context, kAfterPostPass) == "(absent)",
                   "post pass: InstallContext cleared", observation.State(context, kAfterPostPass));
    all &= Verdict(observation.State(queueName, kAfterInstall) == "REG_SZ \"Alpha Queue\"" &&
                       observation.State(queueName, kAfterPostPass) == "(absent)",
                   "post pass: the stored queue name consumed", observation.State(queueName, kAfterPostPass));
    if (spoolerRenames) {
        all &=
            Verdict(HasLocalPrinter(kComposedQueueName), "post pass: the queue renamed", DescribePrinters());
    }
    return all;
}

void PrintSetting(const TestDevice& printer, const TestDevice& companion, const PrinterDriverPackage& package,
                  const std::wstring& coInstallers) {
    std::printf(
        "Sample installation of a USB printer through SetupAPI, with vracoins.dll as its co-installer\n");
    std::printf("  printer device    %s (Printer class), hardware id %s, hardware key PortName \"%s\"\n",
                Narrow(printer.InstanceId()).c_str(), kHardwareId, Narrow(kUsbPort).c_str());
    std::printf("  driver package    %s, model \"%s\" selected (DIF_SELECTBESTCOMPATDRV)\n",
                package.InfPath().c_str(), kModelDescription);
    std::printf("  co-installer      registered by the package (DIF_REGISTER_COINSTALLERS):\n"
                "                    driver key CoInstallers32 = \"%s\"\n",
                Narrow(coInstallers).c_str());
    std::printf(
        "  companion device  %s, exposing a present interface of {A6AF917D-48E9-459A-95A1-3B9CD24D91E3}\n",
        Narrow(companion.InstanceId()).c_str());
    std::printf("  print queue       \"%s\" on %s, driver \"%s\", printer data \"%s\"\n",
                Narrow(kQueueName).c_str(), Narrow(kUsbPort).c_str(), Narrow(kDriverName).c_str(),
                Narrow(kPrinterDataText).c_str());
}

bool CouldNotRun(const char* step, const std::string& why) {
    std::printf("sample installation could not run: %s: %s\n", step, why.c_str());
    return false;
}

// Both passes of one installation of the printer through SetupAPI, printed; the devices and the print
// queue are gone again when it returns. Answers whether both passes ran as they should and the service's
// result stood.
bool RunInstallation(const CoInstallerModule& coinstaller, const std::string& modulePath) {
    SampleInstallation installation(modulePath);
    if (!installation.IsReady()) {
        return CouldNotRun(installation.FailedStep(), installation.Failure());
    }
    installation.LeaveComponentsState();
    TestDevice& printer = installation.Printer();
    TestDevice& companion = installation.Companion();
    const PrinterDriverPackage& package = installation.Package();

    PrintSetting(printer, companion, package, RegisteredCoInstallers(printer.Set(), printer.Element()));
    Observation observation(printer, companion);
    observation.Take();

    std::printf(
        "\nPre pass: SetupDiCallClassInstaller(DIF_INSTALLDEVICE): SetupAPI loads the co-installer and\n"
        "calls VRACoInstallerEntryProc (PostProcessing FALSE), then the class installer installs the "
        "device\n");
    const ServiceAnswer installed = installation.InstallThroughService();
    std::printf("  SetupDiCallClassInstaller answered %s\n", installed.Text().c_str());
    observation.Take();

    std::printf(
        "Post pass, the service's part played here (this SetupAPI calls co-installers before the class\n"
        "installer only): VRACoInstallerEntryProc(DIF_INSTALLDEVICE, PostProcessing TRUE, "
        "InstallResult %#lx)\n",
        installed.InstallResult());
    const DWORD postAnswer = installation.PostPass(coinstaller, installed);
    std::printf("  the post pass answered %#lx%s\n", postAnswer, postAnswer == NO_ERROR ? " (NO_ERROR)" : "");
    observation.Take();

    observation.Print(
        {"before", "after SetupDiCallClassInstaller (pre pass, class installer)", "after the post pass"});
    DWORD level4Error = ERROR_SUCCESS;
    const bool spoolerRenames = SpoolerRenamesAtLevel4(installation.Queue(), &level4Error);
    if (!spoolerRenames) {
        std::printf(
            "\nNote: this spooler refuses SetPrinterW at level 4 (error %lu), so the queue cannot be given "
            "its composed name \"Alpha 100 VRA PCL 6\" here; the installation goes on regardless.\n",
            level4Error);
    }

    const ServiceAnswer without = InstallWithoutCoInstaller();
    return CheckBothPasses(observation, installed, without, postAnswer, spoolerRenames);
}

// The tracker's switch as the module will read it at its first allocation; 0 when off.
DWORD TrackingMode(std::string* logLocation) {
    const RegistryValue mode = ReadValue(HKEY_LOCAL_MACHINE, kTrackerKey, L"TrackMemoryAllocation");
    const RegistryValue location = ReadValue(HKEY_LOCAL_MACHINE, kTrackerKey, L"TrackMemoryLogLocation");
    *logLocation = location.Exists() ? Narrow(location.AsText()) : "the temporary directory";
    return mode.Exists() ? mode.AsDword() : 0;
}

// The debugger output as a debugger shows it, a line at a time.
void PrintDebuggerOutput(const DebugOutputCapture& capture) {
    std::string text = capture.Text();
    if (text.empty() || text.back() != '\n') {
        text += '\n';
    }
    std::string line;
    for (char c : text) {
        if (c == '\r') {
            continue;
        }
        if (c != '\n') {
            line += c;
            continue;
        }
        std::printf("  |%s%s\n", line.empty() ? "" : " ", line.c_str());
        line.clear();
    }
}

} // namespace

int main(int argc, char** argv) {
    std::string logLocation;
    const DWORD trackingMode = TrackingMode(&logLocation);
    // What the module writes on the debugger output, its final report at unload included, is caught here
    // as a debugger would see it.
    DebugOutputCapture capture;
    ForgetCoInstallerState();

    bool bothPassesRan = false;
    {
        // The service's own reference to the co-installer. Windows keeps a device's co-installers loaded
        // from the pre pass until the post pass; this SetupAPI loads the DLL for its call and releases it
        // again at once. Holding the module here keeps the one instance that SetupAPI calls loaded for
        // the post pass, so that the module's state (the tracker's included) spans the installation.
        CoInstallerModule coinstaller(CoInstallerPath(argc, argv));
        if (!coinstaller.IsLoaded()) {
            std::printf("sample installation could not run: loading the co-installer: %s\n",
                        coinstaller.LoadFailure().c_str());
            return 1;
        }
        bothPassesRan = RunInstallation(coinstaller, CoInstallerPath(argc, argv));
    } // The last reference goes: the module unloads, and the tracker, when on, writes its report.

    const bool unloaded = GetModuleHandleA("vracoins.dll") == nullptr;
    std::printf("\nThe co-installer's last reference released: the module is %s\n",
                unloaded ? "unloaded (SetupAPI keeps no reference of its own)" : "STILL LOADED");
    if (trackingMode != 0) {
        std::printf(
            "\nTracker (TrackMemoryAllocation %lu, log location %s): its report on the debugger output:\n",
            trackingMode, logLocation.c_str());
        if (capture.Pieces().empty()) {
            std::printf("  (nothing was written)\n");
        } else {
            PrintDebuggerOutput(capture);
        }
    } else if (!capture.Pieces().empty()) {
        std::printf("\nDebugger output:\n");
        PrintDebuggerOutput(capture);
    }

    ForgetCoInstallerState();
    std::printf("\nsample installation %s\n",
                bothPassesRan ? "completed: both passes ran and the installation's result stood"
                              : "FAILED: see the checks above");
    return bothPassesRan ? 0 : 1;
}
