// Thread behaviour the concurrency checks rely on: CreateThread runs its routine on a thread of its own
// with the id it reports, WaitForSingleObject on the handle waits for the routine's end or times out,
// GetExitCodeThread tells the routine's result or STILL_ACTIVE, and a closed handle leaves its thread
// running. Critical sections exclude the threads from each other.
#include "conformance.h"

namespace {

const HANDLE kBogusHandle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x1234));

struct Probe {
    DWORD seenThreadId = 0;
    LPVOID seenParameter = nullptr;
};

DWORD WINAPI RecordItself(LPVOID parameter) {
    auto* probe = static_cast<Probe*>(parameter);
    probe->seenThreadId = GetCurrentThreadId();
    probe->seenParameter = parameter;
    return 0x1234ABCD;
}

// Waits for the section that the starting thread holds, then counts itself done.
struct Gate {
    CRITICAL_SECTION section;
    volatile LONG passed = 0;
};

DWORD WINAPI PassTheGate(LPVOID parameter) {
    auto* gate = static_cast<Gate*>(parameter);
    EnterCriticalSection(&gate->section);
    LeaveCriticalSection(&gate->section);
    InterlockedIncrement(&gate->passed);
    return 7;
}

struct SharedCounter {
    CRITICAL_SECTION section;
    long value = 0;
};

constexpr int kCountingThreads = 8;
constexpr int kIncrementsPerThread = 2000;

DWORD WINAPI CountUnderTheSection(LPVOID parameter) {
    auto* counter = static_cast<SharedCounter*>(parameter);
    for (int i = 0; i < kIncrementsPerThread; ++i) {
        EnterCriticalSection(&counter->section);
        const long seen = counter->value;
        counter->value = seen + 1;
        LeaveCriticalSection(&counter->section);
    }
    return 0;
}

} // namespace

TEST_F(ConformanceCheck, CreatedThreadRunsItsRoutineAndItsHandleTellsTheResult) {
    world.Clear();
    Probe probe;
    DWORD reportedId = 0;
    HANDLE thread = CreateThread(nullptr, 0, RecordItself, &probe, 0, &reportedId);
    ASSERT_TRUE(thread != nullptr) << Formatted("CreateThread failed with error %lu",
                                                static_cast<unsigned long>(GetLastError()));
    const DWORD waited = WaitForSingleObject(thread, INFINITE);
    EXPECT_TRUE(waited == WAIT_OBJECT_0)
        << Formatted("expected WAIT_OBJECT_0, got %#lx", static_cast<unsigned long>(waited));
    EXPECT_TRUE(probe.seenParameter == &probe) << Formatted("the routine got parameter %p, expected %p",
                                                            probe.seenParameter, static_cast<void*>(&probe));
    EXPECT_TRUE(probe.seenThreadId == reportedId && reportedId != 0)
        << Formatted("the routine ran on thread %lu, CreateThread reported %lu",
                     static_cast<unsigned long>(probe.seenThreadId), static_cast<unsigned long>(reportedId));
    EXPECT_TRUE(reportedId != GetCurrentThreadId())
        << Formatted("the routine ran on the creating thread %lu", static_cast<unsigned long>(reportedId));
    DWORD exitCode = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &exitCode) && exitCode == 0x1234ABCD)
        << Formatted("expected exit code 0x1234abcd, got %#lx (error %lu)",
                     static_cast<unsigned long>(exitCode), static_cast<unsigned long>(GetLastError()));
    EXPECT_TRUE(CloseHandle(thread)) << Formatted("CloseHandle of the thread failed with error %lu",
                                                  static_cast<unsigned long>(GetLastError()));
}

TEST_F(ConformanceCheck, WaitTimesOutWhileTheThreadRunsAndAClosedHandleLeavesItRunning) {
    world.Clear();
    Gate gate;
    InitializeCriticalSection(&gate.section);
    EnterCriticalSection(&gate.section);
    HANDLE thread = CreateThread(nullptr, 0, PassTheGate, &gate, 0, nullptr);
    EXPECT_TRUE(thread != nullptr) << Formatted("CreateThread failed with error %lu",
                                                static_cast<unsigned long>(GetLastError()));
    if (thread == nullptr) {
        LeaveCriticalSection(&gate.section);
        DeleteCriticalSection(&gate.section);
        return;
    }
    const DWORD waited = WaitForSingleObject(thread, 50);
    EXPECT_TRUE(waited == WAIT_TIMEOUT) << Formatted(
        "the thread waits at the gate: expected WAIT_TIMEOUT, got %#lx", static_cast<unsigned long>(waited));
    DWORD exitCode = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &exitCode) && exitCode == STILL_ACTIVE)
        << Formatted("expected STILL_ACTIVE while it waits, got %#lx", static_cast<unsigned long>(exitCode));
    LeaveCriticalSection(&gate.section);
    EXPECT_TRUE(WaitForSingleObject(thread, INFINITE) == WAIT_OBJECT_0)
        << "the thread did not end after the gate opened";
    EXPECT_TRUE(GetExitCodeThread(thread, &exitCode) && exitCode == 7)
        << Formatted("expected exit code 7, got %#lx", static_cast<unsigned long>(exitCode));
    CloseHandle(thread);

    // Closing the handle does not end the thread: it passes the gate once it opens.
    gate.passed = 0;
    EnterCriticalSection(&gate.section);
    HANDLE closedEarly = CreateThread(nullptr, 0, PassTheGate, &gate, 0, nullptr);
    EXPECT_TRUE(closedEarly != nullptr && CloseHandle(closedEarly)) << Formatted(
        "creating or closing the thread failed: %lu", static_cast<unsigned long>(GetLastError()));
    LeaveCriticalSection(&gate.section);
    while (closedEarly != nullptr && InterlockedCompareExchange(&gate.passed, 0, 0) == 0) {
        // The thread needs a moment to take and leave the section.
    }
    EXPECT_TRUE(gate.passed == 1) << Formatted("the thread of the closed handle did not run on, passed %ld",
                                               static_cast<long>(gate.passed));
    DeleteCriticalSection(&gate.section);
}

TEST_F(ConformanceCheck, CriticalSectionKeepsConcurrentThreadsFromLosingUpdates) {
    world.Clear();
    SharedCounter counter;
    InitializeCriticalSection(&counter.section);
    HANDLE threads[kCountingThreads] = {};
    int started = 0;
    for (HANDLE& thread : threads) {
        thread = CreateThread(nullptr, 0, CountUnderTheSection, &counter, 0, nullptr);
        started += thread != nullptr ? 1 : 0;
    }
    for (HANDLE thread : threads) {
        if (thread != nullptr) {
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
        }
    }
    EXPECT_TRUE(started == kCountingThreads)
        << Formatted("only %d of %d threads started", started, kCountingThreads);
    EXPECT_TRUE(counter.value == static_cast<long>(started) * kIncrementsPerThread)
        << Formatted("expected %ld increments, counted %ld: two threads held the section at once",
                     static_cast<long>(started) * kIncrementsPerThread, counter.value);
    DeleteCriticalSection(&counter.section);
}

TEST_F(ConformanceCheck, WaitingOnAHandleThatIsNoThreadFails) {
    world.Clear();
    SetLastError(0);
    const DWORD waited = WaitForSingleObject(kBogusHandle, 0);
    EXPECT_TRUE(waited == WAIT_FAILED && GetLastError() == ERROR_INVALID_HANDLE)
        << Formatted("expected WAIT_FAILED with ERROR_INVALID_HANDLE, got %#lx with error %lu",
                     static_cast<unsigned long>(waited), static_cast<unsigned long>(GetLastError()));
    DWORD exitCode = 0;
    SetLastError(0);
    const BOOL answered = GetExitCodeThread(kBogusHandle, &exitCode);
    EXPECT_TRUE(!answered && GetLastError() == ERROR_INVALID_HANDLE)
        << Formatted("expected FALSE with ERROR_INVALID_HANDLE, got %d with error %lu", answered,
                     static_cast<unsigned long>(GetLastError()));
}
