// The thread's last error of the simulation; see last_error.h for what is modelled.
#include "winsim/kernel/last_error.h"

namespace {

thread_local DWORD lastError = 0;

} // namespace

DWORD WINAPI GetLastError() {
    return lastError;
}

void WINAPI SetLastError(DWORD dwErrCode) {
    lastError = dwErrCode;
}
