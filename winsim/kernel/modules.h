// Modules and processes of the simulation (kernel32): the modules are the shared objects loaded into this
// host process, the process is this one. A module handle is the module's load base as dladdr reports it,
// and module file names are the objects' host paths in Wine's form ("Z:\usr\lib\...\libvracoins.so").
// kernel32.dll itself is a pseudo module whose exports are the simulation's own kernel functions, and so
// are the system libraries that are loaded at run time (dbghelp.dll and winspool.drv), while loaded.
// Modelled: name and address lookups, file names with Windows' truncation rule, exports of extern "C"
// functions, handles to the own process with their access rights; loading a system library by its file
// name, from the system directory (LOAD_LIBRARY_SEARCH_SYSTEM32) or by the standard search, which finds a
// library that tests planted beside the program first (winsim::PlantLibrary) unless the name is a Known
// DLL; reference counts of libraries loaded so. Not modelled: loading by path or any other library
// (ERROR_MOD_NOT_FOUND), other load flags, ordinal exports, handles to other processes; the shared
// objects of the host process are never unloaded through FreeLibrary.
#pragma once

#include "winsim/kernel/types.h"

typedef LONG_PTR(WINAPI* FARPROC)();

// Why a module's entry point is called.
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x00000001
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004

#define PROCESS_TERMINATE 0x0001
#define PROCESS_CREATE_THREAD 0x0002
#define PROCESS_VM_OPERATION 0x0008
#define PROCESS_VM_READ 0x0010
#define PROCESS_VM_WRITE 0x0020
#define PROCESS_DUP_HANDLE 0x0040
#define PROCESS_CREATE_PROCESS 0x0080
#define PROCESS_SET_QUOTA 0x0100
#define PROCESS_SET_INFORMATION 0x0200
#define PROCESS_QUERY_INFORMATION 0x0400
#define PROCESS_SUSPEND_RESUME 0x0800
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000
#define PROCESS_ALL_ACCESS (STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0xFFFF)

// Searches the system directory only, for the library and for what it imports.
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800

#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L

// hModule null: the process executable. Returns the length copied without the NUL. A buffer too small
// for the path gets the first nSize - 1 characters and a NUL; the result is then nSize and the last
// error ERROR_INSUFFICIENT_BUFFER (Windows Vista and later). nSize 0 copies nothing and returns 0 with
// ERROR_INSUFFICIENT_BUFFER. An unknown module: 0 with ERROR_MOD_NOT_FOUND.
DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
// lpModuleName null: the process executable. Otherwise a file name (".dll" is assumed when it has no
// extension) or a full path, compared without regard to ASCII letter case. Null with
// ERROR_MOD_NOT_FOUND when no loaded module matches.
HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName);
// With GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, lpModuleName is an address inside the module. On failure
// *phModule is null and the last error is set (ERROR_MOD_NOT_FOUND, or ERROR_INVALID_PARAMETER when
// phModule is null).
BOOL WINAPI GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE* phModule);
// An export by name; null with ERROR_PROC_NOT_FOUND when the module does not define it, or with
// ERROR_MOD_NOT_FOUND for an unknown module.
FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);

// A file name without a path (".dll" is assumed without an extension), hFile null, dwFlags 0 or
// LOAD_LIBRARY_SEARCH_SYSTEM32 (ERROR_INVALID_PARAMETER otherwise). Known DLLs (kernel32.dll) and
// libraries of the system directory (dbghelp.dll, winspool.drv) are found there; without
// LOAD_LIBRARY_SEARCH_SYSTEM32, a library planted beside the program comes first, unless the name is a
// Known DLL. Each success takes a reference. Null with ERROR_MOD_NOT_FOUND when nothing is found.
HMODULE WINAPI LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);
// Gives back one reference; the library counts as unloaded when none is left. FALSE with
// ERROR_MOD_NOT_FOUND for a handle that names no library loaded so (kernel32 is always loaded).
BOOL WINAPI FreeLibrary(HMODULE hLibModule);

DWORD WINAPI GetCurrentProcessId();
// The pseudo handle (HANDLE)-1, valid in this process only and never closed.
HANDLE WINAPI GetCurrentProcess();
// Only this process can be opened; any other id fails with ERROR_INVALID_PARAMETER. The handle carries
// the requested access and is closed with CloseHandle.
HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId);
