// Kernel services of the simulation: last error and the global memory blocks of the spooler records.
#pragma once

#include "winsim/kernel/types.h"

#define GMEM_FIXED 0x0000
#define GMEM_ZEROINIT 0x0040
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

// Thread-local, as on Windows. Returns the last value set on this thread, 0 initially.
DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD dwErrCode);

// Fixed blocks only (no moveable handles). Returns null and sets the last error on failure.
HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes);
// Returns null on success, the handle on failure (as Windows does).
HGLOBAL WINAPI GlobalFree(HGLOBAL hMem);

// Closes a file, process or thread handle; FALSE with ERROR_INVALID_HANDLE for anything else.
BOOL WINAPI CloseHandle(HANDLE hObject);
