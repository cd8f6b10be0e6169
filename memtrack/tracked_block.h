// Tracked blocks: the block allocators that build them, the release of their memory to where it came from,
// and the module-wide counters and flags of the allocators (touched outside any lock).
#pragma once

#include "memtrack/mem_header.h"
#include "platform/platform.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

// The id of the last block built; the next block gets the next value, skipping 0 when the counter wraps
// (no block has id 0). Advanced atomically, so that threads allocating at once receive different ids, and
// only for blocks actually built.
extern volatile ULONG allocCounter;
// The system page size; 1 until the system has been asked. Two threads may both ask and store the
// same answer.
extern std::atomic<uint64_t> pageSize;
// Set by the first failure of the heap, and of the page, allocation: only the first runs the in-use dump.
extern volatile LONG heapFailureSeen;
extern volatile LONG pageFailureSeen;

// The block allocators. An allocator object builds one tracked block and afterwards refers to it; it never
// owns the block, and destroying it frees only the object. One object serves one tracked operation and
// lives on the run-time heap (its own operator new and delete), never on the module's hooks.
//
// The virtual operations keep this slot order; OVMemBlockVirtualAlloc replaces Allocate only.

class OVMemBlock {
  public:
    OVMemBlock() = default;
    OVMemBlock(const OVMemBlock&) = delete;
    OVMemBlock& operator=(const OVMemBlock&) = delete;

    // The header's id and size; 0 without a header.
    virtual uint32_t GetId();
    virtual uint64_t GetSize();
    // Allocates through the virtual Allocate and records the caller in the new header. Returns the user
    // pointer or null.
    virtual void* AllocateWithCaller(uint64_t size, void* caller, HANDLE heap);
    // Builds a heap block: on `heap` (HEAP_ZERO_MEMORY) in modes 1 and 3 when a heap is given, otherwise
    // from malloc; guard zones in modes 3 and 4; the user block on this object's alignment; the lead-in
    // (between the base and the header) filled with the guard fill. Null for a size of 0 and when memory
    // cannot be had.
    virtual void* Allocate(uint64_t size, HANDLE heap);
    // Frees the underlying allocation of the block that userPtr belongs to.
    virtual void FreeUserPtr(void* userPtr);
    // Frees the underlying allocation of this object's block and forgets the header.
    virtual void Free();
    virtual void* GetUserPtr();
    // The header that userPtr belongs to: the 504 bytes before it, accepted only when their userPtr field
    // points back to it (a release clears it). Null otherwise. Reads memory before userPtr: give it only
    // pointers that the module's hooks handed out. (A release finds its block through the live index.)
    virtual OVMemHdr* HeaderFromUserPtr(void* userPtr);
    virtual OVMemHdr* GetHeader();
    virtual ~OVMemBlock();

    // The alignment of the user blocks that this object builds: a power of two, 16 unless set higher.
    // Not virtual: the operations above keep their slots.
    void SetAlignment(uint64_t userBlockBoundary);

    // Allocator objects are the tracker's own working memory: run-time heap, null when exhausted.
    static void* operator new(size_t size) noexcept;
    static void operator delete(void* object) noexcept;

  protected:
    // Fills the header fields common to both allocators and makes this object refer to the block.
    void adoptBlock(OVMemHdr* newHeader, uint64_t size, BlockSource source, void* base, uintptr_t userBlock);

    OVMemHdr* header = nullptr;
    uint64_t alignment = userBlockAlignment;
};

// Page-guarded blocks (mode 2): the block's tail guard ends exactly where a trailing no-access page begins,
// so that a write running further than the guard faults at once.
class OVMemBlockVirtualAlloc : public OVMemBlock {
  public:
    // Null unless trackMode is 2. A size of 0 yields a block whose tail guard begins at the user pointer.
    // When pages cannot be had or protected, falls back to an unguarded block from malloc.
    void* Allocate(uint64_t size, HANDLE heap) override;
};

// Frees a block's underlying allocation by its source: HeapFree on trackHeap (nothing when there is no
// trackHeap), free, or VirtualFree of the pages. Pages that cannot be released run the in-use dump; an
// unknown source is refused with a notice naming the user block (a breakpoint trap when a debugger is
// attached) and frees nothing. False when nothing was freed.
bool freeBlockMemory(void* allocPtr, int32_t source, const void* userPtr);
// The same by the header's own fields.
bool freeBlockMemory(const OVMemHdr* header);
