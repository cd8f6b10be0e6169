// The list of live tracked blocks and its index, the state that says how they are guarded, and the in-use
// dump that lists them. The list runs through the prev and next fields of the block headers, in allocation
// order: new blocks join at the tail, any block can leave. The index holds what the tracker knows of each
// live block in the tracker's own working memory, so that a release finds its block, and the list its
// neighbours, without trusting memory that a stray write may have changed.
//
// While a collector is alive, collectorLock guards liveHead, liveTail, the links of every live header and
// the index, and is held for appending, taking a block off, and the in-use dump's walk only, never while
// block memory is obtained or freed or records of a release are written. Before the first collector and
// after its teardown (the module is being unloaded, on one thread) both are used without the lock.
#pragma once

#include "memtrack/call_stack.h"
#include "memtrack/mem_header.h"
#include "memtrack/recreatable_lock.h"

#include <atomic>
#include <cstdint>

// First and last live block; both none when the list is empty.
extern OVMemHdr* volatile liveHead;
extern OVMemHdr* volatile liveTail;

// What the tracker knows of a live block. Its header lies right before userPtr.
struct LiveBlock {
    void* userPtr; // the key; none in an empty slot
    void* allocPtr;
    uint64_t size;
    void* caller;
    uint64_t tailGuardSize; // 0 when the block has no tail guard
    uint64_t alignment;     // of the user block
    uint64_t sequence;      // strictly increasing in list order
    CallStack* stack;       // owned by the entry, and by whoever takes the entry out; none without stacks
    uint32_t id;
    int16_t source;    // BlockSource
    int16_t allocKind; // AllocKind
};

inline OVMemHdr* headerOf(const LiveBlock& block) {
    return reinterpret_cast<OVMemHdr*>(static_cast<uint8_t*>(block.userPtr) - headerSize);
}

// The live index: a table of LiveBlock slots keyed by the user pointer (open addressing, linear probing,
// at most half full), on the run-time heap. Empty, without storage, until the first block joins.
struct LiveIndex {
    LiveBlock* slots;
    uint64_t capacity; // a power of two, or 0
    uint64_t count;
    uint64_t nextSequence;
};
extern LiveIndex liveIndex;

// Set up by the collector with tracking on and deleted at its teardown.
extern RecreatableLock collectorLock;
// No collector is alive: true at load, cleared by every collector construction, set again by the teardown
// of a collector that had set up the lock. While set, the list takes no lock and every release is
// reported as a release after teardown.
extern std::atomic<bool> collectorTornDown;
// The opening banner of the releases after teardown is still to be written.
extern std::atomic<bool> teardownBannerPending;

// Enters the header's block into the index, as the header describes it with `alignment` and its call
// stack (or none), and appends it at the tail of the list; under collectorLock unless the collector has
// been torn down. False, with nothing entered or linked and the stack still the caller's, when the index
// cannot grow for it.
bool appendLiveBlock(OVMemHdr* header, uint64_t alignment, CallStack* stack);

// The call stack that the index holds for a live header, or none. Under collectorLock unless torn down.
const CallStack* liveStackOf(const OVMemHdr* header);

// What a release finds in the index for its pointer.
enum LiveRelease {
    LiveReleaseForeign,   // not a live block of this module; nothing was touched
    LiveReleaseOtherKind, // a live block made for the other form of delete; it stays live
    LiveReleaseTaken,     // the block has left the index and the list
};

// A release's look-up, under collectorLock unless the collector has been torn down: a live block whose
// allocation kind is `kind` leaves the index and is unlinked. When its header's own links do not agree
// with the list, the list is rebuilt from the index instead, in append order. `found` receives the index's
// entry unless the pointer is foreign; `afterTeardown` whether the lock was not taken. The index's storage
// is freed when a release after the teardown empties it.
LiveRelease takeLiveBlock(const void* userPtr, int32_t kind, LiveBlock* found, bool* afterTeardown);

// Rebuilds the list from the index unless following its links from liveHead visits exactly the indexed
// blocks in append order. Called before every walk of the list, under collectorLock unless torn down.
void repairLiveList();

// Frees the index's storage and the stacks of the blocks in it, and forgets every block; the list is left
// as it is. The collector's
// teardown calls it when the list is empty, as a release after the teardown does when it empties it.
void freeLiveIndex();

// The in-use dump: lists every live block on the debugger output, one "MemoryInUse" record each, and a
// summary line with their count and total size, so that a developer sees what was live when an allocation
// failed for the first time, when an allocation reached breakOnAllocId, or when pages could not be
// released. It stops in the debugger first when one is attached. Nothing goes to the log files.
//
// It takes collectorLock (setting it up if needed) and then the record writer lock for its whole walk:
// never call it while holding either. Without a collector (after its teardown) it deletes both when done.
void dumpInUse();
