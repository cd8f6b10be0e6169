#include "coinstaller/coinstaller_entry.h"

#include "coinstaller/install_context.h"
#include "coinstaller/install_device.h"
#include "coinstaller/printer.h"

namespace {

// Before the class installer: remember the install context and tell a USB printer's companion its port.
// Always asks to be called again after the installation.
DWORD PreInstallDevice(CInstallContext& installContext, HDEVINFO deviceInfoSet,
                       PSP_DEVINFO_DATA deviceInfoData) {
    installContext.SetContext(2);
    CInstallDevice device(deviceInfoSet, deviceInfoData);
    device.BindUsbCompanionPort();
    return ERROR_DI_POSTPROCESSING_REQUIRED;
}

// After the class installer, whether it succeeded or not: forget the context and, for a device whose
// description can be read, name its print queue and forget the stored queue name. The spooler is loaded
// when the naming first needs it and freed as the pass ends.
DWORD PostInstallDevice(CInstallContext& installContext, HDEVINFO deviceInfoSet,
                        PSP_DEVINFO_DATA deviceInfoData) {
    installContext.ClearContext();
    CInstallDevice device(deviceInfoSet, deviceInfoData);
    WideString description;
    if (device.GetRegistryPropertyString(SPDRP_DEVICEDESC, description)) {
        CSpooler spooler;
        NamePrintQueue(spooler, installContext.ReadPrinterName());
        installContext.ClearPrinterName();
    }
    return NO_ERROR;
}

} // namespace

// No step's failure changes the answer: the installation itself must never be stopped by this module.
extern "C" DWORD WINAPI VRACoInstallerEntryProc(DI_FUNCTION installFunction, HDEVINFO deviceInfoSet,
                                                PSP_DEVINFO_DATA deviceInfoData,
                                                PCOINSTALLER_CONTEXT_DATA context) {
    CInstallContext installContext;
    if (installFunction != DIF_INSTALLDEVICE) {
        return NO_ERROR;
    }
    // The service always passes its context to a co-installer; without one the pass cannot be told, and
    // acting on a guess could rename a queue before it is installed.
    if (context == nullptr) {
        return NO_ERROR;
    }
    if (!context->PostProcessing) {
        return PreInstallDevice(installContext, deviceInfoSet, deviceInfoData);
    }
    return PostInstallDevice(installContext, deviceInfoSet, deviceInfoData);
}
