// The checks that every benchmark program makes of the module it measures, on the host and under Windows:
// the tracking mode in force is the mode set, the call stacks kept are as deep as set, and the final
// report at the module's unload names no leak (every benchmark releases its blocks).
#pragma once

#include "bench/allocation_workload.h"

#include <cstdint>
#include <string>

namespace vracoins_bench {

// True when `inForce` is `set`; otherwise false, with both in `problem`.
inline bool ModeInForceIsModeSet(int inForce, int set, std::string* problem) {
    if (inForce == set) {
        return true;
    }
    *problem = "tracking mode " + std::to_string(inForce) + " in force, " + std::to_string(set) + " set";
    return false;
}

// True unless the report names a leak; then false, with the report in `problem`.
inline bool ReportNamesNoLeak(const std::string& report, std::string* problem) {
    if (report.find("Memory was leaked") == std::string::npos) {
        return true;
    }
    *problem = "the module reported a leak at its unload:\n" + report;
    return false;
}

// The test build's entry points that run the tracker's in-use dump at a chosen allocation.
typedef unsigned (*AllocationCountEntry)();
typedef void (*SetBreakOnAllocIdEntry)(unsigned id);

// Has the tracker list one live block, made here, in its in-use dump, which the allocation of a second
// block runs before that block joins the list; both are released. The dump, the block's record followed by
// the frames of its call stack, is then on the debugger output. False when an allocation failed.
inline bool DumpOneLiveBlock(const AllocatorEntry& entry, AllocationCountEntry allocationCount,
                             SetBreakOnAllocIdEntry setBreakOnAllocId) {
    void* listed = entry.allocate(16, 0);
    // Ids skip 0 when they wrap.
    unsigned next = allocationCount() + 1;
    setBreakOnAllocId(next == 0 ? 1 : next);
    void* dumping = entry.allocate(16, 0);
    setBreakOnAllocId(0);
    for (void* block : {dumping, listed}) {
        if (block != nullptr) {
            entry.release(block, 0);
        }
    }
    return listed != nullptr && dumping != nullptr;
}

// The frame lines ("    #0 0x...") in a report.
inline uint32_t FrameLinesIn(const std::string& report) {
    uint32_t frames = 0;
    for (size_t at = report.find("    #"); at != std::string::npos; at = report.find("    #", at + 1)) {
        if (at == 0 || report[at - 1] == '\n') {
            ++frames;
        }
    }
    return frames;
}

// True when the block made last before an in-use dump (DumpOneLiveBlock), the last one it lists, was
// listed with `set` frames; otherwise false, with both and the dump in `problem`.
inline bool StackInForceIsStackSet(const std::string& dump, uint32_t set, std::string* problem) {
    size_t record = dump.rfind("MemoryInUse");
    uint32_t kept = record == std::string::npos ? 0 : FrameLinesIn(dump.substr(record));
    if (record != std::string::npos && kept == set) {
        return true;
    }
    *problem = "stacks of " + std::to_string(kept) + " frames kept, " + std::to_string(set) +
               " set; the in-use dump of one block read:\n" + dump;
    return false;
}

} // namespace vracoins_bench
