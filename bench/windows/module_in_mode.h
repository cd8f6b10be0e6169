// The module's test build as the Windows benchmark program loads it: the tracker's switch
// (HKLM\SOFTWARE\Orvale\DIZadaridi, TrackMemoryAllocation) set to the mode under measurement before
// LoadLibrary, since the module reads it at its first allocation and keeps it until it is unloaded; the
// mode in force checked against the mode set; FreeLibrary, whose final report on the debugger output must
// name no leak.
#pragma once

#include "bench/allocation_workload.h"
#include "tests/wine/support/debug_output_capture.h"

#include <windows.h>

#include <string>

namespace vracoins_bench {

// An export of a loaded DLL as a function pointer, or null. The detour through void (*)() is the
// conversion that the compiler accepts without -Wcast-function-type.
template <typename Function> Function ExportOf(HMODULE module, const std::string& name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name.c_str())));
}

// The module's test build, beside the program.
constexpr const char* kTestBuildDll = "vracoins_testhooks.dll";

// The full path of a file beside the running program.
std::string BesideProgram(const char* fileName);

// Sets TrackMemoryAllocation to `mode` (0 to 4) in the switches' key, made afresh.
bool SetTrackingSwitch(int mode, std::string* problem);

// Whether the module's report at its unload, as caught on the debugger output, suits a module that ran in
// `mode` and released every block: no leak named, and in a tracking mode the report's clean ending. The
// capture is cleared. False, with the reason in `problem`, otherwise.
bool ReportAtUnloadIsClean(winetest::DebugOutputCapture& capture, int mode, std::string* problem);

// The mode in force in a loaded test build (its export vracoinsTestHook_trackMode), or -2 when the module
// lacks the export.
int TrackModeInForce(HMODULE module);

class ModuleInMode {
  public:
    explicit ModuleInMode(winetest::DebugOutputCapture& capture) : capture(capture) {}
    ~ModuleInMode() { Unload(nullptr); }
    ModuleInMode(const ModuleInMode&) = delete;
    ModuleInMode& operator=(const ModuleInMode&) = delete;

    // Loads the test build at `path`, makes its first allocation (which reads the switch, set to `mode`
    // before: SetTrackingSwitch) and checks the mode in force. False, with the reason in `problem`,
    // otherwise.
    bool Load(const std::string& path, int mode, std::string* problem);
    // FreeLibrary, then the report's check (ReportAtUnloadIsClean).
    bool Unload(std::string* problem);

    // The test build's allocation entry points.
    const AllocatorEntry& allocator() const { return entry; }

  private:
    winetest::DebugOutputCapture& capture;
    HMODULE module = nullptr;
    int mode = 0;
    AllocatorEntry entry;
};

} // namespace vracoins_bench
