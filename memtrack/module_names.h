// Paths of the modules that the tracker's records name: the process executable, the module that holds a
// call site (cached by allocation base) and the tracker's own module. All buffers come from the run-time
// heap, never through the module's allocation hooks.
#pragma once

#include "platform/platform.h"

// Size of every module path buffer: MAX_PATH, the longest path GetModuleFileNameA hands back whole.
constexpr DWORD modulePathCapacity = MAX_PATH;
constexpr size_t collectorModulePathCapacity = 512;

// Full path of the process executable, or none; filled on first need, freed by the collector's teardown.
extern char* processPath;
// Allocation base and region size of the last successful VirtualQuery; never reset.
extern void* callerModuleBase;
extern SIZE_T callerModuleSize;
// Full path of the module whose allocation base is callerModuleBase, or none.
extern char* callerModulePath;
// This module's own full path, empty until captureCollectorModuleName() fills it.
extern char collectorModulePath[collectorModulePathCapacity];

// A new zero-filled modulePathCapacity-byte buffer (free it) with the full path of `module` (none: the
// process executable), or none when the path cannot be had or was cut (259 characters is the longest
// accepted).
char* getModuleFileNameCopy(HMODULE module);

// Keeps callerModuleBase and callerModuleSize on the region that holds `address`; an address inside the
// current range costs no query, and a failed query changes nothing.
void refreshModuleRange(const void* address);

// The full path of the module that holds the code address, from the cache (asked for again when the
// address lies in another module or the teardown released it); falls back to a copy of
// collectorModulePath when the address lies in no module. No address: the cache as it stands (possibly
// none). Do not free the result. It stays valid until the next call or the teardown; a caller that keeps
// it across other record writes holds the record writer lock meanwhile.
const char* moduleNameForAddress(const void* address);

// Fills collectorModulePath with this module's own path; false when it cannot be found or does not fit.
bool captureCollectorModuleName();

// Frees processPath and callerModulePath and resets them to none (the collector's teardown); both are
// rebuilt on the next need.
void releaseCachedModulePaths();
