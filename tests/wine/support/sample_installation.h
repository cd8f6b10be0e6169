// The sample installation's world: one USB printer installed through the device-installation service with
// a given co-installer DLL, and what the components around the co-installer leave for it. The sample
// program (tests/wine/sample) runs it once and prints what each pass changed; the Windows benchmark
// program (bench/windows) sets it up once and times the installation again and again.
#pragma once

#include "tests/wine/support/coinstaller_module.h"
#include "tests/wine/support/driver_package.h"
#include "tests/wine/support/test_device.h"
#include "tests/wine/support/test_printer.h"

#include <windows.h>

#include <memory>
#include <string>

namespace winetest {

// The installation's names: the printer's driver, queue and port, the printer data that names the queue,
// the device as the bus enumerated it, and the model of the driver package that installs it.
namespace sample {
constexpr const wchar_t* kDriverName = L"Example PCL 6 Driver";
constexpr const wchar_t* kQueueName = L"Alpha Queue";
constexpr const wchar_t* kUsbPort = L"USB001";
constexpr const wchar_t* kPrinterDataText = L"Alpha 100";
constexpr const wchar_t* kEnumeratedDescription = L"Alpha 100 USB Printer";
constexpr const char* kModelDescription = "Alpha 100 PCL 6";
constexpr const char* kHardwareId = "USBPRINT\\VRA_Alpha_100";
// The name the post pass composes for the queue.
constexpr const wchar_t* kComposedQueueName = L"Alpha 100 VRA PCL 6";
// The setup class of the companion device ("Other devices").
constexpr GUID kOtherDevicesSetupClass = {
    0x4D36E97E, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
} // namespace sample

class SampleInstallation {
  public:
    // Sets the world up, step by step, with the DLL at `coInstallerPath` as the printer's co-installer:
    // the printer driver, the print queue on the USB port with its printer data, the root-enumerated
    // Printer-class device with the port in its hardware key, the companion device with a present
    // interface of the default companion class, and the driver package, whose model the service selects
    // for the device and whose co-installer it registers in the device's driver key. Stops at the first
    // step that fails (IsReady, FailedStep, Failure). Everything is removed again when the object goes.
    explicit SampleInstallation(const std::string& coInstallerPath);
    ~SampleInstallation();
    SampleInstallation(const SampleInstallation&) = delete;
    SampleInstallation& operator=(const SampleInstallation&) = delete;

    bool IsReady() const { return failedStep == nullptr; }
    const char* FailedStep() const { return failedStep; }
    const std::string& Failure() const { return failure; }

    // What the components around the co-installer leave for it before an installation: the companion's
    // installer records the companion, the printer's setup records the queue's name and which companion
    // applies. Both passes consume some of it, so it is written again before every installation.
    void LeaveComponentsState() const;

    // The pre pass: the service's DIF_INSTALLDEVICE, which loads the co-installer and calls it before
    // the class installer installs the device.
    ServiceAnswer InstallThroughService() const;
    // The post pass, with the class installer's result, as the service calls it after the installation
    // (this SetupAPI calls co-installers before the class installer only, so its part is played here).
    DWORD PostPass(const CoInstallerModule& coinstaller, const ServiceAnswer& installed) const;

    TestDevice& Printer() const { return *printer; }
    TestDevice& Companion() const { return *companion; }
    const TestPrinter& Queue() const { return *queue; }
    const PrinterDriverPackage& Package() const { return *package; }

  private:
    bool Fail(const char* step, const std::string& why);

    std::unique_ptr<TestPrinter> queue;
    std::unique_ptr<TestDevice> printer;
    std::unique_ptr<TestDevice> companion;
    std::unique_ptr<PrinterDriverPackage> package;
    const char* failedStep = nullptr;
    std::string failure;
};

} // namespace winetest
