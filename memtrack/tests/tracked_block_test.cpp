// Heap blocks: the layout of each mode (the worked totals), alignment, ids, the size-overflow rule,
// header lookup, failures, and the slot order of the allocator's virtual operations.
// Page-guarded blocks: their place on the pages (the worked offsets with 4096-byte pages), real no-access
// pages on both sides, the fallback to a heap block, and a write past the tail guard that faults.
#include "memtrack/tracked_block.h"
#include "tracker_test_support.h"

#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <set>
#include <thread>
#include <utility>
#include <vector>

using namespace tracker_test;

namespace {

uintptr_t address(const void* pointer) {
    return reinterpret_cast<uintptr_t>(pointer);
}

bool allBytesAre(const uint8_t* bytes, uint64_t count, uint8_t value) {
    for (uint64_t i = 0; i < count; ++i) {
        if (bytes[i] != value) {
            return false;
        }
    }
    return true;
}

// The block size that the layout rules call for, worked out here without the allocator's arithmetic.
uint64_t expectedTotal(uint64_t size, bool guarded) {
    uint64_t raw = size + 504 + (guarded ? 384 : 0);
    return (raw + 15) / 16 * 16 + 16;
}

class TrackedBlockTest : public TrackerTest {
  protected:
    void TearDown() override {
        // Every heap block of these tests came from the process heap, whatever the mode is by now.
        trackHeap = GetProcessHeap();
        for (OVMemHdr* header : built) {
            freeBlockMemory(header);
        }
        EXPECT_EQ(heapBlocksBefore, winsim::HeapBlockCount()) << "a block's heap memory was not returned";
        TrackerTest::TearDown();
    }
    void SetUp() override {
        TrackerTest::SetUp();
        heapBlocksBefore = winsim::HeapBlockCount();
    }

    // Builds a block in `mode` and keeps it for release at the end of the test.
    OVMemHdr* Build(TrackMode mode, uint64_t size, void* caller = nullptr, uint64_t alignment = 16) {
        UseMode(mode);
        OVMemBlock block;
        block.SetAlignment(alignment);
        void* userPtr = block.AllocateWithCaller(size, caller, trackHeap);
        if (userPtr == nullptr) {
            return nullptr;
        }
        OVMemHdr* header = block.GetHeader();
        EXPECT_EQ(userPtr, header->userPtr);
        built.push_back(header);
        return header;
    }

    size_t heapBlocksBefore = 0;
    std::vector<OVMemHdr*> built;
};

TEST_F(TrackedBlockTest, GuardedHeapModeTakes912BytesForOneByte) {
    OVMemHdr* header = Build(TrackModeGuardedProcessHeap, 1);
    ASSERT_NE(nullptr, header);
    uintptr_t base = address(header->allocPtr);
    ASSERT_EQ(0u, base % 16) << "the simulated heap hands out 16-byte aligned blocks";
    EXPECT_EQ(912u, HeapSize(GetProcessHeap(), 0, header->allocPtr)) << "bytes taken from the heap";
    EXPECT_EQ(base + 8, address(header)) << "header offset from the base";
    EXPECT_EQ(base + 512, address(header->userPtr)) << "user block offset from the base";
    EXPECT_EQ(399u, header->tailGuardSize);
    EXPECT_EQ(address(header->userPtr) + 1, address(header->tailGuard));
    EXPECT_EQ(base + 912, address(header->tailGuard) + header->tailGuardSize)
        << "the tail guard must end the block";
    EXPECT_TRUE(allBytesAre(header->tailGuard, header->tailGuardSize, 0xD0)) << "tail guard fill";
    EXPECT_EQ(384u, header->headGuardSize);
    EXPECT_TRUE(allBytesAre(header->headGuard, 384, 0xD0)) << "head guard fill";
    EXPECT_EQ(BlockSourceTrackHeap, header->source);
}

TEST_F(TrackedBlockTest, GuardedHeapModeLeavesNoSlackForSixteenBytes) {
    OVMemHdr* header = Build(TrackModeGuardedProcessHeap, 16);
    ASSERT_NE(nullptr, header);
    uintptr_t base = address(header->allocPtr);
    EXPECT_EQ(384u, header->tailGuardSize);
    EXPECT_EQ(base + 24, address(header)) << "header offset from the base";
    EXPECT_EQ(base + expectedTotal(16, true), address(header->tailGuard) + header->tailGuardSize);
}

TEST_F(TrackedBlockTest, UnguardedHeapModeTakes528BytesForOneByte) {
    OVMemHdr* header = Build(TrackModeHeap, 1);
    ASSERT_NE(nullptr, header);
    EXPECT_EQ(528u, HeapSize(GetProcessHeap(), 0, header->allocPtr));
    EXPECT_EQ(0u, header->tailGuardSize);
    EXPECT_EQ(nullptr, header->tailGuard);
    EXPECT_EQ(384u, header->headGuardSize) << "the head guard size reads 384 in every mode";
    EXPECT_TRUE(allBytesAre(header->headGuard, 384, 0))
        << "the head guard must be left as the zeroed heap gave it";
    EXPECT_EQ(BlockSourceTrackHeap, header->source);
}

TEST_F(TrackedBlockTest, RuntimeHeapModeIsGuardedAndUsesMalloc) {
    OVMemHdr* header = Build(TrackModeGuardedRuntimeHeap, 1);
    ASSERT_NE(nullptr, header);
    EXPECT_EQ(BlockSourceRuntimeHeap, header->source);
    EXPECT_EQ(0u, winsim::CallCount("HeapAlloc")) << "mode 4 must not use the process heap";
    EXPECT_GE(malloc_usable_size(header->allocPtr), 912u);
    EXPECT_EQ(address(header->allocPtr) + 912, address(header->tailGuard) + header->tailGuardSize);
    EXPECT_TRUE(allBytesAre(header->headGuard, 384, 0xD0));
    EXPECT_TRUE(allBytesAre(header->tailGuard, header->tailGuardSize, 0xD0));
}

TEST_F(TrackedBlockTest, WithoutAHeapTheHeapModesUseMalloc) {
    trackMode = TrackModeHeap;
    OVMemBlock block;
    ASSERT_NE(nullptr, block.Allocate(10, nullptr));
    built.push_back(block.GetHeader());
    EXPECT_EQ(BlockSourceRuntimeHeap, block.GetHeader()->source);
    EXPECT_EQ(0u, winsim::CallCount("HeapAlloc"));
}

TEST_F(TrackedBlockTest, EveryModesLayoutHoldsForManySizes) {
    // Size and alignment; size 24 is over-aligned, the lead-in taking the extra room.
    const std::pair<uint64_t, uint64_t> rows[] = {{1, 16},  {2, 16},   {15, 16},  {16, 16},   {17, 16},
                                                  {31, 16}, {100, 16}, {511, 16}, {4095, 16}, {65536, 16},
                                                  {24, 32}, {24, 64},  {24, 4096}};
    for (TrackMode mode : {TrackModeHeap, TrackModeGuardedProcessHeap, TrackModeGuardedRuntimeHeap}) {
        bool guarded = mode != TrackModeHeap;
        for (auto [size, alignment] : rows) {
            OVMemHdr* header = Build(mode, size, nullptr, alignment);
            ASSERT_NE(nullptr, header) << "mode " << mode << " size " << size;
            uintptr_t base = address(header->allocPtr);
            uintptr_t user = address(header->userPtr);
            uintptr_t end = base + expectedTotal(size, guarded) - 16 + alignment;
            EXPECT_EQ(0u, user % alignment) << "mode " << mode << " size " << size;
            EXPECT_EQ(user - 504, address(header)) << "mode " << mode << " size " << size;
            EXPECT_GE(address(header) - base, 1u) << "lead-in, mode " << mode << " size " << size;
            EXPECT_LE(address(header) - base, alignment + 15) << "lead-in, mode " << mode << " size " << size;
            EXPECT_TRUE(allBytesAre(static_cast<uint8_t*>(header->allocPtr), address(header) - base, 0xD0))
                << "lead-in fill, mode " << mode << " size " << size;
            EXPECT_EQ(size, header->size);
            if (guarded) {
                EXPECT_EQ(end, address(header->tailGuard) + header->tailGuardSize)
                    << "mode " << mode << " size " << size;
                EXPECT_EQ(user + size, address(header->tailGuard));
                EXPECT_GE(header->tailGuardSize, 384u);
                EXPECT_LE(header->tailGuardSize, 383u + alignment);
            } else if (alignment == 16) {
                EXPECT_LE(user + size, end) << "the user block overruns its allocation";
                EXPECT_LE(end - (user + size), 15u) << "spare bytes after an unguarded block";
            }
        }
    }
}

TEST_F(TrackedBlockTest, HeaderFieldsOfANewBlock) {
    int marker = 0;
    OVMemHdr* header = Build(TrackModeGuardedProcessHeap, 40, &marker);
    ASSERT_NE(nullptr, header);
    EXPECT_EQ(0xAA, header->magic);
    EXPECT_EQ(1u, header->id);
    EXPECT_EQ(40u, header->size);
    EXPECT_EQ(&marker, header->caller) << "AllocateWithCaller must store the caller";
    EXPECT_EQ(0, header->release);
    EXPECT_EQ(0, header->underrun);
    EXPECT_EQ(0, header->overrun);
    EXPECT_EQ(nullptr, header->prev);
    EXPECT_EQ(nullptr, header->next);
    EXPECT_EQ(AllocKindScalar, header->allocKind);
}

TEST_F(TrackedBlockTest, AllocateAloneRecordsNoCaller) {
    UseMode(TrackModeHeap);
    OVMemBlock block;
    ASSERT_NE(nullptr, block.Allocate(8, trackHeap));
    built.push_back(block.GetHeader());
    EXPECT_EQ(nullptr, block.GetHeader()->caller);
}

TEST_F(TrackedBlockTest, GettersReportTheBlockOrNothing) {
    UseMode(TrackModeHeap);
    OVMemBlock block;
    EXPECT_EQ(0u, block.GetId());
    EXPECT_EQ(0u, block.GetSize());
    EXPECT_EQ(nullptr, block.GetUserPtr());
    EXPECT_EQ(nullptr, block.GetHeader());
    void* userPtr = block.Allocate(33, trackHeap);
    ASSERT_NE(nullptr, userPtr);
    built.push_back(block.GetHeader());
    EXPECT_EQ(1u, block.GetId());
    EXPECT_EQ(33u, block.GetSize());
    EXPECT_EQ(userPtr, block.GetUserPtr());
}

TEST_F(TrackedBlockTest, ZeroBytesYieldNullWithoutUsingAnId) {
    for (TrackMode mode : {TrackModeHeap, TrackModeGuardedProcessHeap, TrackModeGuardedRuntimeHeap}) {
        EXPECT_EQ(nullptr, Build(mode, 0)) << "mode " << mode;
    }
    EXPECT_EQ(0u, allocCounter);
    EXPECT_EQ(0u, winsim::CallCount("HeapAlloc"));
}

TEST_F(TrackedBlockTest, SizesWhoseBlockDoesNotFitFailInEveryMode) {
    winsim::SetDebuggerPresent(true);
    for (TrackMode mode : {TrackModeHeap, TrackModeGuardedProcessHeap, TrackModeGuardedRuntimeHeap}) {
        uint64_t overhead = 504 + (mode == TrackModeHeap ? 0 : 384);
        for (uint64_t size :
             {UINT64_MAX, UINT64_MAX - overhead, UINT64_MAX - overhead - 31, UINT64_MAX / 2}) {
            EXPECT_EQ(nullptr, Build(mode, size)) << "mode " << mode << " size " << size;
        }
    }
    EXPECT_EQ(0u, allocCounter) << "a failed allocation used an id";
    EXPECT_EQ(1u, winsim::CallCount("DebugBreak")) << "only the first failure may run the in-use dump";
}

TEST_F(TrackedBlockTest, HeapFailureYieldsNullAndLeavesNoGapInTheIds) {
    winsim::SetDebuggerPresent(true);
    OVMemHdr* first = Build(TrackModeHeap, 10);
    winsim::FailCall("HeapAlloc", ERROR_NOT_ENOUGH_MEMORY, 0, 2);
    EXPECT_EQ(nullptr, Build(TrackModeHeap, 10));
    EXPECT_EQ(nullptr, Build(TrackModeHeap, 10));
    OVMemHdr* second = Build(TrackModeHeap, 10);
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(1u, first->id);
    EXPECT_EQ(2u, second->id) << "failed allocations left a gap in the ids";
    EXPECT_EQ(1u, winsim::CallCount("DebugBreak")) << "the first failure, and only it, runs the in-use dump";
}

TEST_F(TrackedBlockTest, FailureWithoutADebuggerDoesNotEndTheProcess) {
    winsim::FailCall("HeapAlloc", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(nullptr, Build(TrackModeHeap, 10));
    EXPECT_EQ(1u, winsim::CallCount("IsDebuggerPresent"));
    EXPECT_EQ(0u, winsim::CallCount("DebugBreak"));
}

TEST_F(TrackedBlockTest, IdsRiseByOneAcrossModes) {
    uint32_t expected = 1;
    for (TrackMode mode :
         {TrackModeHeap, TrackModeGuardedProcessHeap, TrackModeGuardedRuntimeHeap, TrackModeHeap}) {
        OVMemHdr* header = Build(mode, 7);
        ASSERT_NE(nullptr, header);
        EXPECT_EQ(expected++, header->id) << "mode " << mode;
    }
    EXPECT_EQ(4u, allocCounter);
}

TEST_F(TrackedBlockTest, ThreadsAllocatingAtOnceGetDistinctIds) {
    UseMode(TrackModeGuardedRuntimeHeap);
    constexpr int perThread = 500;
    std::vector<uint32_t> ids[4];
    std::vector<OVMemHdr*> headers[4];
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) {
            }
            for (int i = 0; i < perThread; ++i) {
                OVMemBlock block;
                if (block.Allocate(24, nullptr) != nullptr) {
                    ids[t].push_back(block.GetId());
                    headers[t].push_back(block.GetHeader());
                }
            }
        });
    }
    go.store(true);
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::set<uint32_t> distinct;
    for (int t = 0; t < 4; ++t) {
        distinct.insert(ids[t].begin(), ids[t].end());
        built.insert(built.end(), headers[t].begin(), headers[t].end());
    }
    EXPECT_EQ(4u * perThread, distinct.size()) << "two blocks received the same id";
    EXPECT_EQ(4u * perThread, allocCounter);
    EXPECT_EQ(1u, *distinct.begin());
    EXPECT_EQ(4u * perThread, *distinct.rbegin());
}

TEST_F(TrackedBlockTest, HeaderLookupAcceptsOnlyPointersThatPointBack) {
    OVMemHdr* header = Build(TrackModeHeap, 64);
    ASSERT_NE(nullptr, header);
    OVMemBlock lookup;
    EXPECT_EQ(header, lookup.HeaderFromUserPtr(header->userPtr));

    alignas(16) unsigned char foreign[1024] = {};
    void* pointer = foreign + 512;
    EXPECT_EQ(nullptr, lookup.HeaderFromUserPtr(pointer)) << "a pointer the tracker did not hand out";
    // The same memory once the 8 bytes 432 bytes before the pointer hold it: then it passes for a block.
    std::memcpy(foreign + 512 - 432, &pointer, sizeof pointer);
    EXPECT_EQ(reinterpret_cast<OVMemHdr*>(foreign + 8), lookup.HeaderFromUserPtr(pointer));

    EXPECT_EQ(nullptr, lookup.HeaderFromUserPtr(nullptr));
    EXPECT_EQ(nullptr, lookup.HeaderFromUserPtr(reinterpret_cast<void*>(504))) << "a header at address 0";
}

TEST_F(TrackedBlockTest, FreeingThroughTheObjectReturnsTheMemoryToItsSource) {
    UseMode(TrackModeGuardedProcessHeap);
    size_t heapBlocks = winsim::HeapBlockCount();
    OVMemBlock first;
    ASSERT_NE(nullptr, first.Allocate(10, trackHeap));
    OVMemBlock second;
    void* userPtr = second.Allocate(20, trackHeap);
    ASSERT_NE(nullptr, userPtr);
    EXPECT_EQ(heapBlocks + 2, winsim::HeapBlockCount());
    first.Free();
    EXPECT_EQ(nullptr, first.GetHeader()) << "Free must forget the header";
    OVMemBlock other;
    other.FreeUserPtr(userPtr);
    EXPECT_EQ(heapBlocks, winsim::HeapBlockCount()) << "process-heap blocks must go back with HeapFree";
}

TEST_F(TrackedBlockTest, AllocatorObjectsAreDestroyedWithoutTheirBlock) {
    UseMode(TrackModeHeap);
    OVMemBlock* block = new OVMemBlock;
    ASSERT_NE(nullptr, block);
    ASSERT_NE(nullptr, block->Allocate(10, trackHeap));
    OVMemHdr* header = block->GetHeader();
    delete block;
    built.push_back(header);
    EXPECT_EQ(10u, header->size) << "destroying the object touched the block";
}

// The slot of each virtual operation, read from the representation of its pointer to member (the
// Itanium C++ ABI: one plus the byte offset of the slot in the virtual table).
template <class Member> ptrdiff_t slotOf(Member member) {
    struct Representation {
        ptrdiff_t pointer;
        ptrdiff_t adjustment;
    } representation;
    static_assert(sizeof(member) == sizeof(representation), "Itanium pointer to member");
    std::memcpy(&representation, &member, sizeof representation);
    return (representation.pointer - 1) / static_cast<ptrdiff_t>(sizeof(void*));
}

TEST(TrackedBlockSlots, VirtualOperationsKeepTheirSlotOrder) {
    EXPECT_EQ(0, slotOf(&OVMemBlock::GetId));
    EXPECT_EQ(1, slotOf(&OVMemBlock::GetSize));
    EXPECT_EQ(2, slotOf(&OVMemBlock::AllocateWithCaller));
    EXPECT_EQ(3, slotOf(&OVMemBlock::Allocate));
    EXPECT_EQ(4, slotOf(&OVMemBlock::FreeUserPtr));
    EXPECT_EQ(5, slotOf(&OVMemBlock::Free));
    EXPECT_EQ(6, slotOf(&OVMemBlock::GetUserPtr));
    EXPECT_EQ(7, slotOf(&OVMemBlock::HeaderFromUserPtr));
    EXPECT_EQ(8, slotOf(&OVMemBlock::GetHeader));
    EXPECT_EQ(3, slotOf(&OVMemBlockVirtualAlloc::Allocate)) << "the page-guarded allocator overrides slot 3";
    EXPECT_EQ(sizeof(void*) * 3, sizeof(OVMemBlock))
        << "the allocator holds its table pointer, the header and the alignment";
    EXPECT_EQ(sizeof(OVMemBlock), sizeof(OVMemBlockVirtualAlloc))
        << "the page-guarded allocator adds no field";
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

    OVMemHdr* Build(uint64_t size, uint64_t alignment = 16) {
        OVMemBlockVirtualAlloc block;
        block.SetAlignment(alignment);
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
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    for (uint64_t size : {0u, 1u, 13u, 100u, 4000u, 5000u, 12345u}) {
        // The last rows over-aligned: the lead-in takes the extra room.
        uint64_t alignment = size == 5000u ? 64 : size == 12345u ? 2 * page : 16;
        OVMemHdr* header = Build(size, alignment);
        ASSERT_NE(nullptr, header) << "size " << size;
        EXPECT_EQ(0u, address(header->userPtr) % alignment) << "size " << size;
        EXPECT_EQ(address(header->userPtr) - 504, address(header)) << "size " << size;
        uintptr_t pageEnd = address(header->tailGuard) + header->tailGuardSize;
        EXPECT_EQ(0u, pageEnd % page) << "size " << size;
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

// A write that runs further than the tail guard, or below the lead-in, meets a no-access page and ends the
// process at once.
TEST_F(PageGuardedBlockTest, WritesOntoTheNoAccessPagesFault) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    OVMemHdr* header = Build(100);
    ASSERT_NE(nullptr, header);
    volatile uint8_t* lastGuardByte = header->tailGuard + header->tailGuardSize - 1;
    *lastGuardByte = 0x11; // still inside the block: no fault, found by the guard check
    for (bool pastTheTailGuard : {true, false}) {
        EXPECT_EXIT(
            {
                UseMode(TrackModePageGuarded);
                OVMemHdr* victim = Build(100);
                volatile uint8_t* target = pastTheTailGuard
                                               ? victim->tailGuard + victim->tailGuardSize
                                               : static_cast<uint8_t*>(victim->allocPtr) +
                                                     static_cast<uintptr_t>(sysconf(_SC_PAGESIZE)) - 1;
                *target = 0x11;
                std::exit(0);
            },
            ::testing::KilledBySignal(SIGSEGV), "")
            << (pastTheTailGuard ? "past the tail guard" : "below the lead-in");
    }
}

} // namespace
