// The co-installer as the device-installation service sees it: vracoins.dll loaded with LoadLibrary and
// its export found with GetProcAddress, called with the arguments a co-installer receives.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <string>

namespace winetest {

// The DLL named on the command line (argv[1]) or, without one, vracoins.dll in the directory of the
// running program, as a full path.
std::string CoInstallerPath(int argc = 0, char** argv = nullptr);

class CoInstallerModule {
  public:
    // Loads the DLL at `path` (see CoInstallerPath).
    explicit CoInstallerModule(const std::string& path);
    ~CoInstallerModule();
    CoInstallerModule(const CoInstallerModule&) = delete;
    CoInstallerModule& operator=(const CoInstallerModule&) = delete;

    bool IsLoaded() const { return entry != nullptr; }
    // What went wrong while loading, for the message of the check that needs the module.
    const std::string& LoadFailure() const { return failure; }
    // The loaded DLL, for its other exports (those of the module's test build); null when not loaded.
    HMODULE Handle() const { return module; }

    // One call of the entry: the context record carries PostProcessing and InstallResult as given; its
    // other members are zero. `context` receives the record as the call left it.
    DWORD Call(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA element, bool postProcessing,
               DWORD installResult = NO_ERROR, COINSTALLER_CONTEXT_DATA* context = nullptr) const;

    DWORD PrePass(HDEVINFO set, PSP_DEVINFO_DATA element) const {
        return Call(DIF_INSTALLDEVICE, set, element, false);
    }
    DWORD PostPass(HDEVINFO set, PSP_DEVINFO_DATA element, DWORD installResult = NO_ERROR) const {
        return Call(DIF_INSTALLDEVICE, set, element, true, installResult);
    }

  private:
    using EntryProc = DWORD(CALLBACK*)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA, PCOINSTALLER_CONTEXT_DATA);

    HMODULE module = nullptr;
    EntryProc entry = nullptr;
    std::string failure;
};

// The answer a co-installer gives when it wants the post-processing pass.
constexpr DWORD kPostProcessingRequired = ERROR_DI_POSTPROCESSING_REQUIRED;

} // namespace winetest
