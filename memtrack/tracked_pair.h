// The tracked pair, which serves the module's allocation hooks with tracking on, and the checks of its
// releases: the refusal of what is not a live block of this module, the header check, the guard check and
// the lead-in check.
#pragma once

#include <atomic>
#include <cstdint>

// A tracked block built by the allocator of trackMode, after the fail-size test. size, allocation kind
// (AllocKind), the code address that called the hook, location for the new block's id. Returns the user
// pointer or null.
void* trackedAllocate(uint64_t size, int32_t kind, void* caller, uint32_t* outId);
// The same with the user block on `alignment`, a power of two (16 when lower).
void* trackedAllocateAligned(uint64_t size, uint64_t alignment, int32_t kind, void* caller, uint32_t* outId);
// Releases a live tracked block made with the same kind, as the live index knows it; anything else is
// refused with a notice (a stop in an attached debugger) and left alone. The result is read by no caller.
bool trackedRelease(void** location, int32_t kind);

// Whether the guard check has asked for a debugger yet, and the answer. Asked once per module life, so a
// debugger attached later is not noticed by the check.
extern std::atomic<bool> debuggerChecked;
extern std::atomic<bool> debuggerPresent;
