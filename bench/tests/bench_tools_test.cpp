// The benchmark program's own arithmetic and measuring, which the published figures rest on: the ratios
// and their summary over rounds, the result lines exchanged with the peer process, the per-block figures
// of the block layout and of the call stacks, the measuring of a block's memory on the running process,
// and the reading of the call stacks kept from the tracker's in-use dump.
#include "bench/bench_results.h"
#include "bench/memory_overhead.h"
#include "bench/module_checks.h"
#include "bench/ratio_table.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

using namespace vracoins_bench;

namespace {

TEST(RatioSummary, MedianOfOddAndEvenCounts) {
    EXPECT_DOUBLE_EQ(3.0, Median({5.0, 1.0, 3.0})) << "the middle value of three";
    EXPECT_DOUBLE_EQ(2.5, Median({4.0, 1.0, 2.0, 3.0})) << "the mean of the two middle values of four";
    EXPECT_DOUBLE_EQ(0.0, Median({})) << "no values";
}

TEST(RatioSummary, RatiosAreTakenWithinEachRound) {
    std::vector<Timings> rounds = {
        {{"a", 12.0}, {"b", 10.0}}, {{"a", 30.0}, {"b", 20.0}}, {{"a", 9.0}, {"b", 10.0}}};
    ComparisonSummary summary = Summarise({"a / b", "a", "b", 1.1}, rounds);
    ASSERT_TRUE(summary.complete);
    EXPECT_DOUBLE_EQ(1.2, summary.medianRatio) << "median of the per-round ratios 1.2, 1.5 and 0.9";
    EXPECT_DOUBLE_EQ(0.9, summary.lowestRatio);
    EXPECT_DOUBLE_EQ(1.5, summary.highestRatio);
    EXPECT_DOUBLE_EQ(12.0, summary.measuredNanoseconds) << "median of the measured times";
    EXPECT_DOUBLE_EQ(10.0, summary.referenceNanoseconds) << "median of the reference times";
}

TEST(RatioSummary, TimesPerBlockDivideByTheBatch) {
    std::vector<Timings> rounds = {{{"a", 640.0}, {"b", 320.0}}};
    ComparisonSummary summary = Summarise({"a / b", "a", "b", 0, 64}, rounds);
    EXPECT_DOUBLE_EQ(2.0, summary.medianRatio) << "the ratio does not depend on the batch";
    EXPECT_DOUBLE_EQ(10.0, summary.measuredNanoseconds);
    EXPECT_DOUBLE_EQ(5.0, summary.referenceNanoseconds);
}

TEST(RatioSummary, ARoundWithoutOneSideLeavesTheComparisonIncomplete) {
    std::vector<Timings> rounds = {{{"a", 1.0}, {"b", 1.0}}, {{"a", 1.0}}};
    EXPECT_FALSE(Summarise({"a / b", "a", "b", 0}, rounds).complete);
}

TEST(RatioTable, MissedTargetsAreCountedAndMarked) {
    std::vector<Timings> rounds = {{{"fast", 10.0}, {"slow", 20.0}, {"base", 10.0}}};
    char* text = nullptr;
    size_t length = 0;
    FILE* out = open_memstream(&text, &length);
    ASSERT_NE(nullptr, out);
    int missed = PrintRatioTable(out,
                                 {{"fast / base", "fast", "base", 1.10},
                                  {"slow / base", "slow", "base", 1.10},
                                  {"absent / base", "absent", "base", 1.10},
                                  {"slow / fast", "slow", "fast", 0}},
                                 rounds);
    std::fclose(out);
    std::string table(text, length);
    std::free(text);
    EXPECT_EQ(2, missed) << "the slow side and the unmeasured one miss their target; the table reads\n"
                         << table;
    EXPECT_NE(std::string::npos,
              table.find("| fast / base | 1.000 | 1.000 - 1.000 | 10.0 ns | 10.0 ns | <= 1.10: met |"))
        << table;
    EXPECT_NE(std::string::npos, table.find("| slow / base | 2.000 |")) << table;
    EXPECT_NE(std::string::npos, table.find("MISSED")) << table;
    EXPECT_NE(std::string::npos, table.find("| absent / base | not measured |")) << table;
}

TEST(ResultLines, TimingsAndErrorsSurviveTheWayThroughText) {
    std::string text = "result\tpeer/size:16\t123.25\n"
                       "noise from the preloaded library\n"
                       "result\tpeer/size:4096/batch:64\t98765.5\n"
                       "error\tpeer/size:256: an allocation failed\n";
    std::vector<std::string> errors;
    Timings timings = ParseResultLines(text, &errors);
    ASSERT_EQ(2u, timings.size()) << "two result lines, one line of other output";
    EXPECT_DOUBLE_EQ(123.25, timings["peer/size:16"]);
    EXPECT_DOUBLE_EQ(98765.5, timings["peer/size:4096/batch:64"]);
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ("peer/size:256: an allocation failed", errors[0]);
}

// Figures of the block layout, from its examples: a 1-byte request takes 528 bytes in mode 1 and 912 in
// mode 3; a 16-byte one takes 928 in the guarded heap modes; with 4096-byte pages, a page-guarded block of
// 100 or of 0 bytes takes three pages, and one of 4096 bytes four.
TEST(LayoutFigures, MatchTheBlockLayoutExamples) {
    EXPECT_EQ(528u - 1, LayoutOverhead(1, 1, 4096));
    EXPECT_EQ(912u - 1, LayoutOverhead(3, 1, 4096));
    EXPECT_EQ(912u - 1, LayoutOverhead(4, 1, 4096));
    EXPECT_EQ(928u - 16, LayoutOverhead(3, 16, 4096));
    EXPECT_EQ(3u * 4096 - 100, LayoutOverhead(2, 100, 4096));
    EXPECT_EQ(3u * 4096, LayoutOverhead(2, 0, 4096));
    EXPECT_EQ(4u * 4096 - 4096, LayoutOverhead(2, 4096, 4096));
    EXPECT_EQ(0u, LayoutOverhead(0, 256, 4096)) << "tracking off adds nothing to the heap request";
}

// Test allocators whose cost per block is known.
size_t callStackRequest = 0;
void* CallStackEntry(size_t, int) {
    return std::malloc(callStackRequest);
}
void* MallocEntry(size_t size, int) {
    return std::malloc(size);
}
void FreeEntry(void* block, int) {
    std::free(block);
}
constexpr size_t kPagesPerMappedBlock = 3;
void* MapEntry(size_t, int) {
    size_t length = kPagesPerMappedBlock * static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* pages = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return pages == MAP_FAILED ? nullptr : pages;
}
void UnmapEntry(void* block, int) {
    munmap(block, kPagesPerMappedBlock * static_cast<size_t>(sysconf(_SC_PAGESIZE)));
}

TEST(BlockFootprint, HeapBlocksAreMeasuredWithTheHeapsOwnOverhead) {
    AllocatorEntry entry;
    entry.allocate = MallocEntry;
    entry.release = FreeEntry;
    BlockFootprint footprint;
    ASSERT_TRUE(MeasureBlockFootprint(entry, 1000, 512, &footprint));
    // malloc's chunk: the request, 8 bytes of size field, rounded up to 16.
    EXPECT_DOUBLE_EQ(1008.0, footprint.heapBytes) << "heap bytes in use per 1000-byte malloc block";
    EXPECT_DOUBLE_EQ(0.0, footprint.pageBytes) << "heap blocks map no pages of their own";
}

TEST(BlockFootprint, PagesMappedOutsideTheHeapAreMeasured) {
    AllocatorEntry entry;
    entry.allocate = MapEntry;
    entry.release = UnmapEntry;
    BlockFootprint footprint;
    ASSERT_TRUE(MeasureBlockFootprint(entry, 16, 256, &footprint));
    EXPECT_DOUBLE_EQ(static_cast<double>(kPagesPerMappedBlock * sysconf(_SC_PAGESIZE)), footprint.pageBytes)
        << "address space per block of three mapped pages";
    EXPECT_DOUBLE_EQ(0.0, footprint.heapBytes) << "mapped blocks take nothing from the heap";
}

// The figure for a call stack is what malloc takes for the tracker's request of 8 + 8 * depth bytes.
TEST(CallStackFigures, MatchWhatMallocTakesForTheStack) {
    struct Row {
        uint32_t depth;
        uint64_t figure;
    };
    const Row rows[] = {{1, 32}, {2, 32}, {8, 80}, {32, 272}};
    EXPECT_EQ(0u, CallStackOverhead(0)) << "no stack is kept";
    for (const Row& row : rows) {
        EXPECT_EQ(row.figure, CallStackOverhead(row.depth)) << "depth " << row.depth;
        callStackRequest = 8 + 8 * size_t{row.depth};
        AllocatorEntry entry;
        entry.allocate = CallStackEntry;
        entry.release = FreeEntry;
        BlockFootprint footprint;
        ASSERT_TRUE(MeasureBlockFootprint(entry, 1, 512, &footprint));
        EXPECT_DOUBLE_EQ(static_cast<double>(CallStackOverhead(row.depth)), footprint.heapBytes)
            << "heap bytes in use per stack of depth " << row.depth;
    }
}

// In-use dumps as the tracker writes them: a record line, then its frame lines.
TEST(StackInForce, TheFramesOfTheLastListedBlockAreCounted) {
    const std::string earlier = "MemoryInUse allocPtr=\"0x10\" id=\"1\" size=\"8\"\r\n"
                                "    #0 0x0000000000001000 module.so+0x1000 Reserve\r\n";
    auto frames = [](int count) {
        std::string lines;
        for (int i = 0; i < count; ++i) {
            lines += "    #" + std::to_string(i) + " 0x0000000000002000 bench+0x2000\r\n";
        }
        return lines;
    };
    const std::string listed = "MemoryInUse allocPtr=\"0x20\" id=\"9\" size=\"16\"\r\n";
    const std::string summary = "2 allocations active, consuming 24 bytes\r\n";
    struct Row {
        std::string dump;
        uint32_t set;
        bool asSet;
        const char* what;
    };
    const Row rows[] = {
        {earlier + listed + frames(8) + summary, 8, true, "eight frames of the last block, eight set"},
        {earlier + listed + frames(8) + summary, 32, false, "eight frames of the last block, 32 set"},
        {earlier + listed + frames(6) + summary, 8, false, "a walk that stopped early"},
        {earlier + listed + summary, 1, false, "the earlier block's frame is not the last block's"},
        {listed + summary, 0, true, "no stacks kept, none set"},
        {summary, 0, false, "no block listed"},
        {"", 0, false, "no dump at all"},
    };
    for (const Row& row : rows) {
        std::string problem;
        EXPECT_EQ(row.asSet, StackInForceIsStackSet(row.dump, row.set, &problem)) << row.what;
        EXPECT_EQ(row.asSet, problem.empty()) << row.what << ": " << problem;
    }
}

} // namespace
