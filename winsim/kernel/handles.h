// Kernel object handles of the simulation (kernel32): files, processes and threads share one handle table
// (core/handle_table.h), so that CloseHandle closes whichever kind of object a handle names.
// Not modelled: DuplicateHandle, handle inheritance.
#pragma once

#include "winsim/kernel/types.h"

// Closes a file, process or thread handle; FALSE with ERROR_INVALID_HANDLE for anything else.
BOOL WINAPI CloseHandle(HANDLE hObject);
