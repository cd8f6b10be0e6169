// Critical sections, one-time initialisation and interlocked operations of the simulation; see
// synchronization.h for what is modelled. Waiting is a yield loop: the locks of this system are held for a
// few instructions, and a wait that never ends shows up as a test that does not finish. None of this
// takes the world lock, so a thread that waits here never blocks the rest of the simulation.
#include "winsim/kernel/synchronization.h"

#include "winsim/control/kernel.h"
#include "winsim/kernel/threads.h"

#include <sched.h>

#include <cstdio>
#include <cstdlib>

namespace {

// The DebugInfo of an initialised section: the address of this object. Any other value (zero-filled
// storage, a deleted section) is a section that must not be used.
struct CriticalSectionMarker {
    char unused;
} initialisedMarker;

PRTL_CRITICAL_SECTION_DEBUG InitialisedMarker() {
    return reinterpret_cast<PRTL_CRITICAL_SECTION_DEBUG>(&initialisedMarker);
}

// What a deleted section's DebugInfo holds, to tell "deleted" from "never initialised" in messages.
PRTL_CRITICAL_SECTION_DEBUG DeletedMarker() {
    return reinterpret_cast<PRTL_CRITICAL_SECTION_DEBUG>(static_cast<ULONG_PTR>(0xDE1E7EDull));
}

[[noreturn]] void Misuse(const char* function, const void* object, const char* what) {
    std::fprintf(stderr, "winsim: %s(%p): %s.\n", function, object, what);
    std::abort();
}

void CheckInitialised(const char* function, LPCRITICAL_SECTION section) {
    if (section == nullptr) {
        Misuse(function, section, "null critical section");
    }
    PRTL_CRITICAL_SECTION_DEBUG marker = __atomic_load_n(&section->DebugInfo, __ATOMIC_ACQUIRE);
    if (marker == DeletedMarker()) {
        Misuse(function, section, "the critical section has been deleted");
    }
    if (marker != InitialisedMarker()) {
        Misuse(function, section, "the critical section was never initialised");
    }
}

// Sections initialised and not yet deleted, process-wide.
size_t initialisedSections = 0;

HANDLE ThreadToken(DWORD thread) {
    return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(thread));
}

// InitOnce states in Ptr: 0 = not run; running = (thread id << 2) | 1; done = context | 2.
constexpr ULONG_PTR kRunning = 1;
constexpr ULONG_PTR kDone = 2;
constexpr ULONG_PTR kStateBits = 3;

} // namespace

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    if (lpCriticalSection == nullptr) {
        Misuse("InitializeCriticalSection", lpCriticalSection, "null critical section");
    }
    if (__atomic_load_n(&lpCriticalSection->DebugInfo, __ATOMIC_ACQUIRE) != InitialisedMarker()) {
        __atomic_add_fetch(&initialisedSections, 1, __ATOMIC_SEQ_CST);
    }
    lpCriticalSection->LockCount = -1;
    lpCriticalSection->RecursionCount = 0;
    lpCriticalSection->OwningThread = nullptr;
    lpCriticalSection->LockSemaphore = nullptr;
    lpCriticalSection->SpinCount = 0;
    __atomic_store_n(&lpCriticalSection->DebugInfo, InitialisedMarker(), __ATOMIC_RELEASE);
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    CheckInitialised("EnterCriticalSection", lpCriticalSection);
    HANDLE self = ThreadToken(GetCurrentThreadId());
    if (__atomic_load_n(&lpCriticalSection->OwningThread, __ATOMIC_RELAXED) == self) {
        ++lpCriticalSection->RecursionCount;
        return;
    }
    __atomic_add_fetch(&lpCriticalSection->LockCount, 1, __ATOMIC_SEQ_CST);
    for (;;) {
        HANDLE expected = nullptr;
        if (__atomic_compare_exchange_n(&lpCriticalSection->OwningThread, &expected, self, false,
                                        __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
            break;
        }
        sched_yield();
    }
    lpCriticalSection->RecursionCount = 1;
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    CheckInitialised("LeaveCriticalSection", lpCriticalSection);
    HANDLE self = ThreadToken(GetCurrentThreadId());
    if (__atomic_load_n(&lpCriticalSection->OwningThread, __ATOMIC_RELAXED) != self ||
        lpCriticalSection->RecursionCount <= 0) {
        Misuse("LeaveCriticalSection", lpCriticalSection,
               "the calling thread does not own the critical section");
    }
    if (--lpCriticalSection->RecursionCount == 0) {
        __atomic_sub_fetch(&lpCriticalSection->LockCount, 1, __ATOMIC_SEQ_CST);
        __atomic_store_n(&lpCriticalSection->OwningThread, nullptr, __ATOMIC_RELEASE);
    }
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    CheckInitialised("DeleteCriticalSection", lpCriticalSection);
    if (__atomic_load_n(&lpCriticalSection->OwningThread, __ATOMIC_ACQUIRE) != nullptr) {
        Misuse("DeleteCriticalSection", lpCriticalSection, "the critical section is still owned");
    }
    __atomic_store_n(&lpCriticalSection->DebugInfo, DeletedMarker(), __ATOMIC_RELEASE);
    __atomic_sub_fetch(&initialisedSections, 1, __ATOMIC_SEQ_CST);
}

size_t winsim::InitialisedCriticalSectionCount() {
    return __atomic_load_n(&initialisedSections, __ATOMIC_SEQ_CST);
}

BOOL WINAPI InitOnceExecuteOnce(PINIT_ONCE InitOnce, PINIT_ONCE_FN InitFn, PVOID Parameter, LPVOID* Context) {
    if (InitOnce == nullptr || InitFn == nullptr) {
        Misuse("InitOnceExecuteOnce", InitOnce, "null init-once structure or callback");
    }
    auto* state = reinterpret_cast<ULONG_PTR*>(&InitOnce->Ptr);
    const ULONG_PTR running = (static_cast<ULONG_PTR>(GetCurrentThreadId()) << 2) | kRunning;
    for (;;) {
        ULONG_PTR seen = __atomic_load_n(state, __ATOMIC_ACQUIRE);
        if ((seen & kStateBits) == kDone) {
            if (Context != nullptr) {
                *Context = reinterpret_cast<LPVOID>(seen & ~kStateBits);
            }
            return TRUE;
        }
        if ((seen & kStateBits) == kRunning) {
            if (seen == running) {
                Misuse("InitOnceExecuteOnce", InitOnce,
                       "re-entered by the thread that runs its callback, which deadlocks on Windows");
            }
            sched_yield();
            continue;
        }
        ULONG_PTR expected = 0;
        if (!__atomic_compare_exchange_n(state, &expected, running, false, __ATOMIC_ACQUIRE,
                                         __ATOMIC_RELAXED)) {
            continue;
        }
        PVOID produced = nullptr;
        if (!InitFn(InitOnce, Parameter, &produced)) {
            __atomic_store_n(state, static_cast<ULONG_PTR>(0), __ATOMIC_RELEASE);
            return FALSE;
        }
        ULONG_PTR context = reinterpret_cast<ULONG_PTR>(produced);
        if ((context & kStateBits) != 0) {
            Misuse("InitOnceExecuteOnce", InitOnce, "the callback's context has one of its two low bits set");
        }
        __atomic_store_n(state, context | kDone, __ATOMIC_RELEASE);
        if (Context != nullptr) {
            *Context = produced;
        }
        return TRUE;
    }
}

LONG WINAPI InterlockedIncrement(LONG volatile* Addend) {
    return __atomic_add_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedDecrement(LONG volatile* Addend) {
    return __atomic_sub_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedExchange(LONG volatile* Target, LONG Value) {
    return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedCompareExchange(LONG volatile* Destination, LONG Exchange, LONG Comperand) {
    __atomic_compare_exchange_n(Destination, &Comperand, Exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return Comperand;
}

PVOID WINAPI InterlockedCompareExchangePointer(PVOID volatile* Destination, PVOID Exchange, PVOID Comperand) {
    __atomic_compare_exchange_n(Destination, &Comperand, Exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return Comperand;
}
