// A stand-in for a dbghelp.dll that someone planted beside a program: each load appends a byte to
// planted_library_loads.txt beside it, and every function that vracoins.dll once imported from the real
// library fails. Built into the test programs' planted/ directory, from which a behaviour check copies it
// beside the program (BehaviourWorld::PlantLibrary).
#include <windows.h>

namespace {

// Marks one more load in the file beside this library.
void CountLoad(HINSTANCE instance) {
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
    while (length > 0 && path[length - 1] != '\\') {
        --length;
    }
    const char marker[] = "planted_library_loads.txt";
    if (length == 0 || length + sizeof marker > MAX_PATH) {
        return;
    }
    CopyMemory(path + length, marker, sizeof marker);
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, "L", 1, &written, nullptr);
        CloseHandle(file);
    }
}

BOOL Refuse() {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        CountLoad(instance);
    }
    return TRUE;
}

DWORD WINAPI SymGetOptions() {
    return 0;
}
DWORD WINAPI SymSetOptions(DWORD options) {
    return options;
}
BOOL WINAPI SymInitialize(HANDLE, PCSTR, BOOL) {
    return Refuse();
}
BOOL WINAPI SymCleanup(HANDLE) {
    return Refuse();
}
BOOL WINAPI SymFromAddr(HANDLE, DWORD64, PDWORD64, PVOID) {
    return Refuse();
}
BOOL WINAPI SymGetLineFromAddr64(HANDLE, DWORD64, PDWORD, PVOID) {
    return Refuse();
}
BOOL WINAPI SymGetSearchPath(HANDLE, PSTR, DWORD) {
    return Refuse();
}
BOOL WINAPI SymSetSearchPath(HANDLE, PCSTR) {
    return Refuse();
}

} // extern "C"
