// Libraries of Windows that are not Known DLLs, loaded at run time from the system directory alone: a
// library loaded by its name alone is looked for first in the folder of the program that hosts the
// module, where anyone who can write there can plant one. docs/SECURITY.md says which libraries this is.
#pragma once

#include "platform.h"

// Looks up the export `name` of `library` as the function type it has; false, with *function null, when
// the library has none of that name.
template <typename Function> bool FindSystemFunction(HMODULE library, const char* name, Function* function) {
    FARPROC address = GetProcAddress(library, name);
    // Through void (*)() first: the compilers accept that type as a stand-in for any function type.
    *function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
    return address != nullptr;
}

// A table of a system library's functions is declared from one list, LIST(F) calling F(name) for each:
// struct Table { LIST(VRA_SYSTEM_FUNCTION) }; has a member of each function's own name and type, and
// `return true LIST(VRA_FIND_SYSTEM_FUNCTION);` inside bool findAll(HMODULE library, Table* found) looks
// them all up.
#define VRA_SYSTEM_FUNCTION(name) decltype(&::name) name;
#define VRA_FIND_SYSTEM_FUNCTION(name) &&FindSystemFunction(library, #name, &found->name)

// Loads the library of this file name from the system directory alone and fills `functions` through
// `findAll`, which looks each of them up with FindSystemFunction: all of them or none. The library, to be
// freed with FreeLibrary; null, with the library freed again and `functions` untouched, when it cannot be
// loaded or lacks one of them.
template <typename Functions>
HMODULE LoadSystemFunctions(const WCHAR* fileName, Functions* functions,
                            bool (*findAll)(HMODULE, Functions*)) {
    HMODULE library = LoadLibraryExW(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library == nullptr) {
        return nullptr;
    }
    Functions found = {};
    if (!findAll(library, &found)) {
        FreeLibrary(library);
        return nullptr;
    }
    *functions = found;
    return library;
}
