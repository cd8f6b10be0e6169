// The guard check at release: in the guarded modes (2, 3 and 4) a released block's guard zones must still
// hold their fill. A changed byte is reported with one "MemoryAccessViolation" record that shows both
// damage flags as found; the block is freed afterwards all the same.
#pragma once

#include "memtrack/mem_header.h"

#include <atomic>

// Whether the guard check has asked for a debugger yet, and the answer. Asked once per module life, so a
// debugger attached later is not noticed by the check.
extern std::atomic<bool> debuggerChecked;
extern std::atomic<bool> debuggerPresent;

// Checks the head guard, then the tail guard, of the header; sets underrun or overrun at the first changed
// byte of each, stops in the debugger only when one was attached at the first check, and writes at most one
// record. Nothing for no header or outside the guarded modes.
void checkGuards(OVMemHdr* header);
