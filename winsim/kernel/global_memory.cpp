// Kernel services of the simulation: the thread's last error and global memory.
// Modelled: a last error per thread, 0 on a new thread; fixed global blocks, zero-filled with
// GMEM_ZEROINIT and otherwise filled with 0xBE so that code relying on zeroed memory shows itself;
// GlobalFree of an unknown block (also a second free) fails with ERROR_INVALID_HANDLE and answers the
// block; a count of the blocks still held (winsim::GlobalBlockCount).
// Not modelled: moveable blocks (GMEM_MOVEABLE fails with ERROR_INVALID_PARAMETER) and the other Global*
// functions. GetLastError and SetLastError cannot be made to fail.
#include "winsim/control/world.h"
#include "winsim/core/entry.h"
#include "winsim/core/malloc_containers.h"
#include "winsim/kernel/global_memory_store.h"
#include "winsim/kernel/last_error.h"

#include <cstring>

using namespace winsim_detail;

namespace {

constexpr UINT kMoveable = 0x0002; // GMEM_MOVEABLE
constexpr BYTE kUninitialisedFill = 0xBE;

thread_local DWORD lastError = 0;

struct GlobalBlocks {
    // Blocks allocated since the last winsim::Reset, and older ones that may still be freed.
    SimMap<void*, bool> live; // value: allocated since the last Reset
};

// Never destroyed: see the note on the failure state.
GlobalBlocks& Blocks() {
    static GlobalBlocks* blocks = new (std::malloc(sizeof(GlobalBlocks))) GlobalBlocks();
    return *blocks;
}

} // namespace

namespace winsim_detail {

void ResetGlobalBlocks() {
    for (auto& block : Blocks().live) {
        block.second = false;
    }
}

} // namespace winsim_detail

DWORD WINAPI GetLastError() {
    return lastError;
}

void WINAPI SetLastError(DWORD dwErrCode) {
    lastError = dwErrCode;
}

HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
    PlatformCall call("GlobalAlloc");
    if (call.FailsWithLastError()) {
        return nullptr;
    }
    if (uFlags & kMoveable) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void* block = std::malloc(dwBytes == 0 ? 1 : dwBytes);
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::memset(block, (uFlags & GMEM_ZEROINIT) ? 0 : kUninitialisedFill, dwBytes == 0 ? 1 : dwBytes);
    Blocks().live[block] = true;
    return block;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL hMem) {
    PlatformCall call("GlobalFree");
    if (call.FailsWithLastError()) {
        return hMem;
    }
    if (hMem == nullptr) {
        return nullptr;
    }
    if (Blocks().live.erase(hMem) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return hMem;
    }
    std::free(hMem);
    return nullptr;
}

namespace winsim {

size_t GlobalBlockCount() {
    ControlCall call;
    size_t count = 0;
    for (const auto& block : Blocks().live) {
        count += block.second ? 1 : 0;
    }
    return count;
}

} // namespace winsim
