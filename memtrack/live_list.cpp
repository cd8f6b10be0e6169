// The live list's links, the index of its blocks, its lock's use, and the in-use dump's walk over it.
#include "memtrack/live_list.h"

#include "memtrack/debug_text.h"
#include "memtrack/leak_log.h"
#include "memtrack/record_details.h"
#include "memtrack/symbols.h"

#include <cstdint>
#include <cstdlib>

OVMemHdr* volatile liveHead = nullptr;
OVMemHdr* volatile liveTail = nullptr;
LiveIndex liveIndex = {};
RecreatableLock collectorLock;
std::atomic<bool> collectorTornDown{true};
std::atomic<bool> teardownBannerPending{false};

namespace {

// Room for the in-use dump's summary line with two 20-digit counts.
constexpr size_t summaryCapacity = 176;
// The first table: 4 KiB, 32 blocks before it grows.
constexpr uint64_t firstIndexCapacity = 64;

// The index. User pointers are multiples of 16; Fibonacci hashing spreads them over the table.

uint64_t homeSlot(const void* userPtr) {
    uint64_t key = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(userPtr)) >> 4;
    int shift = 64 - __builtin_ctzll(liveIndex.capacity);
    return (key * 0x9E3779B97F4A7C15ull) >> shift;
}

LiveBlock* findLiveBlock(const void* userPtr) {
    if (liveIndex.capacity == 0 || userPtr == nullptr) {
        return nullptr;
    }
    uint64_t mask = liveIndex.capacity - 1;
    for (uint64_t slot = homeSlot(userPtr);; slot = (slot + 1) & mask) {
        LiveBlock* candidate = &liveIndex.slots[slot];
        if (candidate->userPtr == userPtr) {
            return candidate;
        }
        if (candidate->userPtr == nullptr) {
            return nullptr;
        }
    }
}

// Places an entry whose key is not in the table; there is room.
void placeLiveBlock(const LiveBlock& block) {
    uint64_t mask = liveIndex.capacity - 1;
    uint64_t slot = homeSlot(block.userPtr);
    while (liveIndex.slots[slot].userPtr != nullptr) {
        slot = (slot + 1) & mask;
    }
    liveIndex.slots[slot] = block;
    ++liveIndex.count;
}

// Makes room for one entry more, doubling the table when it would be more than half full. False when the
// run-time heap cannot give the larger table; the index is then as it was.
bool reserveLiveSlot() {
    if ((liveIndex.count + 1) * 2 <= liveIndex.capacity) {
        return true;
    }
    uint64_t capacity = liveIndex.capacity == 0 ? firstIndexCapacity : liveIndex.capacity * 2;
    auto* slots = static_cast<LiveBlock*>(calloc(static_cast<size_t>(capacity), sizeof(LiveBlock)));
    if (slots == nullptr) {
        return false;
    }
    LiveIndex former = liveIndex;
    liveIndex.slots = slots;
    liveIndex.capacity = capacity;
    liveIndex.count = 0;
    for (uint64_t slot = 0; slot < former.capacity; ++slot) {
        if (former.slots[slot].userPtr != nullptr) {
            placeLiveBlock(former.slots[slot]);
        }
    }
    free(former.slots);
    return true;
}

// Empties a slot, moving later entries of its probe run back so that every entry stays reachable from its
// home slot.
void eraseLiveBlock(LiveBlock* erased) {
    uint64_t mask = liveIndex.capacity - 1;
    uint64_t hole = static_cast<uint64_t>(erased - liveIndex.slots);
    for (uint64_t slot = (hole + 1) & mask; liveIndex.slots[slot].userPtr != nullptr;
         slot = (slot + 1) & mask) {
        uint64_t home = homeSlot(liveIndex.slots[slot].userPtr);
        if (((slot - home) & mask) >= ((slot - hole) & mask)) {
            liveIndex.slots[hole] = liveIndex.slots[slot];
            hole = slot;
        }
    }
    liveIndex.slots[hole] = LiveBlock{};
    --liveIndex.count;
}

// The index's entry for a header pointer found in a link, which may be anything; none unless it is the
// header of a live block.
const LiveBlock* knownHeader(const OVMemHdr* header) {
    if (header == nullptr) {
        return nullptr;
    }
    uintptr_t userBlock = reinterpret_cast<uintptr_t>(header) + headerSize;
    return findLiveBlock(reinterpret_cast<const void*>(userBlock));
}

uint64_t sequenceOf(const OVMemHdr* header) {
    return knownHeader(header)->sequence;
}

// The list.

void link(OVMemHdr* header) {
    if (liveHead == nullptr) {
        header->prev = nullptr;
        header->next = nullptr;
        liveHead = header;
    } else {
        liveTail->next = header;
        header->prev = liveTail;
        header->next = nullptr;
    }
    liveTail = header;
}

void unlink(OVMemHdr* header) {
    if (header == liveHead) {
        // The new head keeps its prev link: the head's prev is never followed.
        liveHead = header->next;
        if (liveHead == nullptr) {
            liveTail = nullptr;
        }
        return;
    }
    OVMemHdr* previous = header->prev;
    if (header->next != nullptr) {
        header->next->prev = previous;
        previous->next = header->next;
    } else {
        previous->next = nullptr;
        liveTail = previous;
    }
}

// Whether the links of a header that has just left the index still place it in the list: each neighbour
// is a live header that points back at it, or the header is the list's end on that side.
bool linksAgree(const OVMemHdr* header) {
    const OVMemHdr* previous = header->prev;
    const OVMemHdr* next = header->next;
    bool previousAgrees =
        header == liveHead || (knownHeader(previous) != nullptr && previous->next == header);
    bool nextAgrees =
        header == liveTail ? next == nullptr : knownHeader(next) != nullptr && next->prev == header;
    return previousAgrees && nextAgrees;
}

// Merges two chains (through next) that are each in append order.
OVMemHdr* mergeInAppendOrder(OVMemHdr* left, OVMemHdr* right) {
    OVMemHdr* merged = nullptr;
    OVMemHdr** end = &merged;
    while (left != nullptr && right != nullptr) {
        OVMemHdr** taken = sequenceOf(left) < sequenceOf(right) ? &left : &right;
        *end = *taken;
        end = &(*taken)->next;
        *taken = (*taken)->next;
    }
    *end = left != nullptr ? left : right;
    return merged;
}

// Sorts the first `count` headers of the chain at *chain into append order (a merge sort through the
// headers' own next fields, which needs no memory), leaving *chain at the header after them.
OVMemHdr* sortInAppendOrder(OVMemHdr** chain, uint64_t count) {
    if (count == 1) {
        OVMemHdr* single = *chain;
        *chain = single->next;
        single->next = nullptr;
        return single;
    }
    OVMemHdr* left = sortInAppendOrder(chain, count / 2);
    OVMemHdr* right = sortInAppendOrder(chain, count - count / 2);
    return mergeInAppendOrder(left, right);
}

// Links every indexed block anew, in append order. Only the index is trusted: every header's links are
// written, none is read before it was written here.
void rebuildLiveList() {
    OVMemHdr* chain = nullptr;
    for (uint64_t slot = 0; slot < liveIndex.capacity; ++slot) {
        if (liveIndex.slots[slot].userPtr != nullptr) {
            OVMemHdr* header = headerOf(liveIndex.slots[slot]);
            header->next = chain;
            chain = header;
        }
    }
    OVMemHdr* previous = nullptr;
    OVMemHdr* header = liveIndex.count != 0 ? sortInAppendOrder(&chain, liveIndex.count) : nullptr;
    liveHead = header;
    for (; header != nullptr; header = header->next) {
        header->prev = previous;
        previous = header;
    }
    liveTail = previous;
}

// Whether following next from liveHead visits exactly the indexed blocks, each once, in append order,
// with prev links that lead back.
bool listMatchesIndex() {
    uint64_t visited = 0;
    const OVMemHdr* previous = nullptr;
    uint64_t previousSequence = 0;
    for (const OVMemHdr* header = liveHead; header != nullptr; header = header->next) {
        const LiveBlock* block = knownHeader(header);
        if (block == nullptr || visited == liveIndex.count ||
            (visited != 0 && (block->sequence <= previousSequence || header->prev != previous))) {
            return false;
        }
        previous = header;
        previousSequence = block->sequence;
        ++visited;
    }
    return visited == liveIndex.count && previous == liveTail;
}

// Enters collectorLock unless the collector has been torn down; true when it was entered.
bool enterListLock() {
    if (collectorTornDown.load()) {
        return false;
    }
    collectorLock.enter();
    return true;
}

} // namespace

bool appendLiveBlock(OVMemHdr* header, uint64_t alignment, CallStack* stack) {
    bool locked = enterListLock();
    bool entered = reserveLiveSlot();
    if (entered) {
        LiveBlock block = {};
        block.userPtr = header->userPtr;
        block.allocPtr = header->allocPtr;
        block.size = header->size;
        block.caller = header->caller;
        block.tailGuardSize = header->tailGuardSize;
        block.alignment = alignment;
        block.sequence = liveIndex.nextSequence++;
        block.id = header->id;
        block.source = static_cast<int16_t>(header->source);
        block.allocKind = static_cast<int16_t>(header->allocKind);
        block.stack = stack;
        placeLiveBlock(block);
        link(header);
    }
    if (locked) {
        collectorLock.leave();
    }
    return entered;
}

LiveRelease takeLiveBlock(const void* userPtr, int32_t kind, LiveBlock* found, bool* afterTeardown) {
    bool locked = enterListLock();
    LiveRelease result = LiveReleaseForeign;
    LiveBlock* block = findLiveBlock(userPtr);
    if (block != nullptr && block->allocKind != kind) {
        *found = *block;
        result = LiveReleaseOtherKind;
    } else if (block != nullptr) {
        *found = *block;
        result = LiveReleaseTaken;
        eraseLiveBlock(block);
        OVMemHdr* header = headerOf(*found);
        if (linksAgree(header)) {
            unlink(header);
        } else {
            rebuildLiveList();
        }
    }
    if (locked) {
        collectorLock.leave();
    } else if (liveIndex.count == 0) {
        freeLiveIndex();
    }
    *afterTeardown = !locked;
    return result;
}

void repairLiveList() {
    if (!listMatchesIndex()) {
        rebuildLiveList();
    }
}

const CallStack* liveStackOf(const OVMemHdr* header) {
    const LiveBlock* block = knownHeader(header);
    return block != nullptr ? block->stack : nullptr;
}

void freeLiveIndex() {
    for (uint64_t slot = 0; slot < liveIndex.capacity; ++slot) {
        freeCallStack(liveIndex.slots[slot].stack);
    }
    free(liveIndex.slots);
    liveIndex = LiveIndex{};
}

void dumpInUse() {
    breakIntoDebugger();
    // Without a collector the dump sets the list's lock up for itself, and deletes it again when done:
    // after the teardown nothing else would, and the module would be unloaded with it initialised.
    bool withoutCollector = collectorTornDown.load();
    {
        LockHolder list(collectorLock);
        repairLiveList();
        // The records of one dump stay together, and the module path taken once stays valid for all.
        RecordWriterLockHolder writers;
        const char* modulePath = liveHead != nullptr ? moduleNameForAddress(liveHead->caller) : nullptr;
        unsigned long long count = 0;
        unsigned long long total = 0;
        for (const OVMemHdr* header = liveHead; header != nullptr; header = header->next) {
            ++count;
            total += header->size;
            char* line = formatBlockRecord(modulePath, header, MemoryInUseRecord);
            if (line != nullptr) {
                writeDebugString(line);
                free(line);
                char* details = formatRecordDetails(header, liveStackOf(header), 0);
                writeReportLines(details, false);
                free(details);
            }
        }
        char summary[summaryCapacity] = {};
        if (formatBounded(summary, sizeof summary, "%llu allocations active, consuming %llu bytes\r\n", count,
                          total)) {
            writeDebugString(summary);
        }
    }
    if (withoutCollector) {
        collectorLock.remove();
        recordWriterLock.retire();
    }
}
