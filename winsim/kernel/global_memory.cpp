// Global memory of the simulation; see global_memory.h for what is modelled.
#include "winsim/control/kernel.h"
#include "winsim/core/entry.h"
#include "winsim/core/malloc_containers.h"
#include "winsim/kernel/global_memory.h"
#include "winsim/kernel/global_memory_store.h"
#include "winsim/kernel/last_error.h"

#include <cstring>

using namespace winsim_detail;

namespace {

constexpr UINT kMoveable = 0x0002; // GMEM_MOVEABLE
constexpr BYTE kUninitialisedFill = 0xBE;

struct GlobalBlocks {
    // Blocks allocated since the last winsim::Reset, and older ones that may still be freed.
    SimMap<void*, bool> live; // value: allocated since the last Reset
};

// Never destroyed: see the note on the failure state in core/entry.cpp.
GlobalBlocks& Blocks() {
    static GlobalBlocks* blocks = new (std::malloc(sizeof(GlobalBlocks))) GlobalBlocks();
    return *blocks;
}

} // namespace

namespace winsim_detail {

HANDLE FreeFixedBlock(const char* function, HANDLE block, bool (*forget)(void* block)) {
    PlatformCall call(function);
    if (call.FailsWithLastError()) {
        return block;
    }
    if (block == nullptr) {
        return nullptr;
    }
    if (!forget(block)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return block;
    }
    std::free(block);
    return nullptr;
}

void ResetGlobalBlocks() {
    for (auto& block : Blocks().live) {
        block.second = false;
    }
}

} // namespace winsim_detail

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
    return FreeFixedBlock("GlobalFree", hMem, [](void* block) { return Blocks().live.erase(block) != 0; });
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
