// The live list's links, its lock's use, and the in-use dump's walk over it.
#include "memtrack/live_list.h"

#include "memtrack/debug_text.h"
#include "memtrack/leak_log.h"
#include "memtrack/symbols.h"

#include <cstdint>
#include <cstdlib>

OVMemHdr* volatile liveHead = nullptr;
OVMemHdr* volatile liveTail = nullptr;
RecreatableLock collectorLock;
std::atomic<bool> collectorTornDown{true};
std::atomic<bool> teardownBannerPending{false};

namespace {

// Room for the in-use dump's summary line with two 20-digit counts.
constexpr size_t summaryCapacity = 176;

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

// Enters collectorLock unless the collector has been torn down; true when it was entered.
bool enterListLock() {
    if (collectorTornDown.load()) {
        return false;
    }
    collectorLock.enter();
    return true;
}

} // namespace

void appendLiveBlock(OVMemHdr* header) {
    bool locked = enterListLock();
    link(header);
    if (locked) {
        collectorLock.leave();
    }
}

bool unlinkLiveBlock(OVMemHdr* header) {
    bool locked = enterListLock();
    unlink(header);
    if (locked) {
        collectorLock.leave();
    }
    return locked;
}

void dumpInUse() {
    breakIntoDebugger();
    // Without a collector the dump sets the list's lock up for itself, and deletes it again when done:
    // after the teardown nothing else would, and the module would be unloaded with it initialised.
    bool withoutCollector = collectorTornDown.load();
    {
        LockHolder list(collectorLock);
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
