// The co-installer with the allocation tracker switched on: vracoins.dll loaded with each tracking mode
// (TrackMemoryAllocation 1 to 4) serves both passes of an installation exactly as it does untracked, and
// with TrackMemoryFailSize 16, which makes nearly every allocation of the module fail, it still answers
// both passes as it must and unloads. Each mode gets a fresh load of the module: the switches are read at
// its first allocation and kept while it stays loaded.
#include "tests/wine/support/coinstaller_module.h"
#include "tests/wine/support/orvale_registry.h"
#include "tests/wine/support/registry_values.h"
#include "tests/wine/support/test_device.h"
#include "tests/wine/support/test_printer.h"
#include "tests/wine/wine_check.h"

#include <cstdio>

using namespace winetest;

namespace {

const wchar_t kTrackerKey[] = L"SOFTWARE\\Orvale\\DIZadaridi";
const wchar_t kPclDriver[] = L"Example PCL 6 Driver";
const wchar_t kQueueName[] = L"Alpha Queue";
const wchar_t kQueuePort[] = L"FILE:";
const wchar_t kUsbPort[] = L"USB001";
const wchar_t kComposedName[] = L"Alpha 100 VRA PCL 6";

RegistryValue UserValue(const wchar_t* name) {
    return ReadValue(HKEY_CURRENT_USER, kPrintSettingsKey, name);
}

void SetSwitches(DWORD mode, DWORD failSize) {
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kTrackerKey);
    WriteDword(HKEY_LOCAL_MACHINE, kTrackerKey, L"TrackMemoryAllocation", mode);
    if (failSize != 0) {
        WriteDword(HKEY_LOCAL_MACHINE, kTrackerKey, L"TrackMemoryFailSize", failSize);
    }
}

// A whole installation of a USB printer whose queue is waiting to be named, with a fresh load of the
// module: the pre pass must store the install context and bind the port into the companion key, the
// post pass clear the context, consume the stored name and rename the queue where the spooler can.
void test_mode_serves_every_pass(int argc, char** argv, DWORD mode, TestDevice& printer) {
    char area[96];
    std::snprintf(area, sizeof area, "TrackMemoryAllocation %lu serves both passes", mode);
    CHECK_AREA(area);
    SetSwitches(mode, 0);
    ForgetCoInstallerState();
    printer.SetHardwareText(kPortNameValue, kUsbPort);
    TestPrinter queue(kQueueName, kPclDriver, kQueuePort);
    if (!CHECK(queue.IsAdded(), "cannot add the queue: %s", queue.Failure().c_str())) {
        return;
    }
    CHECK(queue.SetDataText(kQueuePort, L"Alpha 100") == ERROR_SUCCESS, "cannot store the printer data");
    WriteText(HKEY_CURRENT_USER, kPrintSettingsKey, kOriginalPrinterNameValue, kQueueName);
    {
        CoInstallerModule coinstaller(argc, argv);
        if (!CHECK(coinstaller.IsLoaded(), "%s", coinstaller.LoadFailure().c_str())) {
            return;
        }
        const DWORD pre = coinstaller.PrePass(printer.Set(), printer.Element());
        CHECK(pre == kPostProcessingRequired, "pre pass: expected 0xe0000226, got %#lx", pre);
        const RegistryValue context = UserValue(kInstallContextValue);
        CHECK(context.Exists() && context.AsDword() == 2, "expected InstallContext = 2, got status %ld, %lu",
              context.status, context.AsDword());
        const RegistryValue port = ReadValue(HKEY_LOCAL_MACHINE, kDefaultCompanionKey, kPortNameValue);
        CHECK(port.Exists() && port.AsText() == kUsbPort,
              "expected PortName \"USB001\" bound, got status %ld", port.status);

        const DWORD post = coinstaller.PostPass(printer.Set(), printer.Element());
        CHECK(post == NO_ERROR, "post pass: expected 0, got %#lx", post);
        CHECK(UserValue(kInstallContextValue).status == ERROR_FILE_NOT_FOUND,
              "expected InstallContext deleted");
        CHECK(UserValue(kOriginalPrinterNameValue).status == ERROR_FILE_NOT_FOUND,
              "expected InstallContextOriginalPrinterName consumed");
        DWORD level4Error = ERROR_SUCCESS;
        if (SpoolerRenamesAtLevel4(queue, &level4Error)) {
            CHECK(queue.CurrentName() == kComposedName, "expected the queue renamed, got \"%s\"",
                  Narrow(queue.CurrentName()).c_str());
        } else {
            CHECK(queue.CurrentName() == kQueueName, "the queue must keep its name, got \"%s\"",
                  Narrow(queue.CurrentName()).c_str());
            SKIP("rename in mode %lu: this spooler refuses SetPrinterW at level 4 (error %lu)", mode,
                 level4Error);
        }
    } // FreeLibrary: the module's exit list, the collector's teardown included, runs here.
    CHECK(GetModuleHandleA("vracoins.dll") == nullptr, "expected the module unloaded after FreeLibrary");
}

// Every allocation of 16 bytes or more fails: the module must still answer both passes and unload.
void test_fail_size_is_survived(int argc, char** argv, DWORD mode, TestDevice& printer) {
    char area[96];
    std::snprintf(area, sizeof area, "TrackMemoryAllocation %lu with TrackMemoryFailSize 16", mode);
    CHECK_AREA(area);
    SetSwitches(mode, 16);
    ForgetCoInstallerState();
    printer.SetHardwareText(kPortNameValue, kUsbPort);
    WriteText(HKEY_CURRENT_USER, kPrintSettingsKey, kOriginalPrinterNameValue, L"No Such Queue");
    {
        CoInstallerModule coinstaller(argc, argv);
        if (!CHECK(coinstaller.IsLoaded(), "%s", coinstaller.LoadFailure().c_str())) {
            return;
        }
        const DWORD pre = coinstaller.PrePass(printer.Set(), printer.Element());
        CHECK(pre == kPostProcessingRequired, "pre pass: expected 0xe0000226, got %#lx", pre);
        const DWORD post = coinstaller.PostPass(printer.Set(), printer.Element());
        CHECK(post == NO_ERROR, "post pass: expected 0, got %#lx", post);
        const DWORD other = coinstaller.Call(DIF_SELECTDEVICE, printer.Set(), printer.Element(), false);
        CHECK(other == NO_ERROR, "DIF_SELECTDEVICE: expected 0, got %#lx", other);
        // The binding works on strings that the module allocates, which all fail here: evidence that the
        // switches were read, since untracked the fail size has no effect.
        const RegistryValue port = ReadValue(HKEY_LOCAL_MACHINE, kDefaultCompanionKey, kPortNameValue);
        CHECK(!port.Exists(), "expected no PortName bound while every allocation fails, found \"%s\"",
              Narrow(port.AsText()).c_str());
    }
    CHECK(GetModuleHandleA("vracoins.dll") == nullptr, "expected the module unloaded after FreeLibrary");
}

// The same fail size with tracking off has no effect: the port is bound as usual.
void test_fail_size_without_tracking(int argc, char** argv, TestDevice& printer) {
    CHECK_AREA("TrackMemoryFailSize 16 without tracking changes nothing");
    SetSwitches(0, 16);
    ForgetCoInstallerState();
    printer.SetHardwareText(kPortNameValue, kUsbPort);
    CoInstallerModule coinstaller(argc, argv);
    if (!CHECK(coinstaller.IsLoaded(), "%s", coinstaller.LoadFailure().c_str())) {
        return;
    }
    const DWORD pre = coinstaller.PrePass(printer.Set(), printer.Element());
    CHECK(pre == kPostProcessingRequired, "pre pass: expected 0xe0000226, got %#lx", pre);
    const RegistryValue port = ReadValue(HKEY_LOCAL_MACHINE, kDefaultCompanionKey, kPortNameValue);
    CHECK(port.Exists() && port.AsText() == kUsbPort, "expected PortName \"USB001\" bound, got status %ld",
          port.status);
}

} // namespace

int main(int argc, char** argv) {
    CHECK_AREA("setting up");
    std::string why;
    if (!CHECK(EnsurePrinterDriver(kPclDriver, &why), "cannot install the printer driver: %s", why.c_str())) {
        return winecheck::finish("tracking_modes_test");
    }
    TestDevice printer(L"VraTrackedPrinter", L"Alpha 100 USB Printer", kPrinterSetupClass);
    if (!CHECK(printer.IsRegistered(), "cannot register the printer device: %s", printer.Failure().c_str())) {
        return winecheck::finish("tracking_modes_test");
    }
    for (DWORD mode = 1; mode <= 4; ++mode) {
        test_mode_serves_every_pass(argc, argv, mode, printer);
    }
    for (DWORD mode = 1; mode <= 4; ++mode) {
        test_fail_size_is_survived(argc, argv, mode, printer);
    }
    test_fail_size_without_tracking(argc, argv, printer);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kTrackerKey);
    ForgetCoInstallerState();
    return winecheck::finish("tracking_modes_test");
}
