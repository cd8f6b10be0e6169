// The tracker's configuration: module-wide state read once from the machine's registry switches under
// HKEY_LOCAL_MACHINE "SOFTWARE\Orvale\DIZadaridi" (the mode, the fail size, the log files' directory
// from the switch "TrackMemoryLogLocation", and what the reports add: call stacks and the blocks' bytes), the
// allocation id at which the in-use dump runs, and the switch that adds the symbol server to the resolver's
// search path.
#pragma once

#include "platform/platform.h"

#include <cstdint>

enum TrackMode : int32_t {
    TrackModeUnread = -1,            // the switches' key has not been found yet
    TrackModeOff = 0,                // the pass-through pair serves every request
    TrackModeHeap = 1,               // tracked blocks on the process heap, no guard zones
    TrackModePageGuarded = 2,        // guarded blocks on pages with a no-access page on each side
    TrackModeGuardedProcessHeap = 3, // guarded blocks on the process heap
    TrackModeGuardedRuntimeHeap = 4, // guarded blocks from malloc
};

// Capacity of logDir, in bytes with the terminator: the Windows path limit.
constexpr DWORD logDirCapacity = MAX_PATH;

// -1 until the switches' key has been found; afterwards fixed for the module's life.
extern TrackMode trackMode;
// The process heap in modes 1 and 3, otherwise none (blocks then come from malloc).
extern HANDLE trackHeap;
// 0: no limit. Otherwise every tracked request of this many bytes or more fails.
extern uint64_t failSize;
// The log files' directory, ending in a backslash, narrow text; empty when none is configured. Read with
// the mode: the location with one backslash appended, created when its parent exists (for SYSTEM and the
// administrators only, inheriting nothing; an existing directory is used as it is), the temporary
// directory when its parent is missing, empty when the value is missing or cannot serve as a directory.
extern char logDir[logDirCapacity];
// Return addresses kept of each tracked allocation ("TrackMemoryStackDepth"), 0 for none; at most
// maxStackDepth.
constexpr uint32_t maxStackDepth = 32;
extern uint32_t stackDepth;
// Leading bytes of a block shown below its leak, access-violation and in-use records
// ("TrackMemoryDataBytes"), 0 for none; at most maxDataBytes.
constexpr uint32_t maxDataBytes = 256;
extern uint32_t dataBytes;
// The in-use dump runs after the allocation with this id. Nothing in the module changes it: a developer
// sets it in the running process's memory (ids start at 1 and skip 0 when they wrap, so 0 never matches).
extern volatile uint32_t breakOnAllocId;

// Reads the switches while trackMode is -1, and sets trackHeap to the process heap in modes 1 and 3.
// True when tracking is on (modes 1 to 4).
bool isTrackingOn();
// Ends the looking for a missing key: called once the hooks have chosen their functions, so that the
// collector and the pass-through pair keep to the configuration that the choice was made under (a key
// created later would otherwise hand the pass-through pair a heap its blocks did not come from).
void fixTrackingConfiguration();

// True when the machine-wide switch "AppendTRVSymbolServerPath" holds a non-zero value.
bool readAppendSymbolServerPath();

// The guarded modes, whose blocks carry guard zones that are checked at release.
inline bool isGuardedMode(int32_t mode) {
    return mode >= TrackModePageGuarded && mode <= TrackModeGuardedRuntimeHeap;
}
