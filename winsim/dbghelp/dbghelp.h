// Debug-help library of the simulation (dbghelp): a symbol handler per process handle that resolves
// addresses in this host process to functions and source lines from the DWARF debug information of the
// loaded modules (read with elfutils' libdw). Source paths are reported in Wine's form ("Z:\...").
// Modelled, after Wine's dbghelp: options (lines are reported only with SYMOPT_LOAD_LINES); invading the
// own process, which needs a handle that may read the process's memory; the search path and its default;
// function names as dbghelp forms them from debug information (qualified by named scopes, without
// parameters); for code without debug information, the module's own symbol, undecorated with
// SYMOPT_UNDNAME (parameters included). Not modelled: symbol files, separate debug files and symbol
// servers (the search path is kept but never searched), SYMOPT_DEBUG's diagnostics, modules loaded after
// SymInitialize (Wine's dbghelp does not see them either), inline frames. Loads are always deferred.
#pragma once

#include "winsim/kernel/types.h"

typedef uint64_t ULONG64;
typedef ULONG64* PULONG64;
typedef DWORD64* PDWORD64;
typedef char* PCHAR;

#define SYMOPT_CASE_INSENSITIVE 0x00000001
#define SYMOPT_UNDNAME 0x00000002
#define SYMOPT_DEFERRED_LOADS 0x00000004
#define SYMOPT_NO_CPP 0x00000008
#define SYMOPT_LOAD_LINES 0x00000010
#define SYMOPT_OMAP_FIND_NEAREST 0x00000020
#define SYMOPT_FAIL_CRITICAL_ERRORS 0x00000200
#define SYMOPT_EXACT_SYMBOLS 0x00000400
#define SYMOPT_DEBUG 0x80000000

#define MAX_SYM_NAME 2000

#define ERROR_INVALID_ADDRESS 487L

// Values of SYMBOL_INFO.Tag used here (the DIA SDK's SymTagEnum).
#define SymTagFunction 5
#define SymTagPublicSymbol 10

struct SYMBOL_INFO {
    ULONG SizeOfStruct;
    ULONG TypeIndex;
    ULONG64 Reserved[2];
    ULONG Index;
    ULONG Size;
    ULONG64 ModBase;
    ULONG Flags;
    ULONG64 Value;
    ULONG64 Address;
    ULONG Register;
    ULONG Scope;
    ULONG Tag;
    ULONG NameLen;
    ULONG MaxNameLen;
    CHAR Name[1];
};
typedef SYMBOL_INFO* PSYMBOL_INFO;
// The x64 SDK's sizes: callers put these into SizeOfStruct and dbghelp checks them.
static_assert(sizeof(SYMBOL_INFO) == 88, "SYMBOL_INFO is 88 bytes on x64");
static_assert(offsetof(SYMBOL_INFO, Name) == 84, "SYMBOL_INFO.Name lies at offset 84 on x64");

struct IMAGEHLP_LINE64 {
    DWORD SizeOfStruct;
    PVOID Key;
    DWORD LineNumber;
    PCHAR FileName;
    DWORD64 Address;
};
typedef IMAGEHLP_LINE64* PIMAGEHLP_LINE64;
static_assert(sizeof(IMAGEHLP_LINE64) == 40, "IMAGEHLP_LINE64 is 40 bytes on x64");

// The options are process-wide; the default is SYMOPT_UNDNAME, as in Wine's dbghelp. Returns the new set.
DWORD WINAPI SymGetOptions();
DWORD WINAPI SymSetOptions(DWORD SymOptions);
// UserSearchPath null: ".[;%_NT_SYMBOL_PATH%][;%_NT_ALT_SYMBOL_PATH%]". fInvadeProcess TRUE registers the
// modules loaded now and needs a handle to this process with PROCESS_QUERY_INFORMATION and
// PROCESS_VM_READ (or GetCurrentProcess()); otherwise FALSE with ERROR_INVALID_PARAMETER. A handle that
// already has a symbol handler: TRUE and nothing changes, as native dbghelp does.
BOOL WINAPI SymInitialize(HANDLE hProcess, PCSTR UserSearchPath, BOOL fInvadeProcess);
// FALSE with ERROR_INVALID_HANDLE for a handle without a symbol handler.
BOOL WINAPI SymCleanup(HANDLE hProcess);
// Symbol->SizeOfStruct must be sizeof(SYMBOL_INFO) (ERROR_INVALID_PARAMETER otherwise). The name is cut
// to MaxNameLen - 1 characters and NameLen is the length copied. An address outside every module fails
// with ERROR_MOD_NOT_FOUND, one without a symbol with ERROR_INVALID_ADDRESS. Displacement is optional.
BOOL WINAPI SymFromAddr(HANDLE hProcess, DWORD64 Address, PDWORD64 Displacement, PSYMBOL_INFO Symbol);
// Line->SizeOfStruct must be sizeof(IMAGEHLP_LINE64). FileName points into the symbol handler and stays
// valid until SymCleanup. Without SYMOPT_LOAD_LINES, or for code without line information, FALSE with
// ERROR_INVALID_ADDRESS.
BOOL WINAPI SymGetLineFromAddr64(HANDLE hProcess, DWORD64 qwAddr, PDWORD pdwDisplacement,
                                 PIMAGEHLP_LINE64 Line64);
// Copies at most SearchPathLength - 1 characters and a NUL; a longer path is cut and the call still
// succeeds, as in Wine's dbghelp.
BOOL WINAPI SymGetSearchPath(HANDLE hProcess, PSTR SearchPath, DWORD SearchPathLength);
// SearchPath null restores the default path.
BOOL WINAPI SymSetSearchPath(HANDLE hProcess, PCSTR SearchPath);
