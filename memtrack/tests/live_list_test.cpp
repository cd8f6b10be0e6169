// The live-block list as the tracked pair keeps it: appending in allocation order, unlinking from any
// place, the list rebuilt from the live index when links were written over, refused releases that leave a
// block listed, and threads that allocate and release at once; and the in-use dump: one "MemoryInUse"
// record per live block and the summary, on the debugger output only.
#include "memtrack/live_list.h"
#include "release_checks_support.h"

#include <atomic>
#include <set>
#include <thread>
#include <vector>

using namespace release_checks_test;

namespace {

class LiveListTest : public ReleaseChecksFixture {};

TEST_F(LiveListTest, BlocksAreAppendedInAllocationOrder) {
    tracker_test::UseMode(TrackModeGuardedProcessHeap);
    OVMemHdr* x = HeaderOf(Allocate(10));
    OVMemHdr* y = HeaderOf(Allocate(20));
    OVMemHdr* z = HeaderOf(Allocate(30));
    EXPECT_EQ(x, liveHead);
    EXPECT_EQ(z, liveTail);
    EXPECT_EQ(nullptr, x->prev) << "the first block is linked with no predecessor";
    EXPECT_EQ(y, x->next);
    EXPECT_EQ(x, y->prev);
    EXPECT_EQ(z, y->next);
    EXPECT_EQ(y, z->prev);
    EXPECT_EQ(nullptr, z->next) << "the last block has no successor";
    Release(x->userPtr);
    Release(y->userPtr);
    Release(z->userPtr);
}

TEST_F(LiveListTest, ReleasingTheMiddleThenTheTailThenTheLastEmptiesTheList) {
    tracker_test::UseMode(TrackModeHeap);
    OVMemHdr* x = HeaderOf(Allocate(10));
    OVMemHdr* y = HeaderOf(Allocate(10));
    OVMemHdr* z = HeaderOf(Allocate(10));
    Release(y->userPtr);
    EXPECT_EQ(z, x->next) << "releasing the middle block must link its neighbours";
    EXPECT_EQ(x, z->prev);
    Release(z->userPtr);
    EXPECT_EQ(x, liveHead);
    EXPECT_EQ(x, liveTail) << "releasing the tail must make its predecessor the tail";
    EXPECT_EQ(nullptr, x->next);
    Release(x->userPtr);
    EXPECT_EQ(nullptr, liveHead);
    EXPECT_EQ(nullptr, liveTail);
}

TEST_F(LiveListTest, ReleasingTheHeadMovesTheHeadToItsSuccessor) {
    tracker_test::UseMode(TrackModeGuardedRuntimeHeap);
    OVMemHdr* x = HeaderOf(Allocate(10));
    OVMemHdr* y = HeaderOf(Allocate(10));
    Release(x->userPtr);
    EXPECT_EQ(y, liveHead);
    EXPECT_EQ(y, liveTail);
    Release(y->userPtr);
    EXPECT_EQ(nullptr, liveHead);
}

// Each row writes over links of one of four blocks with an address that must never be followed, releases
// one of them (or runs the in-use dump), and expects the others listed in allocation order.
TEST_F(LiveListTest, ListIsRebuiltInAllocationOrderWhenLinksWereWrittenOver) {
    const struct {
        const char* what;
        int damaged;   // whose links are written over
        bool previous; // which of them
        bool next;
        int released;
    } rows[] = {
        {"the released block's links", 1, true, true, 1},
        {"the released block's next", 1, false, true, 1},
        {"the released head's next", 0, false, true, 0},
        {"the released tail's previous", 3, true, false, 3},
        {"a neighbour's link back", 2, true, false, 1},
        {"another block's next, found by the in-use dump", 2, false, true, -1},
    };
    for (const auto& row : rows) {
        tracker_test::UseMode(TrackModeHeap);
        std::vector<OVMemHdr*> blocks;
        for (int i = 0; i < 4; ++i) {
            blocks.push_back(HeaderOf(Allocate(10)));
        }
        auto* unmapped = reinterpret_cast<OVMemHdr*>(uintptr_t{0x4141414141414141});
        OVMemHdr* damaged = blocks[row.damaged];
        damaged->prev = row.previous ? unmapped : damaged->prev;
        damaged->next = row.next ? unmapped : damaged->next;
        if (row.released >= 0) {
            Release(blocks[row.released]->userPtr);
            blocks.erase(blocks.begin() + row.released);
        } else {
            dumpInUse();
            EXPECT_NE(std::string::npos, winsim::DebugOutput().find("4 allocations active")) << row.what;
        }
        EXPECT_EQ(blocks.front(), liveHead) << row.what;
        EXPECT_EQ(blocks.back(), liveTail) << row.what;
        for (size_t i = 0; i + 1 < blocks.size(); ++i) {
            EXPECT_EQ(blocks[i + 1], blocks[i]->next) << row.what << ", block " << i;
            EXPECT_EQ(blocks[i], blocks[i + 1]->prev) << row.what << ", block " << i + 1;
        }
        EXPECT_EQ(nullptr, blocks.back()->next) << row.what;
        for (OVMemHdr* header : blocks) {
            Release(header->userPtr);
        }
        EXPECT_EQ(nullptr, liveHead) << row.what;
    }
}

TEST_F(LiveListTest, RefusedReleaseLeavesTheBlockListedAndNoRecord) {
    tracker_test::UseMode(TrackModeHeap);
    unsigned char* array = Allocate(16, AllocKindArray);
    Release(array, AllocKindScalar);
    EXPECT_EQ(HeaderOf(array), liveHead) << "a block released with the wrong form must stay on the list";
    std::string output = winsim::DebugOutput();
    EXPECT_NE(std::string::npos, output.find("refused")) << output;
    EXPECT_EQ(std::string::npos, output.find("Memory")) << "a refused release wrote a record: " << output;
    EXPECT_EQ(0u, winsim::CallCount("DebugBreak")) << "no debugger: nothing may stop";
    Release(array, AllocKindArray);
    EXPECT_EQ(nullptr, liveHead);
}

TEST_F(LiveListTest, ThreadsAllocatingAndReleasingAtOnceLeaveAnEmptyList) {
    tracker_test::UseMode(TrackModeGuardedProcessHeap);
    size_t heapBlocks = winsim::HeapBlockCount();
    constexpr int threadCount = 4;
    constexpr int rounds = 300;
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&] {
            while (!go.load()) {
            }
            std::vector<unsigned char*> kept;
            for (int i = 0; i < rounds; ++i) {
                kept.push_back(Allocate(16 + i % 7));
                if (i % 3 == 2) {
                    Release(kept.front());
                    kept.erase(kept.begin());
                }
            }
            for (unsigned char* block : kept) {
                Release(block);
            }
        });
    }
    go.store(true);
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(nullptr, liveHead) << "blocks stayed on the list";
    EXPECT_EQ(nullptr, liveTail);
    EXPECT_EQ(static_cast<ULONG>(threadCount * rounds), allocCounter);
    EXPECT_EQ(heapBlocks, winsim::HeapBlockCount());
    EXPECT_EQ(std::string::npos, winsim::DebugOutput().find("Memory")) << "intact blocks were reported";
}

class InUseDumpTest : public ReleaseChecksFixture {};

TEST_F(InUseDumpTest, ListsEveryLiveBlockAndTheirTotal) {
    UseLogDirectory();
    tracker_test::UseMode(TrackModeGuardedProcessHeap);
    unsigned char* blocks[] = {Allocate(10), Allocate(20), Allocate(30)};
    winsim::ClearDebugOutput();
    dumpInUse();
    std::string output = winsim::DebugOutput();
    EXPECT_EQ(3u, Occurrences(output, "MemoryInUse allocPtr=\"0x")) << output;
    size_t ten = output.find("module=\"vracoins.dll\" id=\"1\" size=\"10\"");
    size_t thirty = output.find("id=\"3\" size=\"30\"");
    EXPECT_LT(ten, thirty) << "records must follow the list's order:\n" << output;
    const std::string summary = "3 allocations active, consuming 60 bytes\r\n";
    ASSERT_GE(output.size(), summary.size());
    EXPECT_EQ(summary, output.substr(output.size() - summary.size()));
    EXPECT_TRUE(filesIn("Logs").empty()) << "the dump must not write to the files";
    EXPECT_EQ(0u, winsim::CallCount("DebugBreak"));
    for (unsigned char* block : blocks) {
        Release(block);
    }
}

TEST_F(InUseDumpTest, EmptyListGivesTheSummaryAloneAfterStoppingInAnAttachedDebugger) {
    winsim::SetDebuggerPresent(true);
    dumpInUse();
    EXPECT_EQ("0 allocations active, consuming 0 bytes\r\n", winsim::DebugOutput());
    EXPECT_EQ(1u, winsim::CallCount("DebugBreak"));
}

TEST_F(InUseDumpTest, RunsAfterTeardownUnderALockOfItsOwn) {
    tracker_test::UseMode(TrackModeHeap);
    unsigned char* block = Allocate(5);
    collectorLock.remove();
    collectorTornDown = true;
    dumpInUse();
    EXPECT_NE(std::string::npos, winsim::DebugOutput().find("1 allocations active, consuming 5 bytes\r\n"));
    EXPECT_FALSE(collectorLock.ready()) << "the lock the dump set up for itself outlived the dump";
    collectorTornDown = false;
    Release(block);
}

TEST_F(InUseDumpTest, AllocationReachingBreakOnAllocIdDumpsBeforeTheBlockJoins) {
    tracker_test::UseMode(TrackModeHeap);
    unsigned char* first = Allocate(7);
    breakOnAllocId = 2;
    unsigned char* second = Allocate(9);
    std::string output = winsim::DebugOutput();
    EXPECT_EQ(1u, Occurrences(output, "MemoryInUse ")) << output;
    EXPECT_NE(std::string::npos, output.find("1 allocations active, consuming 7 bytes\r\n")) << output;
    Release(first);
    Release(second);
}

} // namespace
