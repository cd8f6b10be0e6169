#include "memtrack/record_writer_lock.h"

#include "platform/platform.h"

#include <atomic>

namespace {

// Set up by the first thread that writes a record, whichever it is and whenever that is (records can be
// written while the module's static objects are still being built). Deleted at the collector's teardown
// and after each release that follows it, and set up again by the next writer: the module is loaded and
// unloaded many times in one process, and a critical section left initialised at unload stays behind.
CRITICAL_SECTION recordWriterLock;
std::atomic<bool> recordWriterLockReady{false};
// Held by the one thread that initialises the lock; a critical section cannot guard its own set-up, and
// a one-time initialisation cannot be run again after the lock is deleted.
volatile LONG recordWriterLockGate = 0;

// The thread that holds the lock, and how deep; written by that thread only, while it holds the lock.
std::atomic<DWORD> holdingThread{0};
unsigned holdingDepth = 0;
// The holder asked for the lock's deletion: its outermost leave deletes it.
bool deleteWhenLeft = false;

void ensureRecordWriterLock() {
    if (recordWriterLockReady.load()) {
        return;
    }
    while (InterlockedCompareExchange(&recordWriterLockGate, 1, 0) != 0) {
        // Another thread is initialising the lock; it takes a few instructions.
    }
    if (!recordWriterLockReady.load()) {
        InitializeCriticalSection(&recordWriterLock);
        recordWriterLockReady.store(true);
    }
    InterlockedExchange(&recordWriterLockGate, 0);
}

void deleteRecordWriterLock() {
    DeleteCriticalSection(&recordWriterLock);
    recordWriterLockReady.store(false);
}

} // namespace

void enterRecordWriterLock() {
    ensureRecordWriterLock();
    EnterCriticalSection(&recordWriterLock);
    holdingThread.store(GetCurrentThreadId());
    ++holdingDepth;
}

void leaveRecordWriterLock() {
    bool outermost = --holdingDepth == 0;
    bool deleting = outermost && deleteWhenLeft;
    if (outermost) {
        holdingThread.store(0);
        deleteWhenLeft = false;
    }
    LeaveCriticalSection(&recordWriterLock);
    if (deleting) {
        deleteRecordWriterLock();
    }
}

void retireRecordWriterLock() {
    if (!recordWriterLockReady.load()) {
        return;
    }
    if (holdingThread.load() == GetCurrentThreadId()) {
        deleteWhenLeft = true;
        return;
    }
    deleteRecordWriterLock();
}
