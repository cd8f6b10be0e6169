// A fresh simulated machine whose drive C: is a new host directory (C:\Temp\ the temporary directory),
// and the module loaded into it with dlopen: the shipped build, or its test build, whose hooks allocate
// through the module's own operators and tell the tracking mode in force.
#pragma once

#include "winsim/control/all.h"
#include "platform/platform.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <string>

namespace registry_doc {

class SimulatedMachine {
  public:
    explicit SimulatedMachine(const std::string& name) {
        root_ = std::filesystem::temp_directory_path() /
                ("registry_doc_" + std::to_string(getpid()) + "_" + name);
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_ / "Temp");
        Reset();
    }
    ~SimulatedMachine() {
        winsim::Reset();
        winsim::ResetModulesAndSymbols();
        winsim::ResetKernelServices();
        std::filesystem::remove_all(root_);
    }
    SimulatedMachine(const SimulatedMachine&) = delete;
    SimulatedMachine& operator=(const SimulatedMachine&) = delete;

    // An empty registry, no devices or printers, no debugger and empty debugger output.
    void Reset() {
        winsim::Reset();
        winsim::ResetKernelServices();
        winsim::ResetModulesAndSymbols();
        winsim::MapDrive('C', root_.string());
        winsim::SetTempPath("C:\\Temp\\");
    }

    // The host path of a Windows path on drive C: ("C:\Logs" gives <root>/Logs); empty for another drive.
    std::filesystem::path HostPath(const std::string& windowsPath) const {
        if (windowsPath.size() < 2 || (windowsPath[0] != 'C' && windowsPath[0] != 'c') ||
            windowsPath[1] != ':') {
            return {};
        }
        std::filesystem::path path = root_;
        std::string rest = windowsPath.substr(2);
        size_t start = 0;
        while (start < rest.size()) {
            size_t end = rest.find('\\', start);
            if (end == std::string::npos) {
                end = rest.size();
            }
            if (end > start) {
                path /= rest.substr(start, end - start);
            }
            start = end + 1;
        }
        return path;
    }

  private:
    std::filesystem::path root_;
};

typedef DWORD(WINAPI* EntryProc)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA, PCOINSTALLER_CONTEXT_DATA);

// The module between dlopen and dlclose; dlclose runs its exit list, the tracker's final report among it.
class LoadedModule {
  public:
    explicit LoadedModule(const char* path) : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
    ~LoadedModule() { Unload(); }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool Loaded() const { return handle_ != nullptr; }
    static std::string LoadError() {
        const char* error = dlerror();
        return error != nullptr ? error : "";
    }

    // Null when the module is not loaded or lacks the export.
    template <typename Function> Function Find(const char* name) const {
        return handle_ != nullptr ? reinterpret_cast<Function>(dlsym(handle_, name)) : nullptr;
    }

    // One install-device call of the co-installer: the pre pass (FALSE) or the post pass (TRUE).
    DWORD InstallDevice(HDEVINFO set, PSP_DEVINFO_DATA element, BOOL postProcessing) const {
        EntryProc entry = Find<EntryProc>("VRACoInstallerEntryProc");
        COINSTALLER_CONTEXT_DATA context = {postProcessing, NO_ERROR, nullptr};
        return entry != nullptr ? entry(DIF_INSTALLDEVICE, set, element, &context) : ~0u;
    }

    void Unload() {
        if (handle_ != nullptr) {
            dlclose(handle_);
            handle_ = nullptr;
        }
    }

  private:
    void* handle_;
};

// The test build of the module with the hooks it exports for tests.
class TestBuildModule : public LoadedModule {
  public:
    TestBuildModule() : LoadedModule(VRACOINS_TEST_MODULE_PATH) {}

    bool HasHooks() const {
        return Find<void*>("vracoinsTestHook_allocate") != nullptr &&
               Find<void*>("vracoinsTestHook_release") != nullptr &&
               Find<void*>("vracoinsTestHook_releaseAfterUnload") != nullptr &&
               Find<void*>("vracoinsTestHook_trackMode") != nullptr;
    }
    // The tracking mode in force: -1 while the switches' key was never found, 0 off, 1 to 4 on.
    int TrackMode() const { return Find<int (*)()>("vracoinsTestHook_trackMode")(); }
    // A block of `size` bytes from the module's operator new; null when the module refuses it.
    void* Allocate(size_t size) const {
        return Find<void* (*)(size_t, int)>("vracoinsTestHook_allocate")(size, 0);
    }
    void Release(void* block) const { Find<void (*)(void*, int)>("vracoinsTestHook_release")(block, 0); }
    // Leaves the block live until the final report at unload has listed it as leaked, then releases it.
    bool LeakUntilUnload(void* block) const {
        return Find<int (*)(void*, int)>("vracoinsTestHook_releaseAfterUnload")(block, 0) != 0;
    }
};

} // namespace registry_doc
