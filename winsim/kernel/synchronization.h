// Critical sections, one-time initialisation and interlocked operations of the simulation (kernel32).
// Modelled: recursive critical sections that check their own use (entering one that was never
// initialised or has been deleted, leaving one the thread does not own, and deleting one that is held end
// the process with a message, where Windows would misbehave silently); InitOnceExecuteOnce with its
// failure and retry rule, and a re-entry on the thread that is running the callback, which deadlocks on
// Windows, ends the process with a message instead; full-barrier interlocked operations.
// Not modelled: spin counts, the asynchronous InitOnce functions, critical-section debug information.
// None of these functions allocates through operator new or takes the simulation's world lock.
#pragma once

#include "winsim/kernel/types.h"

typedef struct _RTL_CRITICAL_SECTION_DEBUG* PRTL_CRITICAL_SECTION_DEBUG;

typedef struct _RTL_CRITICAL_SECTION {
    PRTL_CRITICAL_SECTION_DEBUG DebugInfo;
    LONG LockCount;
    LONG RecursionCount;
    HANDLE OwningThread;
    HANDLE LockSemaphore;
    ULONG_PTR SpinCount;
} RTL_CRITICAL_SECTION, *PRTL_CRITICAL_SECTION;

typedef RTL_CRITICAL_SECTION CRITICAL_SECTION;
typedef PRTL_CRITICAL_SECTION PCRITICAL_SECTION;
typedef PRTL_CRITICAL_SECTION LPCRITICAL_SECTION;

typedef union _RTL_RUN_ONCE {
    PVOID Ptr;
} RTL_RUN_ONCE, *PRTL_RUN_ONCE;

typedef RTL_RUN_ONCE INIT_ONCE;
typedef PRTL_RUN_ONCE PINIT_ONCE;
typedef PRTL_RUN_ONCE LPINIT_ONCE;

#define INIT_ONCE_STATIC_INIT                                                                                \
    { 0 }

typedef BOOL(WINAPI* PINIT_ONCE_FN)(PINIT_ONCE InitOnce, PVOID Parameter, PVOID* Context);

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
// Waits while another thread owns the section; re-entry by the owner nests.
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

// Runs InitFn once: callers that arrive while it runs wait for it. When InitFn answers FALSE nothing is
// recorded, the call answers FALSE and the next call runs InitFn again. Context (optional) receives the
// context InitFn stored, whose two low bits must be clear.
BOOL WINAPI InitOnceExecuteOnce(PINIT_ONCE InitOnce, PINIT_ONCE_FN InitFn, PVOID Parameter, LPVOID* Context);

// Each returns the resulting value (Increment, Decrement) or the former value (Exchange, CompareExchange).
LONG WINAPI InterlockedIncrement(LONG volatile* Addend);
LONG WINAPI InterlockedDecrement(LONG volatile* Addend);
LONG WINAPI InterlockedExchange(LONG volatile* Target, LONG Value);
LONG WINAPI InterlockedCompareExchange(LONG volatile* Destination, LONG Exchange, LONG Comperand);
PVOID WINAPI InterlockedCompareExchangePointer(PVOID volatile* Destination, PVOID Exchange, PVOID Comperand);
