// First use of the allocation hooks: what each direction selects, when the switches are read and the
// collector constructed, and where its destruction falls at exit. Each test runs in a fresh child process
// (a module's first use happens once per load), checking with Require, which ends the child with a
// message and a non-zero code.
#include "memtrack/collector.h"
#include "memtrack/allocation_hooks.h"
#include "memtrack/tracked_block.h"
#include "memtrack/tracked_pair.h"
#include "tracker_test_support.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <thread>
#include <vector>

using namespace tracker_test;

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "requirement failed: %s\n", what);
        std::fflush(stderr);
        _exit(1);
    }
}

OVMemHdr* HeaderOf(void* userPtr) {
    OVMemBlock lookup;
    return lookup.HeaderFromUserPtr(userPtr);
}

#define IN_FRESH_PROCESS(body)                                                                               \
    do {                                                                                                     \
        GTEST_FLAG_SET(death_test_style, "threadsafe");                                                      \
        EXPECT_EXIT(                                                                                         \
            {                                                                                                \
                winsim::Reset();                                                                             \
                body;                                                                                        \
                std::exit(0);                                                                                \
            },                                                                                               \
            ::testing::ExitedWithCode(0), "");                                                               \
    } while (0)

TEST(HookSelection, ReleasingNullSelectsNothing) {
    IN_FRESH_PROCESS({
        SetSwitch(u"TrackMemoryAllocation", 1);
        hookRelease(nullptr, AllocKindScalar);
        hookRelease(nullptr, AllocKindArray);
        Require(releaseFn.load() == nullptr, "a null release chose a release function");
        Require(allocFn.load() == nullptr, "a null release chose an allocation function");
        Require(moduleCollector == nullptr, "a null release constructed a collector");
        Require(winsim::CallCount("RegOpenKeyExW") == 0, "a null release read the switches");
    });
}

TEST(HookSelection, FirstAllocationReadsTheSwitchesOnceAndRegistersACollector) {
    IN_FRESH_PROCESS({
        SetSwitch(u"TrackMemoryAllocation", 3);
        int marker = 0;
        void* first = hookAllocate(24, AllocKindScalar, &marker);
        Require(first != nullptr, "the first allocation failed");
        Require(allocFn.load() == &trackedAllocate,
                "tracking is on but the tracked allocation was not chosen");
        Require(moduleCollector != nullptr, "no collector is registered after the first allocation");
        Require(releaseFn.load() == nullptr, "the allocation chose the release function too");
        OVMemHdr* header = HeaderOf(first);
        Require(header != nullptr && header->size == 24, "the first allocation is not a tracked block");
        Require(header->caller == &marker, "the block does not record the hook's caller");
        // The switches' key is opened for the configuration and for the collector's symbol switch.
        unsigned keyOpens = winsim::CallCount("RegOpenKeyExW");
        void* second = hookAllocate(8, AllocKindArray, &marker);
        Require(winsim::CallCount("RegOpenKeyExW") == keyOpens, "the switches were read more than once");
        OVMemCollector* collector = moduleCollector;
        hookRelease(first, AllocKindScalar);
        hookRelease(second, AllocKindArray);
        Require(releaseFn.load() == &trackedRelease, "the release does not follow the allocation's pair");
        Require(moduleCollector == collector, "the first release constructed a second collector");
        Require(winsim::HeapBlockCount() == 0, "a released block kept its heap memory");
    });
}

TEST(HookSelection, WithoutTheKeyBothDirectionsPassThroughEvenIfItAppearsLater) {
    IN_FRESH_PROCESS({
        void* block = hookAllocate(24, AllocKindScalar, nullptr);
        Require(block != nullptr, "the pass-through allocation failed");
        Require(allocFn.load() == &plainAllocate, "without the key the allocation must pass through");
        Require(trackMode == TrackModeUnread, "a missing key must leave the mode unread");
        Require(hookAllocate(0, AllocKindScalar, nullptr) == nullptr, "0 bytes must yield null");
        Require(winsim::CallCount("HeapAlloc") == 0, "the pass-through pair used the heap without trackHeap");
        SetSwitch(u"TrackMemoryAllocation", 1);
        hookRelease(block, AllocKindScalar);
        Require(releaseFn.load() == &plainRelease,
                "the release chose the tracked pair for blocks that the pass-through pair made");
    });
}

TEST(HookSelection, ReleaseBeforeAnyAllocationBuildsTheReleaseSideCollector) {
    IN_FRESH_PROCESS({
        SetSwitch(u"TrackMemoryAllocation", 0);
        hookRelease(std::malloc(8), AllocKindScalar);
        Require(releaseFn.load() == &plainRelease, "tracking is off but the release is not passed through");
        OVMemCollector* collector = moduleCollector;
        Require(collector != nullptr, "the first release registered no collector");
        void* block = hookAllocate(8, AllocKindScalar, nullptr);
        Require(allocFn.load() == &plainAllocate, "the allocation does not follow the release's pair");
        Require(moduleCollector == collector, "a second collector replaced the first");
        hookRelease(block, AllocKindScalar);
    });
}

// Exit handlers run in reverse order of registration: the collector's, registered by the first
// allocation, runs after those registered later and before those registered earlier.
void registeredBeforeFirstUse() {
    _exit(moduleCollector == nullptr ? 0 : 3);
}
void registeredAfterFirstUse() {
    if (moduleCollector == nullptr) {
        _exit(4);
    }
}

TEST(HookSelection, CollectorIsDestroyedAtExitInOrderOfRegistration) {
    IN_FRESH_PROCESS({
        SetSwitch(u"TrackMemoryAllocation", 1);
        std::atexit(registeredBeforeFirstUse);
        void* block = hookAllocate(16, AllocKindScalar, nullptr);
        std::atexit(registeredAfterFirstUse);
        hookRelease(block, AllocKindScalar);
        std::exit(7);
    });
}

TEST(HookSelection, ThreadsThatUseTheHooksFirstTogetherShareOneSelection) {
    IN_FRESH_PROCESS({
        SetSwitch(u"TrackMemoryAllocation", 2);
        constexpr int threadCount = 8;
        std::atomic<bool> go{false};
        std::vector<void*> blocks(threadCount, nullptr);
        std::vector<std::thread> threads;
        for (int t = 0; t < threadCount; ++t) {
            threads.emplace_back([&, t] {
                while (!go.load()) {
                }
                blocks[t] = hookAllocate(32, AllocKindScalar, nullptr);
            });
        }
        go.store(true);
        for (std::thread& thread : threads) {
            thread.join();
        }
        std::set<uint32_t> ids;
        for (void* block : blocks) {
            OVMemHdr* header = block != nullptr ? HeaderOf(block) : nullptr;
            Require(header != nullptr && header->source == BlockSourceVirtualPages,
                    "a thread's first allocation is not a page-guarded block");
            ids.insert(header->id);
        }
        Require(ids.size() == threadCount, "two threads' blocks share an id");
        // Once for the configuration, once for the collector's symbol switch.
        Require(winsim::CallCount("RegOpenKeyExW") == 2, "the switches were read more than once");
        for (void* block : blocks) {
            hookRelease(block, AllocKindScalar);
        }
        Require(winsim::VirtualRegionCount() == 0, "pages of a released block are still held");
    });
}

TEST(HookSelection, FailedAllocationIsNullNotAnException) {
    IN_FRESH_PROCESS({
        SetSwitch(u"TrackMemoryAllocation", 1);
        SetSwitch(u"TrackMemoryFailSize", 16);
        void* belowFailSize = hookAllocate(15, AllocKindScalar, nullptr);
        Require(belowFailSize != nullptr, "a request below the fail size failed");
        hookRelease(belowFailSize, AllocKindScalar);
        Require(hookAllocate(16, AllocKindScalar, nullptr) == nullptr,
                "a request of the fail size succeeded");
        Require(hookAllocate(UINT64_MAX, AllocKindArray, nullptr) == nullptr,
                "the largest request succeeded");
    });
}

TEST(HookSelection, AKeyCreatedAfterTheChoiceChangesNothingWhileLoaded) {
    IN_FRESH_PROCESS({
        // No switches at the first allocation: the pass-through pair on the run-time heap.
        void* early = hookAllocate(24, AllocKindScalar, nullptr);
        Require(early != nullptr, "the first allocation failed");
        SetSwitch(u"TrackMemoryAllocation", 1);
        void* late = hookAllocate(24, AllocKindScalar, nullptr);
        Require(late != nullptr, "an allocation after the key appeared failed");
        Require(!isTrackingOn(), "the collector would now see tracking that the hooks did not choose");
        Require(trackHeap == nullptr, "the pass-through pair was handed the process heap");
        // Both blocks came from the run-time heap and go back there; the simulated heap would end the
        // process for a block it did not hand out.
        hookRelease(early, AllocKindScalar);
        hookRelease(late, AllocKindScalar);
    });
}

} // namespace
