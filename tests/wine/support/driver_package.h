// A printer driver package as the device-installation service meets it: an INF whose model names
// vracoins.dll in the model's CoInstallers section, and the service's own steps before DIF_INSTALLDEVICE
// for a device that the model matches (the driver list built from the INF, the best driver selected, the
// package's co-installers registered in the device's driver key). With a driver selected, the class
// installer's part of DIF_INSTALLDEVICE installs the device for real, so the installation result that the
// co-installer's post pass receives is the service's own.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <string>

namespace winetest {

class PrinterDriverPackage {
  public:
    // Writes the package's INF into a directory of that name under the temporary directory: one model
    // of the Printer class with the description and hardware id given, an install section with nothing
    // to copy, and a CoInstallers section that registers "<coInstallerPath>,VRACoInstallerEntryProc" as
    // CoInstallers32 in the device's driver key. The path is the built DLL where it lies, so that a run
    // uses exactly that file; a package for customers copies the DLL to the system directory and names
    // it by file name. With an empty path the package has no CoInstallers section.
    PrinterDriverPackage(const char* directoryName, const std::string& modelDescription,
                         const std::string& hardwareId, const std::string& coInstallerPath);
    // Removes the INF and its directory (the copy that DIF_INSTALLDEVICE keeps among the system's INF
    // files stays, as it would on Windows).
    ~PrinterDriverPackage();
    PrinterDriverPackage(const PrinterDriverPackage&) = delete;
    PrinterDriverPackage& operator=(const PrinterDriverPackage&) = delete;

    bool IsWritten() const { return !infPath.empty(); }
    // Which step failed and its error, when the INF could not be written.
    const std::string& Failure() const { return failure; }
    const std::string& InfPath() const { return infPath; }
    const std::string& HardwareId() const { return hardwareId; }

    // What the service does for the device before DIF_INSTALLDEVICE: gives it the package's hardware id,
    // builds its compatible-driver list from this INF alone, selects the best driver
    // (DIF_SELECTBESTCOMPATDRV) and registers the package's co-installers (DIF_REGISTER_COINSTALLERS).
    // False, with the step and its error in `why`, when a step fails.
    bool PrepareInstall(HDEVINFO set, SP_DEVINFO_DATA* element, std::string* why) const;

  private:
    std::string directory;
    std::string infPath;
    std::string hardwareId;
    std::string failure;
};

// SetupDiCallClassInstaller's answer to one request.
struct ServiceAnswer {
    BOOL succeeded;
    DWORD error; // the last error after the call; meaningful only when it failed

    // What the service hands a co-installer's post pass in InstallResult.
    DWORD InstallResult() const { return succeeded ? NO_ERROR : error; }
    bool SameAs(const ServiceAnswer& other) const {
        return succeeded == other.succeeded && (succeeded || error == other.error);
    }
    // "TRUE", or "FALSE, error 0x...".
    std::string Text() const;
};

// The service's DIF_INSTALLDEVICE for the device: its co-installers' pre pass, then the class installer.
ServiceAnswer InstallThroughService(HDEVINFO set, SP_DEVINFO_DATA* element);

// The device's driver key value CoInstallers32 (REG_MULTI_SZ), each entry on its own, joined by "; ";
// empty when the device has no driver key or the value is missing.
std::wstring RegisteredCoInstallers(HDEVINFO set, SP_DEVINFO_DATA* element);

} // namespace winetest
