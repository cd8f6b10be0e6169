// Debugger services of the simulation (kernel32). Modelled: a debugger that tests attach and detach
// (winsim::SetDebuggerPresent); the text sent to it, captured for tests (winsim::DebugOutput); breakpoint
// traps, which a present debugger counts and lets pass, and which end the process when none is present,
// as an unhandled breakpoint exception does on Windows. Not modelled: OutputDebugStringW, a debugger that
// stops. None of these functions allocates through operator new.
#pragma once

#include "winsim/kernel/types.h"

// Null is ignored. The text is copied up to its terminating NUL.
void WINAPI OutputDebugStringA(LPCSTR lpOutputString);
void WINAPI DebugBreak();
BOOL WINAPI IsDebuggerPresent();
