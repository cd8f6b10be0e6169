// Test-facing control of the simulated modules, process handles and symbol handlers.
#pragma once

#include "winsim/kernel/types.h"

#include <cstddef>
#include <string>

namespace winsim {

// Forgets path overrides and every symbol handler (without closing the process handles they were set up
// with) and restores the default symbol options.
void ResetModulesAndSymbols();

// --- Modules -----------------------------------------------------------------------------------------
// GetModuleFileNameA reports `windowsPath` for the module (null: the process executable) from now on,
// for example a path of exactly 259 or 260 characters.
void OverrideModulePath(HMODULE module, const std::string& windowsPath);
void ClearModulePathOverrides();
// The pseudo module that GetModuleHandleW(L"kernel32.dll") answers.
HMODULE Kernel32Module();

// --- Process handles ---------------------------------------------------------------------------------
// Handles from OpenProcess that are still open.
size_t OpenProcessHandleCount();
// The access a process handle was opened with; 0 for a handle that names no open process.
DWORD ProcessHandleAccess(HANDLE process);

// --- Symbol handlers ---------------------------------------------------------------------------------
// True while SymInitialize has set up a symbol handler for this handle and SymCleanup has not ended it.
bool HasSymbolHandler(HANDLE process);
size_t SymbolHandlerCount();

} // namespace winsim
