// Test-facing control of the simulated modules, the libraries loaded at run time, process handles and
// symbol handlers. Failures of LoadLibraryExW, GetProcAddress and FreeLibrary are armed with
// winsim::FailCall like any other.
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

// --- Libraries loaded at run time --------------------------------------------------------------------
// A library of this file name lies in the program's directory from now on (until winsim::Reset): a load
// by the standard search finds it before the system directory's, unless the name is a Known DLL. It
// exports nothing.
void PlantLibrary(const std::string& fileName);
// How often LoadLibraryExW loaded the planted library of this file name since it was planted.
unsigned PlantedLibraryLoadCount(const std::string& fileName);
// References that LoadLibraryExW handed out for the library of this file name (the system directory's
// and a planted one together) and FreeLibrary has not given back, since the last winsim::Reset.
unsigned LibraryReferences(const std::string& fileName);
// The same, of every library.
size_t LibraryReferenceCount();

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
