// The libraries that LoadLibraryExW loads at run time, as the module lookups of modules.cpp see them:
// pseudo modules of the system directory whose exports are the simulation's own functions, and the
// libraries that tests plant beside the program. Internal to winsim; callers hold the world lock.
#pragma once

#include "winsim/core/malloc_containers.h"
#include "winsim/kernel/modules.h"

namespace winsim_detail {

// The pseudo kernel32's handle, and the directory of the process executable ("C:\...\", as
// GetModuleFileNameA names it), from modules.cpp.
HMODULE Kernel32Handle();
SimString ProgramDirectory();

// The export `name` of the pseudo module of this file name (as the table of system_libraries.cpp spells
// it), or null.
FARPROC ExportOf(const char16_t* library, LPCSTR name);

struct LoadedLibrary {
    HMODULE handle;
    SimString windowsPath;
};
// The libraries that hold references now.
SimVector<LoadedLibrary> LoadedLibraries();

enum class LibraryExport {
    NotALibrary, // the handle names none of these libraries
    NotLoaded,   // it names one that holds no reference
    Missing,     // loaded, without an export of the name
    Found,
};
LibraryExport FindLibraryExport(HMODULE library, LPCSTR name, FARPROC* address);

// Forgets every reference and planted library (part of winsim::Reset).
void ResetLibraries();

} // namespace winsim_detail
