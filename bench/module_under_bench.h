// The module as the benchmarks load it: dlopen over the simulated machine, with the tracker's switches set
// to the mode and call stack depth under measurement before the load (the module reads them at its first
// allocation and keeps them until it is unloaded), and dlclose, which runs the tracker's final report.
#pragma once

#include "bench/allocation_workload.h"
#include "platform/platform.h"

#include <cstdint>
#include <string>

namespace vracoins_bench {

typedef DWORD(WINAPI* CoInstallerEntry)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA, PCOINSTALLER_CONTEXT_DATA);

// The shipped module and its test build, which adds entry points that allocate and release through the
// module's own operators.
enum class ModuleBuild { Shipped, Test };

// Tracking off with the switches' key missing.
constexpr int kNoSwitchesKey = -1;

class ModuleUnderBench {
  public:
    ModuleUnderBench() = default;
    ~ModuleUnderBench() { Unload(); }
    ModuleUnderBench(const ModuleUnderBench&) = delete;
    ModuleUnderBench& operator=(const ModuleUnderBench&) = delete;

    // Loads `build` with "TrackMemoryAllocation" set to `mode` (kNoSwitchesKey: no key) and
    // "TrackMemoryStackDepth" to `stackDepth` (0: not set), unless it is loaded that way already. False,
    // with the reason in `problem`, when the module does not load, lacks its entry points, or runs in
    // another mode than the one set; or, in the test build with tracking on, when a block made by the
    // caller is not listed with as many frames as set (the caller runs below enough frames of its own:
    // RunBelowFrames).
    bool Use(ModuleBuild build, int mode, uint32_t stackDepth, std::string* problem);
    // Without call stacks.
    bool Use(ModuleBuild build, int mode, std::string* problem) { return Use(build, mode, 0, problem); }
    // dlclose. The tracker's final report must not name a leak: the benchmarks release every block.
    // False, with the report in `problem`, when it does.
    bool Unload(std::string* problem = nullptr);

    // The test build's allocation entry points; empty for the shipped module.
    const AllocatorEntry& allocator() const { return allocator_; }
    CoInstallerEntry entry() const { return entry_; }

  private:
    // Whether the test build, loaded with tracking on, keeps the call stacks as deep as set.
    bool StacksAsSet(std::string* problem);

    void* handle_ = nullptr;
    ModuleBuild build_ = ModuleBuild::Shipped;
    int mode_ = kNoSwitchesKey;
    uint32_t stackDepth_ = 0;
    AllocatorEntry allocator_;
    CoInstallerEntry entry_ = nullptr;
};

// The one module loaded at a time by the benchmarks of this process.
ModuleUnderBench& BenchModule();

} // namespace vracoins_bench
