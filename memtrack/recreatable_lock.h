// A critical section that is set up on first use by whichever thread comes first, and may be deleted and
// set up again later. The module is loaded and unloaded many times in one process, and a critical section
// left initialised at unload stays behind, so the tracker's locks are deleted at the collector's teardown;
// records and list updates that still arrive after it set them up again. A one-time initialisation cannot
// be run again after a deletion, and a critical section cannot guard its own set-up: a gate does.
//
// The lock knows the thread that holds it and how deep, so that a holder may enter it again and may ask
// for its deletion while still holding it (retire): its outermost leave deletes it then.
#pragma once

#include "platform/platform.h"

#include <atomic>

class RecreatableLock {
  public:
    // Constant: module-wide locks are used before the module's static objects are built.
    constexpr RecreatableLock() noexcept {}
    RecreatableLock(const RecreatableLock&) = delete;
    RecreatableLock& operator=(const RecreatableLock&) = delete;

    // The critical section is initialised and not yet deleted.
    bool ready() const { return isReady.load(); }

    // Initialises the critical section unless it is ready. Threads that need it first at the same time
    // initialise it once.
    void setUp() {
        if (isReady.load()) {
            return;
        }
        while (gate.exchange(true)) {
            // Another thread is initialising the lock; it takes a few instructions.
        }
        if (!isReady.load()) {
            InitializeCriticalSection(&section);
            isReady.store(true);
        }
        gate.store(false);
    }

    // Deletes the critical section when it is ready; true when it was. No thread may hold it.
    bool remove() {
        if (!isReady.load()) {
            return false;
        }
        DeleteCriticalSection(&section);
        isReady.store(false);
        return true;
    }

    // Sets the lock up if needed and enters it; its holder may enter it again.
    void enter() {
        setUp();
        EnterCriticalSection(&section);
        holdingThread.store(GetCurrentThreadId());
        ++holdingDepth;
    }

    void leave() {
        bool outermost = --holdingDepth == 0;
        bool deleting = outermost && deleteWhenLeft;
        if (outermost) {
            holdingThread.store(0);
            deleteWhenLeft = false;
        }
        LeaveCriticalSection(&section);
        if (deleting) {
            remove();
        }
    }

    // Deletes the lock; when the calling thread holds it, its outermost leave deletes it. Only where no
    // other thread can use the lock: at the collector's teardown and after it, while the module is being
    // unloaded.
    void retire() {
        if (holdingThread.load() == GetCurrentThreadId()) {
            deleteWhenLeft = true;
            return;
        }
        remove();
    }

  private:
    CRITICAL_SECTION section{};
    std::atomic<bool> isReady{false};
    // Held by the one thread that initialises the critical section; the others wait for it.
    std::atomic<bool> gate{false};
    // The thread that holds the lock, and how deep; written by that thread only, while it holds the lock.
    std::atomic<DWORD> holdingThread{0};
    unsigned holdingDepth = 0;
    // The holder asked for the lock's deletion: its outermost leave deletes it.
    bool deleteWhenLeft = false;
};

// Holds a lock for a scope.
class LockHolder {
  public:
    explicit LockHolder(RecreatableLock& held) : lock(held) { lock.enter(); }
    ~LockHolder() { lock.leave(); }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

  private:
    RecreatableLock& lock;
};
