#include "memtrack/live_list.h"

OVMemHdr* volatile liveHead = nullptr;
OVMemHdr* volatile liveTail = nullptr;
RecreatableLock collectorLock;
std::atomic<bool> collectorTornDown{true};
std::atomic<bool> teardownBannerPending{false};

namespace {

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
