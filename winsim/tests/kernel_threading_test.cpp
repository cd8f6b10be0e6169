// Critical sections, one-time initialisation and interlocked operations of the simulation, and the
// misuses that Windows would let pass silently and the simulation stops.
#include "simulated_world.h"

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(KernelThreading, CriticalSectionExcludesOtherThreadsAndNests) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                EnterCriticalSection(&section);
                EnterCriticalSection(&section);
                long seen = counter;
                counter = seen + 1;
                LeaveCriticalSection(&section);
                LeaveCriticalSection(&section);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(40000, counter) << "an increment was lost: two threads held the section at once";
    DeleteCriticalSection(&section);
}

TEST(KernelThreading, MisusedCriticalSectionsEndTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            CRITICAL_SECTION section = {};
            EnterCriticalSection(&section);
        },
        "never initialised");
    EXPECT_DEATH(
        {
            CRITICAL_SECTION section;
            InitializeCriticalSection(&section);
            DeleteCriticalSection(&section);
            EnterCriticalSection(&section);
        },
        "has been deleted");
    EXPECT_DEATH(
        {
            CRITICAL_SECTION section;
            InitializeCriticalSection(&section);
            LeaveCriticalSection(&section);
        },
        "does not own");
    EXPECT_DEATH(
        {
            CRITICAL_SECTION section;
            InitializeCriticalSection(&section);
            EnterCriticalSection(&section);
            DeleteCriticalSection(&section);
        },
        "still owned");
}

BOOL CALLBACK countRun(PINIT_ONCE, PVOID parameter, PVOID* context) {
    static_cast<std::atomic<int>*>(parameter)->fetch_add(1);
    *context = reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(0x1230));
    return TRUE;
}

BOOL CALLBACK refuse(PINIT_ONCE, PVOID parameter, PVOID*) {
    static_cast<std::atomic<int>*>(parameter)->fetch_add(1);
    return FALSE;
}

TEST(KernelThreading, InitOnceRunsItsCallbackOnceForEveryThread) {
    INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    std::atomic<int> runs{0};
    std::vector<std::thread> threads;
    std::atomic<int> answeredTrue{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            LPVOID context = nullptr;
            if (InitOnceExecuteOnce(&once, countRun, &runs, &context) &&
                context == reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(0x1230))) {
                ++answeredTrue;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(1, runs.load());
    EXPECT_EQ(8, answeredTrue.load()) << "every caller gets TRUE and the stored context";
}

TEST(KernelThreading, InitOnceRunsAgainAfterAFailure) {
    INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    std::atomic<int> runs{0};
    EXPECT_FALSE(InitOnceExecuteOnce(&once, refuse, &runs, nullptr));
    EXPECT_TRUE(InitOnceExecuteOnce(&once, countRun, &runs, nullptr));
    EXPECT_TRUE(InitOnceExecuteOnce(&once, countRun, &runs, nullptr));
    EXPECT_EQ(2, runs.load());
}

INIT_ONCE reentered = INIT_ONCE_STATIC_INIT;
BOOL CALLBACK reenter(PINIT_ONCE, PVOID, PVOID*) {
    return InitOnceExecuteOnce(&reentered, reenter, nullptr, nullptr);
}

TEST(KernelThreading, InitOnceReenteredByItsOwnCallbackEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(InitOnceExecuteOnce(&reentered, reenter, nullptr, nullptr), "deadlocks on Windows");
}

TEST(KernelThreading, InterlockedOperationsAnswerAsWindowsDoes) {
    volatile LONG value = 5;
    EXPECT_EQ(6, InterlockedIncrement(&value));
    EXPECT_EQ(5, InterlockedDecrement(&value));
    EXPECT_EQ(5, InterlockedExchange(&value, 9));
    EXPECT_EQ(9, InterlockedCompareExchange(&value, 1, 8)) << "no exchange when the comparand differs";
    EXPECT_EQ(9, value);
    EXPECT_EQ(9, InterlockedCompareExchange(&value, 1, 9));
    EXPECT_EQ(1, value);
    volatile LONG shared = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                InterlockedIncrement(&shared);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(40000, shared);
    EXPECT_NE(0u, GetCurrentThreadId());
}

} // namespace
