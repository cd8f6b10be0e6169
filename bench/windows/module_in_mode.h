// The module's test build as the Windows benchmark program loads it: the tracker's switches
// (HKLM\SOFTWARE\Orvale\DIZadaridi, TrackMemoryAllocation and TrackMemoryStackDepth) set to the mode and
// stack depth under measurement before LoadLibrary, since the module reads them at its first allocation
// and keeps them until it is unloaded; the mode in force checked against the mode set, and on request the
// stacks kept against the depth set; FreeLibrary, whose final report on the debugger output must name no
// leak.
#pragma once

#include "bench/allocation_workload.h"
#include "tests/wine/support/debug_output_capture.h"

#include <windows.h>

#include <cstdint>
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

// Sets TrackMemoryAllocation to `mode` (0 to 4) in the switches' key, made afresh, and
// TrackMemoryStackDepth to `stackDepth` unless that is 0.
bool SetTrackingSwitches(int mode, uint32_t stackDepth, std::string* problem);
// Without call stacks.
inline bool SetTrackingSwitch(int mode, std::string* problem) {
    return SetTrackingSwitches(mode, 0, problem);
}

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
    // Whether the loaded module keeps call stacks of `stackDepth` frames of a block made by the caller, as
    // its in-use dump lists them (the caller runs below enough frames of its own: RunBelowFrames). False,
    // with the reason in `problem`, otherwise.
    bool StacksAre(uint32_t stackDepth, std::string* problem);

    // The test build's allocation entry points.
    const AllocatorEntry& allocator() const { return entry; }

  private:
    winetest::DebugOutputCapture& capture;
    HMODULE module = nullptr;
    int mode = 0;
    AllocatorEntry entry;
};

} // namespace vracoins_bench
