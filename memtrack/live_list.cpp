#include "memtrack/live_list.h"

OVMemHdr* volatile liveHead = nullptr;
OVMemHdr* volatile liveTail = nullptr;
CRITICAL_SECTION collectorLock;
std::atomic<bool> collectorLockReady{false};
std::atomic<bool> collectorTornDown{true};
std::atomic<bool> teardownBannerPending{false};

namespace {

// Held by the one thread that initialises collectorLock; the others wait for it. A critical section
// cannot guard its own initialisation, and the lock can be deleted and set up again (a second collector),
// which a one-time initialisation cannot express.
volatile LONG collectorLockGate = 0;

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
    ensureCollectorLock();
    EnterCriticalSection(&collectorLock);
    return true;
}

} // namespace

void ensureCollectorLock() {
    if (collectorLockReady.load()) {
        return;
    }
    while (InterlockedCompareExchange(&collectorLockGate, 1, 0) != 0) {
        // Another thread is initialising the lock; it takes a few instructions.
    }
    if (!collectorLockReady.load()) {
        InitializeCriticalSection(&collectorLock);
        collectorLockReady.store(true);
    }
    InterlockedExchange(&collectorLockGate, 0);
}

bool deleteCollectorLock() {
    if (!collectorLockReady.load()) {
        return false;
    }
    DeleteCriticalSection(&collectorLock);
    collectorLockReady.store(false);
    return true;
}

void appendLiveBlock(OVMemHdr* header) {
    bool locked = enterListLock();
    link(header);
    if (locked) {
        LeaveCriticalSection(&collectorLock);
    }
}

bool unlinkLiveBlock(OVMemHdr* header) {
    bool locked = enterListLock();
    unlink(header);
    if (locked) {
        LeaveCriticalSection(&collectorLock);
    }
    return locked;
}
