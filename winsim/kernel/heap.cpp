// The process heap of the simulation; see heap.h for what is modelled. Blocks come from malloc with a
// header in front that tells HeapFree and HeapSize a block that HeapAlloc handed out from anything else.
#include "winsim/control/kernel.h"
#include "winsim/core/entry.h"
#include "winsim/core/malloc_containers.h"
#include "winsim/kernel/heap.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace winsim_detail;

namespace {

// A heap block is preceded by this header; its 32 bytes keep the user block 16-byte aligned, as Windows
// aligns heap blocks on 64-bit systems. The host's allocator writes its own bookkeeping into the first
// 16 bytes of a freed block, so the tag lies after them and still tells a freed block after free().
struct HeapBlockHeader {
    uint64_t hostBookkeeping[2];
    uint64_t tag;  // liveTag ^ address of the header while allocated, freedTag afterwards
    uint64_t size; // as requested
};
static_assert(sizeof(HeapBlockHeader) % 16 == 0, "heap blocks stay 16-byte aligned");

constexpr uint64_t kLiveTag = 0x5EA9B10C4A11C0DEull;
constexpr uint64_t kFreedTag = 0xF7EEDB10C4F7EEDBull;
// The process heap's handle: an address that is never a real object, as Windows heap handles are opaque.
HANDLE const kProcessHeap = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x5EA90000));
// Windows refuses heap requests above this size (it is not a modelled limit of the host).
constexpr SIZE_T kLargestHeapRequest = static_cast<SIZE_T>(0x7FFFFFFFFFFFF000ull);

std::atomic<size_t> liveHeapBlocks{0};

// Blocks whose release a test refused: they stay the heap's, as they would on Windows, and stay reachable
// from here, so that the host's leak checker does not count them against the code that let them go. Built
// on first use and never destroyed, like the simulation's other state.
SimVector<HeapBlockHeader*>& RefusedBlocks() {
    static auto* blocks =
        new (std::malloc(sizeof(SimVector<HeapBlockHeader*>))) SimVector<HeapBlockHeader*>();
    return *blocks;
}

[[noreturn]] void HeapFault(const char* function, const void* block, const char* what) {
    std::fprintf(stderr, "winsim: %s(%p): %s; Windows would report a corrupted heap here.\n", function, block,
                 what);
    std::abort();
}

void CheckProcessHeap(const char* function, HANDLE heap) {
    if (heap != kProcessHeap) {
        std::fprintf(stderr, "winsim: %s on heap %p, which is not the process heap.\n", function, heap);
        std::abort();
    }
}

HeapBlockHeader* LiveHeader(const char* function, LPCVOID block) {
    if (reinterpret_cast<ULONG_PTR>(block) % 16 != 0) {
        HeapFault(function, block, "not a block that HeapAlloc handed out");
    }
    auto* header = reinterpret_cast<HeapBlockHeader*>(const_cast<BYTE*>(static_cast<const BYTE*>(block))) - 1;
    if (header->tag == kFreedTag) {
        HeapFault(function, block, "the block has been freed already");
    }
    if (header->tag != (kLiveTag ^ reinterpret_cast<uint64_t>(header))) {
        HeapFault(function, block, "not a block that HeapAlloc handed out");
    }
    return header;
}

} // namespace

namespace winsim {

size_t HeapBlockCount() {
    return liveHeapBlocks.load();
}

} // namespace winsim

HANDLE WINAPI GetProcessHeap() {
    return kProcessHeap;
}

LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
    PlatformCall call("HeapAlloc");
    CheckProcessHeap("HeapAlloc", hHeap);
    DWORD injected = 0;
    if (call.Fails(&injected) || dwBytes > kLargestHeapRequest) {
        return nullptr;
    }
    size_t total = sizeof(HeapBlockHeader) + (dwBytes == 0 ? 1 : dwBytes);
    void* memory = (dwFlags & HEAP_ZERO_MEMORY) != 0 ? std::calloc(1, total) : std::malloc(total);
    if (memory == nullptr) {
        return nullptr;
    }
    auto* header = static_cast<HeapBlockHeader*>(memory);
    header->tag = kLiveTag ^ reinterpret_cast<uint64_t>(header);
    header->size = dwBytes;
    ++liveHeapBlocks;
    return header + 1;
}

BOOL WINAPI HeapFree(HANDLE hHeap, DWORD, LPVOID lpMem) {
    PlatformCall call("HeapFree");
    CheckProcessHeap("HeapFree", hHeap);
    if (call.FailsWithLastError()) {
        if (lpMem != nullptr) {
            RefusedBlocks().push_back(LiveHeader("HeapFree", lpMem));
        }
        return FALSE;
    }
    if (lpMem == nullptr) {
        return TRUE;
    }
    HeapBlockHeader* header = LiveHeader("HeapFree", lpMem);
    auto& refused = RefusedBlocks();
    refused.erase(std::remove(refused.begin(), refused.end(), header), refused.end());
    header->tag = kFreedTag;
    --liveHeapBlocks;
    std::free(header);
    return TRUE;
}

SIZE_T WINAPI HeapSize(HANDLE hHeap, DWORD, LPCVOID lpMem) {
    PlatformCall call("HeapSize");
    CheckProcessHeap("HeapSize", hHeap);
    if (lpMem == nullptr) {
        return static_cast<SIZE_T>(-1);
    }
    return static_cast<SIZE_T>(LiveHeader("HeapSize", lpMem)->size);
}
