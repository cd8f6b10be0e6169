// The pass-through and tracked pairs as the hooks call them: the fail size with tracking on and off,
// the allocation kind and id of a tracked block, releases by the block's source, and releases that are
// refused.
#include "memtrack/allocation_hooks.h"
#include "memtrack/tracked_block.h"
#include "memtrack/tracked_pair.h"
#include "tracker_test_support.h"

using namespace tracker_test;

namespace {

class TrackedPairTest : public TrackerTest {
  protected:
    void* Allocate(uint64_t size, int32_t kind = AllocKindScalar) {
        uint32_t id = 0;
        return trackedAllocate(size, kind, &marker, &id);
    }
    static OVMemHdr* HeaderOf(void* userPtr) {
        OVMemBlock lookup;
        return lookup.HeaderFromUserPtr(userPtr);
    }
    void Release(void* userPtr, int32_t kind = AllocKindScalar) {
        void* location = userPtr;
        trackedRelease(&location, kind);
    }

    int marker = 0;
};

TEST_F(TrackedPairTest, FailSizeRefusesRequestsOfThatSizeOrMoreWithTrackingOn) {
    UseMode(TrackModeHeap);
    failSize = 1000;
    void* below = Allocate(999);
    EXPECT_NE(nullptr, below) << "a request below the fail size must succeed";
    unsigned heapCalls = winsim::CallCount("HeapAlloc");
    EXPECT_EQ(nullptr, Allocate(1000));
    EXPECT_EQ(nullptr, Allocate(1001));
    EXPECT_EQ(heapCalls, winsim::CallCount("HeapAlloc")) << "a refused request reached the heap";
    EXPECT_EQ(1u, allocCounter) << "a refused request used an id";
    Release(below);
}

TEST_F(TrackedPairTest, FailSizeHasNoEffectWithTrackingOff) {
    trackMode = TrackModeOff;
    failSize = 1000;
    uint32_t id = 0;
    void* block = plainAllocate(5000, AllocKindScalar, nullptr, &id);
    EXPECT_NE(nullptr, block) << "the pass-through pair must ignore the fail size";
    void* location = block;
    EXPECT_TRUE(plainRelease(&location, AllocKindScalar));
    EXPECT_EQ(nullptr, location) << "the pass-through release clears the location";
}

TEST_F(TrackedPairTest, PassThroughPairUsesTheHeapOrMallocWithoutHeader) {
    uint32_t id = 0;
    EXPECT_EQ(nullptr, plainAllocate(0, AllocKindScalar, nullptr, &id));
    trackHeap = GetProcessHeap();
    size_t heapBlocks = winsim::HeapBlockCount();
    auto* zeroed = static_cast<unsigned char*>(plainAllocate(64, AllocKindArray, nullptr, &id));
    ASSERT_NE(nullptr, zeroed);
    EXPECT_EQ(64u, HeapSize(GetProcessHeap(), 0, zeroed)) << "no header: the heap block is the user block";
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(0, zeroed[i]) << "HEAP_ZERO_MEMORY";
    }
    void* location = zeroed;
    plainRelease(&location, AllocKindArray);
    EXPECT_EQ(heapBlocks, winsim::HeapBlockCount());
}

TEST_F(TrackedPairTest, TrackedBlockRecordsKindIdAndCaller) {
    UseMode(TrackModeGuardedProcessHeap);
    uint32_t firstId = 0;
    uint32_t secondId = 0;
    void* scalar = trackedAllocate(10, AllocKindScalar, &marker, &firstId);
    void* array = trackedAllocate(10, AllocKindArray, &marker, &secondId);
    ASSERT_NE(nullptr, scalar);
    ASSERT_NE(nullptr, array);
    EXPECT_EQ(1u, firstId);
    EXPECT_EQ(2u, secondId);
    EXPECT_EQ(AllocKindScalar, HeaderOf(scalar)->allocKind);
    EXPECT_EQ(AllocKindArray, HeaderOf(array)->allocKind);
    EXPECT_EQ(&marker, HeaderOf(array)->caller);
    Release(scalar, AllocKindScalar);
    Release(array, AllocKindArray);
}

TEST_F(TrackedPairTest, EachModeReleasesToWhereTheBlockCameFrom) {
    size_t heapBlocks = winsim::HeapBlockCount();
    size_t regions = winsim::VirtualRegionCount();
    for (TrackMode mode :
         {TrackModeHeap, TrackModePageGuarded, TrackModeGuardedProcessHeap, TrackModeGuardedRuntimeHeap}) {
        UseMode(mode);
        void* userPtr = Allocate(100);
        ASSERT_NE(nullptr, userPtr) << "mode " << mode;
        Release(userPtr);
        EXPECT_EQ(heapBlocks, winsim::HeapBlockCount()) << "mode " << mode;
        EXPECT_EQ(regions, winsim::VirtualRegionCount()) << "mode " << mode;
    }
    EXPECT_EQ(1u, winsim::CallCount("VirtualAlloc"));
    EXPECT_EQ(1u, winsim::CallCount("VirtualFree"));
    EXPECT_EQ(2u, winsim::CallCount("HeapFree"));
}

TEST_F(TrackedPairTest, ReleaseWithTheOtherFormIsRefused) {
    winsim::SetDebuggerPresent(true);
    UseMode(TrackModeHeap);
    size_t heapBlocks = winsim::HeapBlockCount();
    void* array = Allocate(16, AllocKindArray);
    ASSERT_NE(nullptr, array);
    Release(array, AllocKindScalar);
    EXPECT_EQ(1u, winsim::CallCount("DebugBreak")) << "a mismatched release must stop in the debugger";
    EXPECT_EQ(heapBlocks + 1, winsim::HeapBlockCount()) << "the refused block must stay allocated";
    Release(array, AllocKindArray);
    EXPECT_EQ(heapBlocks, winsim::HeapBlockCount());
}

TEST_F(TrackedPairTest, ReleaseOfAForeignPointerTouchesNothing) {
    winsim::SetDebuggerPresent(true);
    UseMode(TrackModeHeap);
    alignas(16) unsigned char foreign[1024] = {};
    Release(foreign + 600);
    EXPECT_EQ(1u, winsim::CallCount("DebugBreak"));
    EXPECT_EQ(0u, winsim::CallCount("HeapFree"));
}

TEST_F(TrackedPairTest, AllocationReachingBreakOnAllocIdRunsTheInUseDump) {
    winsim::SetDebuggerPresent(true);
    UseMode(TrackModeHeap);
    breakOnAllocId = 2;
    void* first = Allocate(8);
    EXPECT_EQ(0u, winsim::CallCount("DebugBreak"));
    void* second = Allocate(8);
    EXPECT_EQ(1u, winsim::CallCount("DebugBreak")) << "the block with id 2 must stop in the debugger";
    Release(first);
    Release(second);
}

TEST_F(TrackedPairTest, LargestSizeFailsInEveryMode) {
    for (TrackMode mode :
         {TrackModeHeap, TrackModePageGuarded, TrackModeGuardedProcessHeap, TrackModeGuardedRuntimeHeap}) {
        UseMode(mode);
        EXPECT_EQ(nullptr, Allocate(UINT64_MAX)) << "mode " << mode;
        EXPECT_EQ(nullptr, Allocate(UINT64_MAX, AllocKindArray)) << "mode " << mode;
    }
    EXPECT_EQ(0u, allocCounter);
}

} // namespace
