// Libraries of Windows that are not Known DLLs, loaded at run time from the system directory alone: a
// library loaded by its name alone is looked for first in the folder of the program that hosts the
// module, where anyone who can write there can plant one. docs/SECURITY.md says which libraries this is.
#pragma once

#include "platform.h"

// The library of this file name from the system directory; null when it cannot be loaded.
inline HMODULE LoadSystemLibrary(const WCHAR* fileName) {
    return LoadLibraryExW(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// Looks up the export `name` of `library` as the function type it has; false, with *function null, when
// the library has none of that name.
template <typename Function> bool FindSystemFunction(HMODULE library, const char* name, Function* function) {
    FARPROC address = GetProcAddress(library, name);
    // Through void (*)() first: the compilers accept that type as a stand-in for any function type.
    *function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
    return address != nullptr;
}
