#include "bench/windows/module_in_mode.h"

#include "bench/module_checks.h"
#include "tests/wine/support/registry_values.h"

namespace vracoins_bench {

namespace {

const wchar_t kSwitchesKey[] = L"SOFTWARE\\Orvale\\DIZadaridi";

} // namespace

std::string BesideProgram(const char* fileName) {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length < MAX_PATH ? length : 0);
    const size_t slash = directory.find_last_of("\\/");
    directory.resize(slash == std::string::npos ? 0 : slash + 1);
    return directory + fileName;
}

bool SetTrackingSwitches(int mode, uint32_t stackDepth, std::string* problem) {
    winetest::DeleteKeyTree(HKEY_LOCAL_MACHINE, kSwitchesKey);
    LONG status = winetest::WriteDword(HKEY_LOCAL_MACHINE, kSwitchesKey, L"TrackMemoryAllocation",
                                       static_cast<DWORD>(mode));
    if (status != ERROR_SUCCESS) {
        *problem = "TrackMemoryAllocation could not be set: error " + std::to_string(status);
        return false;
    }
    if (stackDepth != 0) {
        status = winetest::WriteDword(HKEY_LOCAL_MACHINE, kSwitchesKey, L"TrackMemoryStackDepth", stackDepth);
    }
    if (status != ERROR_SUCCESS) {
        *problem = "TrackMemoryStackDepth could not be set: error " + std::to_string(status);
        return false;
    }
    return true;
}

bool ReportAtUnloadIsClean(winetest::DebugOutputCapture& capture, int mode, std::string* problem) {
    const std::string report = capture.Text();
    capture.Clear();
    if (!ReportNamesNoLeak(report, problem)) {
        return false;
    }
    if (mode != 0 && report.find("Clean System") == std::string::npos) {
        *problem = "the module wrote no final report at its unload in mode " + std::to_string(mode);
        return false;
    }
    return true;
}

int TrackModeInForce(HMODULE module) {
    auto trackMode = ExportOf<int (*)()>(module, "vracoinsTestHook_trackMode");
    return trackMode == nullptr ? -2 : trackMode();
}

bool ModuleInMode::Load(const std::string& path, int wanted, std::string* problem) {
    if (!Unload(problem)) {
        return false;
    }
    capture.Clear();
    module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        *problem = "LoadLibrary(" + path + ") failed: error " + std::to_string(GetLastError());
        return false;
    }
    mode = wanted;
    entry.allocate = ExportOf<AllocateEntry>(module, "vracoinsTestHook_allocate");
    entry.release = ExportOf<ReleaseEntry>(module, "vracoinsTestHook_release");
    if (entry.allocate == nullptr || entry.release == nullptr) {
        *problem = path + " lacks the test build's allocation entry points";
        return false;
    }
    // The mode is read at the first allocation.
    entry.release(entry.allocate(1, 0), 0);
    return ModeInForceIsModeSet(TrackModeInForce(module), wanted, problem);
}

bool ModuleInMode::StacksAre(uint32_t stackDepth, std::string* problem) {
    auto allocationCount = ExportOf<AllocationCountEntry>(module, "vracoinsTestHook_allocationCount");
    auto setBreakOnAllocId = ExportOf<SetBreakOnAllocIdEntry>(module, "vracoinsTestHook_setBreakOnAllocId");
    if (allocationCount == nullptr || setBreakOnAllocId == nullptr) {
        *problem = "the module's test build lacks the entry points of its in-use dump";
        return false;
    }
    capture.Clear();
    if (!DumpOneLiveBlock(entry, allocationCount, setBreakOnAllocId)) {
        *problem = "an allocation failed";
        return false;
    }
    const std::string dump = capture.Text();
    capture.Clear();
    return StackInForceIsStackSet(dump, stackDepth, problem);
}

bool ModuleInMode::Unload(std::string* problem) {
    if (module == nullptr) {
        return true;
    }
    FreeLibrary(module);
    module = nullptr;
    entry = AllocatorEntry();
    std::string reportProblem;
    if (!ReportAtUnloadIsClean(capture, mode, &reportProblem)) {
        if (problem != nullptr) {
            *problem = reportProblem;
        }
        return false;
    }
    return true;
}

} // namespace vracoins_bench
