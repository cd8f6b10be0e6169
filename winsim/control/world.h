// Test-facing control of the simulated Windows world as a whole: forget it, make a named platform call
// fail and count the calls, and the helpers that build the data the other control headers take. Only
// tests and test tools include the control headers; control/all.h includes every one of them.
#pragma once

#include "winsim/kernel/types.h"

#include <map>
#include <string>
#include <vector>

namespace winsim {

using Bytes = std::vector<BYTE>;

// Forgets every key, device, interface, printer, planted library, reference to a library loaded at run
// time and armed failure, and closes nothing: handles that the
// code under test still holds are counted as leaked by the *Open*Count() functions until Reset.
void Reset();

// --- Failure injection -------------------------------------------------------------------------------
// The next `times` calls of the platform function `name` (for example "RegOpenKeyExW"), after `skip`
// successful ones, fail with `error`: the function returns its documented failure value and, where the
// function reports through the last error, sets it. `times` of 0 means every later call.
void FailCall(const char* name, DWORD error, unsigned skip = 0, unsigned times = 1);
void ClearFailures();
// How many times the platform function `name` was called since the last Reset or ClearCallCounts.
unsigned CallCount(const char* name);
// Every platform function called since the last Reset or ClearCallCounts, by Win32 name, with its number
// of calls.
std::map<std::string, unsigned> CallCounts();
// Starts the counting afresh; armed failures stay armed.
void ClearCallCounts();
// True while the calling thread is inside a simulated platform function. Test allocators use it to tell
// the simulation's own allocations from those of the code under test.
bool InPlatformCall();

// --- Helpers -----------------------------------------------------------------------------------------
Bytes StringBytes(const std::u16string& text, bool withNul = true);
Bytes DwordBytes(DWORD value);
std::u16string FromUtf8(const std::string& text);
std::string ToUtf8(const std::u16string& text);

} // namespace winsim
