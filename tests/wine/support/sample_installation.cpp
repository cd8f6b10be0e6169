#include "tests/wine/support/sample_installation.h"

#include "tests/wine/support/orvale_registry.h"
#include "tests/wine/support/registry_values.h"

namespace winetest {

SampleInstallation::SampleInstallation(const std::string& coInstallerPath) {
    std::string why;
    if (!EnsurePrinterDriver(sample::kDriverName, &why)) {
        Fail("installing the printer driver", why);
        return;
    }
    queue = std::make_unique<TestPrinter>(sample::kQueueName, sample::kDriverName, sample::kUsbPort);
    if (!queue->IsAdded()) {
        Fail("adding the print queue", queue->Failure());
        return;
    }
    // The printer data that names the queue is kept under the queue's port name.
    queue->SetDataText(sample::kUsbPort, sample::kPrinterDataText);

    printer = std::make_unique<TestDevice>(L"PRINTER", sample::kEnumeratedDescription, kPrinterSetupClass);
    if (!printer->IsRegistered()) {
        Fail("registering the printer device", printer->Failure());
        return;
    }
    printer->SetHardwareText(kPortNameValue, sample::kUsbPort);
    companion = std::make_unique<TestDevice>(L"VraSampleCompanion", L"Alpha 100 Companion",
                                             sample::kOtherDevicesSetupClass);
    if (!companion->IsRegistered() || !companion->ExposeInterface(kDefaultCompanionInterface)) {
        Fail("the companion device", companion->Failure());
        return;
    }
    package = std::make_unique<PrinterDriverPackage>("vra_sample_package", sample::kModelDescription,
                                                     sample::kHardwareId, coInstallerPath);
    if (!package->PrepareInstall(printer->Set(), printer->Element(), &why)) {
        Fail("preparing the device's installation", why);
    }
}

// The package goes before the devices, and the devices before the queue: the reverse of their set-up.
SampleInstallation::~SampleInstallation() {
    package.reset();
    companion.reset();
    printer.reset();
    queue.reset();
}

bool SampleInstallation::Fail(const char* step, const std::string& why) {
    failedStep = step;
    failure = why;
    return false;
}

void SampleInstallation::LeaveComponentsState() const {
    WriteText(HKEY_LOCAL_MACHINE, kDefaultCompanionKey, kBulkInstanceIdValue, companion->InstanceId());
    WriteDword(HKEY_LOCAL_MACHINE, kPrintSettingsKey, kCurrentDeviceTypeValue, 0);
    WriteText(HKEY_CURRENT_USER, kPrintSettingsKey, kOriginalPrinterNameValue, sample::kQueueName);
}

ServiceAnswer SampleInstallation::InstallThroughService() const {
    return winetest::InstallThroughService(printer->Set(), printer->Element());
}

DWORD SampleInstallation::PostPass(const CoInstallerModule& coinstaller,
                                   const ServiceAnswer& installed) const {
    return coinstaller.PostPass(printer->Set(), printer->Element(), installed.InstallResult());
}

} // namespace winetest
