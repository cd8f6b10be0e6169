// The thread's last error (kernel32). Modelled: a last error per thread, 0 on a new thread. GetLastError
// and SetLastError cannot be made to fail.
#pragma once

#include "winsim/kernel/types.h"

// Thread-local, as on Windows. Returns the last value set on this thread, 0 initially.
DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD dwErrCode);
