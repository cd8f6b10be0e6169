// Closing kernel object handles in the simulation, and their count for tests; the objects live in the
// handle table of core/handle_table.h.
#include "winsim/kernel/handles.h"

#include "winsim/control/kernel.h"
#include "winsim/core/handle_table.h"
#include "winsim/kernel/last_error.h"

size_t winsim::OpenKernelHandleCount() {
    return winsim_detail::OpenKernelHandleCount();
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    if (!winsim_detail::CloseKernelHandle(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
