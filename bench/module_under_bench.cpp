#include "bench/module_under_bench.h"

#include "bench/module_checks.h"
#include "winsim/control/all.h"

#include <dlfcn.h>

namespace vracoins_bench {

namespace {

const std::u16string switchesKey = u"SOFTWARE\\Orvale\\DIZadaridi";

void SetTrackingSwitch(int mode) {
    winsim::DeleteKeyTree(HKEY_LOCAL_MACHINE, switchesKey);
    if (mode != kNoSwitchesKey) {
        winsim::SetDwordValue(HKEY_LOCAL_MACHINE, switchesKey, u"TrackMemoryAllocation",
                              static_cast<DWORD>(mode));
    }
}

const char* ModulePath(ModuleBuild build) {
    return build == ModuleBuild::Shipped ? VRACOINS_MODULE_PATH : VRACOINS_TEST_MODULE_PATH;
}

} // namespace

bool ModuleUnderBench::Use(ModuleBuild build, int mode, std::string* problem) {
    if (handle_ != nullptr && build_ == build && mode_ == mode) {
        return true;
    }
    if (!Unload(problem)) {
        return false;
    }
    SetTrackingSwitch(mode);
    winsim::ClearDebugOutput();
    handle_ = dlopen(ModulePath(build), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        *problem = std::string("the module did not load: ") + dlerror();
        return false;
    }
    build_ = build;
    mode_ = mode;
    entry_ = reinterpret_cast<CoInstallerEntry>(dlsym(handle_, "VRACoInstallerEntryProc"));
    if (entry_ == nullptr) {
        *problem = "the module does not export VRACoInstallerEntryProc";
        return false;
    }
    if (build == ModuleBuild::Shipped) {
        return true;
    }
    allocator_.allocate = reinterpret_cast<AllocateEntry>(dlsym(handle_, "vracoinsTestHook_allocate"));
    allocator_.release = reinterpret_cast<ReleaseEntry>(dlsym(handle_, "vracoinsTestHook_release"));
    auto trackMode = reinterpret_cast<int (*)()>(dlsym(handle_, "vracoinsTestHook_trackMode"));
    if (allocator_.allocate == nullptr || allocator_.release == nullptr || trackMode == nullptr) {
        *problem = "the module's test build lacks its allocation entry points";
        return false;
    }
    // The mode is read at the first allocation.
    allocator_.release(allocator_.allocate(1, 0), 0);
    return ModeInForceIsModeSet(trackMode(), mode, problem);
}

bool ModuleUnderBench::Unload(std::string* problem) {
    if (handle_ == nullptr) {
        return true;
    }
    dlclose(handle_);
    handle_ = nullptr;
    allocator_ = AllocatorEntry();
    entry_ = nullptr;
    std::string report = winsim::DebugOutput();
    winsim::ClearDebugOutput();
    std::string leak;
    if (!ReportNamesNoLeak(report, &leak)) {
        if (problem != nullptr) {
            *problem = leak;
        }
        return false;
    }
    return true;
}

ModuleUnderBench& BenchModule() {
    static ModuleUnderBench module;
    return module;
}

} // namespace vracoins_bench
