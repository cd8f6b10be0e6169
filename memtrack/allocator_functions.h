// The two pairs of functions that serve the module's allocation hooks: the pass-through pair with tracking
// off, the tracked pair with tracking on.
#pragma once

#include <cstdint>

// size, allocation kind (AllocKind), the code address that called the hook, location for the new block's
// id. Returns the user pointer or null.
typedef void* (*AllocateFunction)(uint64_t size, int32_t kind, void* caller, uint32_t* outId);
// Location of the pointer to release, allocation kind. The result is read by no caller.
typedef bool (*ReleaseFunction)(void** location, int32_t kind);

// A tracked block built by the allocator of trackMode, after the fail-size test.
void* trackedAllocate(uint64_t size, int32_t kind, void* caller, uint32_t* outId);
// Releases a tracked block made with the same kind; anything else stops in the debugger and is left alone.
bool trackedRelease(void** location, int32_t kind);

// The pass-through pair, plainAllocate and plainRelease: inline, for the hooks.
#include "memtrack/plain_allocator.h"
