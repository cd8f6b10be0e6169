// Page-guarded blocks: their place on the pages (the worked offsets with 4096-byte pages), real no-access
// pages on both sides, the fallback to a heap block, and a write past the tail guard that faults.
#include "memtrack/tracked_block.h"
#include "tracker_test_support.h"

#include <unistd.h>

#include <csignal>
#include <cstdint>

using namespace tracker_test;

namespace {

uintptr_t address(const void* pointer) {
    return reinterpret_cast<uintptr_t>(pointer);
}

class PageGuardedBlockTest : public TrackerTest {
  protected:
    void SetUp() override {
        TrackerTest::SetUp();
        UseMode(TrackModePageGuarded);
        regionsBefore = winsim::VirtualRegionCount();
    }
    void TearDown() override {
        for (OVMemHdr* header : built) {
            freeBlockMemory(header);
        }
        EXPECT_EQ(regionsBefore, winsim::VirtualRegionCount()) << "pages of a block were not released";
        TrackerTest::TearDown();
    }

    OVMemHdr* Build(uint64_t size) {
        OVMemBlockVirtualAlloc block;
        if (block.AllocateWithCaller(size, nullptr, nullptr) == nullptr) {
            return nullptr;
        }
        built.push_back(block.GetHeader());
        return block.GetHeader();
    }

    static MEMORY_BASIC_INFORMATION Query(uintptr_t at) {
        MEMORY_BASIC_INFORMATION info = {};
        EXPECT_EQ(sizeof info, VirtualQuery(reinterpret_cast<void*>(at), &info, sizeof info));
        return info;
    }

    static bool FourKilobytePages() { return sysconf(_SC_PAGESIZE) == 4096; }

    size_t regionsBefore = 0;
    std::vector<OVMemHdr*> built;
};

TEST_F(PageGuardedBlockTest, HundredBytesCommitThreePagesAndEndAtTheThird) {
    if (!FourKilobytePages()) {
        GTEST_SKIP() << "the worked offsets are for 4096-byte pages";
    }
    OVMemHdr* header = Build(100);
    ASSERT_NE(nullptr, header);
    uintptr_t base = address(header->allocPtr);
    EXPECT_EQ(base + 7696, address(header->userPtr)) << "user block offset from the base of the pages";
    EXPECT_EQ(396u, header->tailGuardSize);
    EXPECT_EQ(base + 8192, address(header->tailGuard) + header->tailGuardSize)
        << "the tail guard must end where the third page begins";
    EXPECT_EQ(BlockSourceVirtualPages, header->source);

    MEMORY_BASIC_INFORMATION leading = Query(base);
    EXPECT_EQ(static_cast<DWORD>(PAGE_NOACCESS), leading.Protect);
    EXPECT_EQ(4096u, leading.RegionSize);
    EXPECT_EQ(static_cast<DWORD>(MEM_COMMIT), leading.State);
    MEMORY_BASIC_INFORMATION usable = Query(base + 4096);
    EXPECT_EQ(static_cast<DWORD>(PAGE_READWRITE), usable.Protect);
    EXPECT_EQ(4096u, usable.RegionSize);
    MEMORY_BASIC_INFORMATION trailing = Query(base + 8192);
    EXPECT_EQ(static_cast<DWORD>(PAGE_NOACCESS), trailing.Protect);
    EXPECT_EQ(4096u, trailing.RegionSize) << "three pages in all";
    EXPECT_EQ(reinterpret_cast<void*>(base), trailing.AllocationBase)
        << "one reservation for all three pages";
}

TEST_F(PageGuardedBlockTest, ZeroBytesGiveAUserPointerRightBeforeTheTailGuard) {
    if (!FourKilobytePages()) {
        GTEST_SKIP() << "the worked offsets are for 4096-byte pages";
    }
    OVMemHdr* header = Build(0);
    ASSERT_NE(nullptr, header) << "a page block of 0 bytes is not refused";
    uintptr_t base = address(header->allocPtr);
    EXPECT_EQ(base + 7808, address(header->userPtr));
    EXPECT_EQ(header->userPtr, static_cast<void*>(header->tailGuard));
    EXPECT_EQ(384u, header->tailGuardSize);
    EXPECT_EQ(0u, header->size);
}

TEST_F(PageGuardedBlockTest, NeedOfWholePagesGetsOneMorePage) {
    if (!FourKilobytePages()) {
        GTEST_SKIP() << "the worked offsets are for 4096-byte pages";
    }
    // 3192 + 888 = 4080 is a multiple of 16, and with the 16 added the need is exactly one page.
    OVMemHdr* header = Build(3192);
    ASSERT_NE(nullptr, header);
    uintptr_t base = address(header->allocPtr);
    EXPECT_EQ(8192u, Query(base + 4096).RegionSize) << "the read-write region must exceed the need";
    EXPECT_EQ(base + 4096 + 8192, address(header->tailGuard) + header->tailGuardSize);
}

TEST_F(PageGuardedBlockTest, GuardsAreFilledAndUserPointersAligned) {
    for (uint64_t size : {0u, 1u, 13u, 100u, 4000u, 5000u, 12345u}) {
        OVMemHdr* header = Build(size);
        ASSERT_NE(nullptr, header) << "size " << size;
        EXPECT_EQ(0u, address(header->userPtr) % 16) << "size " << size;
        EXPECT_EQ(address(header->userPtr) - 504, address(header)) << "size " << size;
        uintptr_t pageEnd = address(header->tailGuard) + header->tailGuardSize;
        EXPECT_EQ(0u, pageEnd % static_cast<uintptr_t>(sysconf(_SC_PAGESIZE))) << "size " << size;
        EXPECT_EQ(static_cast<DWORD>(PAGE_NOACCESS), Query(pageEnd).Protect) << "size " << size;
        for (uint64_t i = 0; i < header->tailGuardSize; ++i) {
            ASSERT_EQ(0xD0, header->tailGuard[i]) << "tail guard byte " << i << " size " << size;
        }
        for (uint64_t i = 0; i < 384; ++i) {
            ASSERT_EQ(0xD0, header->headGuard[i]) << "head guard byte " << i << " size " << size;
        }
    }
}

TEST_F(PageGuardedBlockTest, OtherModesGetNoPageBlock) {
    UseMode(TrackModeGuardedRuntimeHeap);
    EXPECT_EQ(nullptr, Build(10));
    EXPECT_EQ(0u, winsim::CallCount("VirtualAlloc"));
}

TEST_F(PageGuardedBlockTest, PageSizeZeroFailsWithoutFallback) {
    pageSize.store(0);
    EXPECT_EQ(nullptr, Build(10));
    EXPECT_EQ(0u, winsim::CallCount("VirtualAlloc"));
    EXPECT_EQ(0u, allocCounter);
}

TEST_F(PageGuardedBlockTest, PageSizeIsAskedOnce) {
    ASSERT_NE(nullptr, Build(10));
    EXPECT_EQ(static_cast<uint64_t>(sysconf(_SC_PAGESIZE)), pageSize.load());
    pageSize.store(8192);
    OVMemHdr* header = Build(10);
    ASSERT_NE(nullptr, header);
    // With 8192-byte pages the block ends after one leading page and one region page of 8192 bytes.
    EXPECT_EQ(16384u, address(header->tailGuard) + header->tailGuardSize - address(header->allocPtr))
        << "a known page size must be used as it is";
}

TEST_F(PageGuardedBlockTest, PagesThatCannotBeHadFallBackToAnUnguardedHeapBlock) {
    winsim::SetDebuggerPresent(true);
    winsim::FailCall("VirtualAlloc", ERROR_NOT_ENOUGH_MEMORY, 0, 2);
    OVMemHdr* first = Build(40);
    OVMemHdr* second = Build(40);
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(BlockSourceRuntimeHeap, first->source);
    EXPECT_EQ(nullptr, first->tailGuard);
    EXPECT_EQ(0u, first->tailGuardSize);
    EXPECT_EQ(384u, first->headGuardSize);
    for (uint64_t i = 0; i < 384; ++i) {
        ASSERT_EQ(0xD0, first->headGuard[i]) << "the fallback block's head guard must pass this mode's check";
    }
    EXPECT_EQ(0u, address(first->userPtr) % 16);
    EXPECT_EQ(1u, first->id);
    EXPECT_EQ(2u, second->id);
    EXPECT_EQ(1u, winsim::CallCount("DebugBreak")) << "only the first page failure runs the in-use dump";
}

TEST_F(PageGuardedBlockTest, PagesThatCannotBeProtectedAreReleasedBeforeTheFallback) {
    winsim::FailCall("VirtualProtect", ERROR_NOT_ENOUGH_MEMORY);
    OVMemHdr* header = Build(40);
    ASSERT_NE(nullptr, header);
    EXPECT_EQ(BlockSourceRuntimeHeap, header->source);
    EXPECT_EQ(1u, winsim::CallCount("VirtualFree"));
    EXPECT_EQ(regionsBefore, winsim::VirtualRegionCount()) << "the unprotected pages were kept";
}

TEST_F(PageGuardedBlockTest, PagesThatCannotBeReleasedStopInTheDebugger) {
    winsim::SetDebuggerPresent(true);
    winsim::FailCall("VirtualProtect", ERROR_NOT_ENOUGH_MEMORY);
    winsim::FailCall("VirtualFree", ERROR_INVALID_PARAMETER);
    ASSERT_NE(nullptr, Build(40));
    EXPECT_EQ(2u, winsim::CallCount("DebugBreak")) << "the in-use dump, then the failed release";
    // The pages that could not be released stay reserved for the rest of the process.
    regionsBefore += 1;
}

TEST_F(PageGuardedBlockTest, SizesWhoseBlockDoesNotFitFail) {
    for (uint64_t size : {UINT64_MAX, UINT64_MAX - 888, UINT64_MAX - 4096 * 3}) {
        EXPECT_EQ(nullptr, Build(size)) << "size " << size;
    }
    EXPECT_EQ(0u, winsim::CallCount("VirtualAlloc")) << "an overflowing size must not reach VirtualAlloc";
    EXPECT_EQ(0u, allocCounter);
}

// A write that runs further than the tail guard meets the trailing no-access page and ends the process
// at once.
TEST_F(PageGuardedBlockTest, WritePastTheTailGuardFaults) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    OVMemHdr* header = Build(100);
    ASSERT_NE(nullptr, header);
    volatile uint8_t* lastGuardByte = header->tailGuard + header->tailGuardSize - 1;
    *lastGuardByte = 0x11; // still inside the block: no fault, found by the guard check
    EXPECT_EXIT(
        {
            UseMode(TrackModePageGuarded);
            OVMemHdr* victim = Build(100);
            volatile uint8_t* pastGuard = victim->tailGuard + victim->tailGuardSize;
            *pastGuard = 0x11;
            std::exit(0);
        },
        ::testing::KilledBySignal(SIGSEGV), "");
}

TEST_F(PageGuardedBlockTest, WriteBeforeTheLeadInFaults) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            UseMode(TrackModePageGuarded);
            OVMemHdr* victim = Build(100);
            volatile uint8_t* leadingPage =
                static_cast<uint8_t*>(victim->allocPtr) + static_cast<uintptr_t>(sysconf(_SC_PAGESIZE)) - 1;
            *leadingPage = 0x11;
            std::exit(0);
        },
        ::testing::KilledBySignal(SIGSEGV), "");
}

} // namespace
