// The in-use dump: one "MemoryInUse" record per live block and the summary, on the debugger output only.
#include "memtrack/live_list.h"
#include "release_checks_support.h"

using namespace release_checks_test;

namespace {

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

TEST_F(InUseDumpTest, EmptyListGivesTheSummaryAlone) {
    dumpInUse();
    EXPECT_EQ("0 allocations active, consuming 0 bytes\r\n", winsim::DebugOutput());
}

TEST_F(InUseDumpTest, StopsInAnAttachedDebuggerFirst) {
    winsim::SetDebuggerPresent(true);
    dumpInUse();
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
