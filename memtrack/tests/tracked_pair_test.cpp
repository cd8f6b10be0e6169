// The pass-through and tracked pairs as the hooks call them: the fail size with tracking on and off,
// the allocation kind and id of a tracked block, releases by the block's source, and releases that are
// refused. The guard check at release: which changed bytes it finds, the one record it writes, when it
// stops in the debugger, and that the block is freed in any case. Releases that arrive after the
// collector's teardown: each is reported, the first opens with a banner, and the one that empties the list
// closes the files and the report.
#include "memtrack/allocation_hooks.h"
#include "memtrack/tracked_block.h"
#include "memtrack/tracked_pair.h"
#include "release_checks_support.h"
#include "tracker_test_support.h"

using namespace tracker_test;
using namespace release_checks_test;

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

    void* aligned = plainAllocateAligned(64, 256);
    ASSERT_NE(nullptr, aligned);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(aligned) % 256);
    EXPECT_EQ(64u + 255 + 8, HeapSize(GetProcessHeap(), 0, static_cast<void**>(aligned)[-1]))
        << "the heap block's base is kept right before the over-aligned block";
    plainReleaseAligned(aligned);
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

class GuardCheckTest : public ReleaseChecksFixture {
  protected:
    // Releases a 10-byte mode-3 block after `damage`; returns the header's flags as the record shows them.
    std::string ReleaseDamaged(void (*damage)(unsigned char*)) {
        tracker_test::UseMode(TrackModeGuardedProcessHeap);
        unsigned char* block = Allocate(10);
        damage(block);
        Release(block);
        return winsim::DebugOutput();
    }
};

TEST_F(GuardCheckTest, ByteJustPastTheEndSetsOverrunAndWritesOneRecord) {
    size_t heapBlocks = winsim::HeapBlockCount();
    std::string output = ReleaseDamaged([](unsigned char* block) { block[10] = 0; });
    EXPECT_EQ(1u, Occurrences(output, "MemoryAccessViolation ")) << output;
    EXPECT_NE(std::string::npos, output.find("overrun=\"1\" underrun=\"0\"\r\n")) << output;
    EXPECT_EQ(heapBlocks, winsim::HeapBlockCount()) << "the damaged block must be freed";
}

TEST_F(GuardCheckTest, LastHeadGuardByteSetsUnderrun) {
    std::string output = ReleaseDamaged([](unsigned char* block) { block[-1] = 0; });
    EXPECT_EQ(1u, Occurrences(output, "MemoryAccessViolation ")) << output;
    EXPECT_NE(std::string::npos, output.find("overrun=\"0\" underrun=\"1\"\r\n")) << output;
}

TEST_F(GuardCheckTest, BothGuardsDamagedGiveOneRecordWithBothFlags) {
    std::string output = ReleaseDamaged([](unsigned char* block) {
        block[-384] = 1;
        block[10 + 383] = 1;
    });
    EXPECT_EQ(1u, Occurrences(output, "MemoryAccessViolation ")) << output;
    EXPECT_NE(std::string::npos, output.find("overrun=\"1\" underrun=\"1\"\r\n")) << output;
}

TEST_F(GuardCheckTest, RecordGoesToBothFilesAsWell) {
    UseLogDirectory();
    ReleaseDamaged([](unsigned char* block) { block[12] = 0; });
    std::vector<std::string> files = filesIn("Logs");
    ASSERT_EQ(2u, files.size());
    std::vector<uint8_t> raw = leak_log_test::readHostFile(hostPath("Logs", files[0]));
    ASSERT_EQ(sizeof(OVMemHdr), raw.size());
    EXPECT_EQ(1, raw[offsetof(OVMemHdr, overrun)]);
    EXPECT_EQ(0, raw[offsetof(OVMemHdr, underrun)]);
}

TEST_F(GuardCheckTest, UnguardedModeChecksNothing) {
    tracker_test::UseMode(TrackModeHeap);
    unsigned char* block = Allocate(10);
    block[-1] = 0;
    block[10] = 0;
    Release(block);
    EXPECT_EQ("", winsim::DebugOutput());
    EXPECT_EQ(0u, winsim::CallCount("IsDebuggerPresent")) << "mode 1 asked for a debugger";
}

TEST_F(GuardCheckTest, EachGuardedModeChecksItsBlocks) {
    for (TrackMode mode : {TrackModePageGuarded, TrackModeGuardedProcessHeap, TrackModeGuardedRuntimeHeap}) {
        winsim::ClearDebugOutput();
        tracker_test::UseMode(mode);
        unsigned char* block = Allocate(10);
        block[11] = 0;
        Release(block);
        EXPECT_EQ(1u, Occurrences(winsim::DebugOutput(), "MemoryAccessViolation ")) << "mode " << mode;
    }
}

TEST_F(GuardCheckTest, DebuggerAttachedAfterTheFirstCheckIsNotNoticed) {
    tracker_test::UseMode(TrackModeGuardedRuntimeHeap);
    unsigned char* first = Allocate(10);
    first[10] = 0;
    Release(first);
    winsim::SetDebuggerPresent(true);
    unsigned char* second = Allocate(10);
    second[10] = 0;
    Release(second);
    EXPECT_EQ(2u, Occurrences(winsim::DebugOutput(), "MemoryAccessViolation "));
    EXPECT_EQ(0u, winsim::CallCount("DebugBreak")) << "the answer of the first check must stand";
}

TEST_F(GuardCheckTest, DebuggerPresentAtTheFirstCheckStopsAtEachDamagedGuardAndIsAskedOnce) {
    winsim::SetDebuggerPresent(true);
    tracker_test::UseMode(TrackModeGuardedProcessHeap);
    unsigned char* first = Allocate(10);
    first[10] = 0;
    Release(first);
    unsigned char* second = Allocate(10);
    second[-1] = 0;
    second[10] = 0;
    Release(second);
    EXPECT_EQ(3u, winsim::CallCount("DebugBreak"));
    EXPECT_EQ(1u, winsim::CallCount("IsDebuggerPresent")) << "the debugger must be asked for once";
}

TEST_F(GuardCheckTest, UnderrunReachingTheTailGuardFieldsIsReportedWithoutFollowingThem) {
    tracker_test::UseMode(TrackModeGuardedProcessHeap);
    unsigned char* block = Allocate(10);
    OVMemHdr* header = HeaderOf(block);
    // A write running 400 bytes below the block: the whole head guard, its size and the tail guard's pointer.
    std::memset(reinterpret_cast<unsigned char*>(&header->tailGuard), 0x41,
                sizeof(OVMemHdr) - offsetof(OVMemHdr, tailGuard));
    Release(block);
    std::string output = winsim::DebugOutput();
    EXPECT_EQ(1u, Occurrences(output, "MemoryAccessViolation ")) << output;
    EXPECT_NE(std::string::npos, output.find("overrun=\"0\" underrun=\"1\"\r\n")) << output;
}

const std::string rule = "****!!!!****!!!!****!!!!****";
const std::string opening =
    "\r\n" + rule + " Reporting releases after tear down of OVMemCollector Object " + rule + "\r\n";
const std::string closing = "\r\n" + rule +
                            " Completed reporting of releases after tear down of OVMemCollector Object " +
                            rule + "\r\n";

class ReleaseAfterTeardownTest : public ReleaseChecksFixture {
  protected:
    // The state that the collector's teardown leaves.
    static void TearDownCollector() {
        collectorLock.remove();
        collectorTornDown = true;
        teardownBannerPending = true;
    }
};

TEST_F(ReleaseAfterTeardownTest, TwoReleasesOpenReportAndCloseInTurn) {
    UseLogDirectory();
    tracker_test::UseMode(TrackModeHeap);
    unsigned char* first = Allocate(24);
    unsigned char* second = Allocate(8);
    TearDownCollector();

    Release(first);
    std::string afterFirst = winsim::DebugOutput();
    ASSERT_EQ(0u, afterFirst.find(opening)) << "the first release must open with the banner:\n" << afterFirst;
    EXPECT_NE(std::string::npos,
              afterFirst.find("MemoryLeak module=\"vracoins.dll\" id=\"1\" size=\"24\" release=\"1\""))
        << afterFirst;
    EXPECT_EQ(std::string::npos, afterFirst.find(closing)) << "a block is still live";
    EXPECT_TRUE(isLogFileOpen(rawLogFile) && isLogFileOpen(textLogFile)) << "the files must stay open";

    Release(second);
    std::string output = winsim::DebugOutput();
    EXPECT_EQ(1u, Occurrences(output, opening)) << "the banner opens the releases once";
    EXPECT_NE(std::string::npos, output.find("id=\"2\" size=\"8\" release=\"1\"")) << output;
    ASSERT_GE(output.size(), closing.size());
    EXPECT_EQ(closing, output.substr(output.size() - closing.size())) << "the last release must close:\n"
                                                                      << output;
    EXPECT_EQ(nullptr, rawLogFile) << "the release that emptied the list must close the files";
    EXPECT_EQ(nullptr, textLogFile);
    EXPECT_FALSE(teardownBannerPending);
    std::vector<std::string> files = filesIn("Logs");
    ASSERT_EQ(2u, files.size());
    std::vector<uint8_t> raw = leak_log_test::readHostFile(hostPath("Logs", files[0]));
    ASSERT_EQ(2 * sizeof(OVMemHdr), raw.size());
    EXPECT_EQ(1, raw[offsetof(OVMemHdr, release)]);
    EXPECT_EQ(1, raw[sizeof(OVMemHdr) + offsetof(OVMemHdr, release)]);
}

TEST_F(ReleaseAfterTeardownTest, DamagedBlockGivesItsLeakRecordThenItsAccessViolationRecord) {
    tracker_test::UseMode(TrackModeGuardedRuntimeHeap);
    unsigned char* block = Allocate(10);
    block[10] = 0;
    TearDownCollector();
    Release(block);
    std::string output = winsim::DebugOutput();
    size_t leak = output.find("MemoryLeak ");
    size_t closed = output.find(closing);
    size_t violation = output.find("MemoryAccessViolation ");
    ASSERT_NE(std::string::npos, leak) << output;
    ASSERT_NE(std::string::npos, violation) << output;
    EXPECT_LT(leak, closed);
    EXPECT_LT(closed, violation) << "the files close before the access-violation record is written";
}

TEST_F(ReleaseAfterTeardownTest, AllocationsAfterTeardownStillJoinTheListWithoutTheLock) {
    tracker_test::UseMode(TrackModeHeap);
    TearDownCollector();
    unsigned char* block = Allocate(12);
    EXPECT_EQ(HeaderOf(block), liveHead);
    EXPECT_FALSE(collectorLock.ready()) << "no lock may be set up for the list after teardown";
    Release(block);
    EXPECT_EQ(nullptr, liveHead);
}

} // namespace
