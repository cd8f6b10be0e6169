// The list of live tracked blocks, the state that says how it is guarded, and the in-use dump that lists
// it. The list runs through the prev and next fields of the block headers, in allocation order: new blocks
// join at the tail, any block can leave.
//
// While a collector is alive, collectorLock guards liveHead, liveTail and the links of every live header,
// and is held for appending, unlinking and the in-use dump's walk only, never while memory is obtained or
// freed or records of a release are written. Before the first collector and after its teardown (the
// module is being unloaded, on one thread) the list is used without the lock.
#pragma once

#include "memtrack/mem_header.h"
#include "memtrack/recreatable_lock.h"

#include <atomic>

// First and last live block; both none when the list is empty.
extern OVMemHdr* volatile liveHead;
extern OVMemHdr* volatile liveTail;

// Set up by the collector with tracking on and deleted at its teardown.
extern RecreatableLock collectorLock;
// No collector is alive: true at load, cleared by every collector construction, set again by the teardown
// of a collector that had set up the lock. While set, the list takes no lock and every release is
// reported as a release after teardown.
extern std::atomic<bool> collectorTornDown;
// The opening banner of the releases after teardown is still to be written.
extern std::atomic<bool> teardownBannerPending;

// Appends the header at the tail; under collectorLock unless the collector has been torn down.
void appendLiveBlock(OVMemHdr* header);
// Unlinks the header, leaving its own links as they are; under collectorLock unless the collector has been
// torn down. True when the lock was taken, false for a release after teardown.
bool unlinkLiveBlock(OVMemHdr* header);

// The in-use dump: lists every live block on the debugger output, one "MemoryInUse" record each, and a
// summary line with their count and total size, so that a developer sees what was live when an allocation
// failed for the first time, when an allocation reached breakOnAllocId, or when pages could not be
// released. It stops in the debugger first when one is attached. Nothing goes to the log files.
//
// It takes collectorLock (setting it up if needed) and then the record writer lock for its whole walk:
// never call it while holding either. Without a collector (after its teardown) it deletes both when done.
void dumpInUse();
