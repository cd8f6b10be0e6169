#include "bench/module_under_bench.h"

#include "bench/module_checks.h"
#include "winsim/control/all.h"

#include <dlfcn.h>

namespace vracoins_bench {

namespace {

const std::u16string switchesKey = u"SOFTWARE\\Orvale\\DIZadaridi";

void SetTrackingSwitches(int mode, uint32_t stackDepth) {
    winsim::DeleteKeyTree(HKEY_LOCAL_MACHINE, switchesKey);
    if (mode != kNoSwitchesKey) {
        winsim::SetDwordValue(HKEY_LOCAL_MACHINE, switchesKey, u"TrackMemoryAllocation",
                              static_cast<DWORD>(mode));
    }
    if (mode != kNoSwitchesKey && stackDepth != 0) {
        winsim::SetDwordValue(HKEY_LOCAL_MACHINE, switchesKey, u"TrackMemoryStackDepth", stackDepth);
    }
}

const char* ModulePath(ModuleBuild build) {
    return build == ModuleBuild::Shipped ? VRACOINS_MODULE_PATH : VRACOINS_TEST_MODULE_PATH;
}

} // namespace

bool ModuleUnderBench::Use(ModuleBuild build, int mode, uint32_t stackDepth, std::string* problem) {
    if (handle_ != nullptr && build_ == build && mode_ == mode && stackDepth_ == stackDepth) {
        return true;
    }
    if (!Unload(problem)) {
        return false;
    }
    SetTrackingSwitches(mode, stackDepth);
    winsim::ClearDebugOutput();
    handle_ = dlopen(ModulePath(build), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        *problem = std::string("the module did not load: ") + dlerror();
        return false;
    }
    build_ = build;
    mode_ = mode;
    stackDepth_ = stackDepth;
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
    if (!ModeInForceIsModeSet(trackMode(), mode, problem)) {
        return false;
    }
    return mode < 1 || StacksAsSet(problem);
}

bool ModuleUnderBench::StacksAsSet(std::string* problem) {
    auto allocationCount =
        reinterpret_cast<AllocationCountEntry>(dlsym(handle_, "vracoinsTestHook_allocationCount"));
    auto setBreakOnAllocId =
        reinterpret_cast<SetBreakOnAllocIdEntry>(dlsym(handle_, "vracoinsTestHook_setBreakOnAllocId"));
    if (allocationCount == nullptr || setBreakOnAllocId == nullptr) {
        *problem = "the module's test build lacks the entry points of its in-use dump";
        return false;
    }
    winsim::ClearDebugOutput();
    if (!DumpOneLiveBlock(allocator_, allocationCount, setBreakOnAllocId)) {
        *problem = "an allocation failed";
        return false;
    }
    std::string dump = winsim::DebugOutput();
    winsim::ClearDebugOutput();
    return StackInForceIsStackSet(dump, stackDepth_, problem);
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
