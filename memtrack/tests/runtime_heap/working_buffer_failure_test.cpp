// The leak log when the run-time heap cannot give a working buffer: the step that needs it is skipped,
// and the rest of the record still goes where it can. Also the longest debugger text, whose copy is
// watched being asked for (and refused) rather than made, and the live index, whose growth is watched
// and refused.
#include "runtime_heap_failure.h"

#include "memtrack/debug_text.h"
#include "memtrack/tests/leak_log_test_support.h"
#include "memtrack/tests/tracker_test_support.h"

#include <vector>

#include <string>

namespace {

using leak_log_test::LeakLogFixture;
using leak_log_test::readHostFile;
using leak_log_test::readHostText;

const std::string banner = "\r\n******* Leak Report *******\r\n";

std::string leakLine(uint32_t id, uint64_t size) {
    return "MemoryLeak module=\"vracoins.dll\" id=\"" + std::to_string(id) + "\" size=\"" +
           std::to_string(size) +
           "\" release=\"0\" function=\"\" file=\"\" line=\"0\" overrun=\"0\" underrun=\"0\"\r\n";
}

class WorkingBufferFailure : public LeakLogFixture {
  protected:
    void SetUp() override {
        LeakLogFixture::SetUp();
        runtime_heap::reset();
    }
    void TearDown() override {
        runtime_heap::reset();
        LeakLogFixture::TearDown();
    }

    // The raw record file and the text log file in C:\Temp\, as host paths.
    void logFiles(std::filesystem::path* raw, std::filesystem::path* text) {
        std::vector<std::string> names = filesIn("Temp");
        ASSERT_EQ(2u, names.size()) << "expected the pair of log files";
        *raw = hostPath("Temp", names[0]);
        *text = hostPath("Temp", names[1]);
    }
};

TEST_F(WorkingBufferFailure, DebugTextAsksForACopyUpToLength2147348223AndNotBeyond) {
    // No copy of a gigabyte or more is made in this test: such requests are refused.
    runtime_heap::failRequestsFrom(1u << 30);
    const char text[] = "never read: no copy is made";

    writeDebugText(text, 2147348224u);
    EXPECT_EQ(0u, runtime_heap::requestsOf(2147348225u)) << "a length of 2147348224 must be refused unasked";

    writeDebugText(text, 2147348223u);
    EXPECT_EQ(1u, runtime_heap::requestsOf(2147348224u))
        << "a length of 2147348223 must ask for its copy of length + 1 bytes";
    EXPECT_EQ(0u, winsim::CallCount("OutputDebugStringA")) << "nothing may be sent without a copy";
}

TEST_F(WorkingBufferFailure, DebugTextWithoutItsCopySendsNothing) {
    runtime_heap::failRequestsOf(6);
    writeDebugText("hello", 5);
    EXPECT_EQ(1u, runtime_heap::requestsOf(6));
    EXPECT_EQ(0u, winsim::CallCount("OutputDebugStringA"));
    writeDebugText("hello", 5);
    EXPECT_EQ("hello", winsim::DebugOutput()) << "the next text is sent again";
}

TEST_F(WorkingBufferFailure, AFormatterWithoutItsBufferLeavesOnlyTheRawRecord) {
    runtime_heap::failRequestsOf(recordTextCapacity);
    OVMemHdr* header = makeHeader(7, 24);
    writeBlockRecord(header, MemoryLeakRecord);

    std::filesystem::path raw, text;
    logFiles(&raw, &text);
    std::vector<uint8_t> bytes = readHostFile(raw);
    ASSERT_EQ(504u, bytes.size()) << "the raw record is written before the line is formatted";
    EXPECT_EQ(0, std::memcmp(bytes.data(), header, 504));
    EXPECT_EQ(banner, readHostText(text)) << "the text log file gets nothing for the record";
    EXPECT_EQ("", winsim::DebugOutput()) << "the debugger gets nothing for the record";

    writeBlockRecord(makeHeader(8, 10), MemoryLeakRecord);
    EXPECT_EQ(banner + leakLine(8, 10), readHostText(text)) << "the next record is written whole";
    EXPECT_EQ(1008u, readHostFile(raw).size());
}

TEST_F(WorkingBufferFailure, ARecordWithoutItsDebuggerCopyStillReachesBothFiles) {
    std::string line = leakLine(7, 24);
    runtime_heap::failRequestsOf(line.size() + 1);
    writeBlockRecord(makeHeader(7, 24), MemoryLeakRecord);
    std::filesystem::path raw, text;
    logFiles(&raw, &text);
    EXPECT_EQ(504u, readHostFile(raw).size());
    EXPECT_EQ(banner + line, readHostText(text));
    EXPECT_EQ("", winsim::DebugOutput());
}

TEST_F(WorkingBufferFailure, NoBufferForTheFileNamesDropsTheRecordAndTheNextTriesAgain) {
    setCollectorRegistered(true);
    runtime_heap::failRequestsOf(520);
    writeBlockRecord(makeHeader(1, 10), MemoryLeakRecord);
    EXPECT_EQ(0u, winsim::CallCount("CreateFileA"));
    EXPECT_EQ("", winsim::DebugOutput()) << "a record whose files cannot be named reaches no channel";
    EXPECT_EQ(nullptr, rawLogFile);

    writeBlockRecord(makeHeader(2, 20), MemoryLeakRecord);
    std::filesystem::path raw, text;
    logFiles(&raw, &text);
    EXPECT_EQ(banner + leakLine(2, 20), readHostText(text));
}

TEST_F(WorkingBufferFailure, AnAllocationWhoseIndexCannotGrowFailsAndGivesItsMemoryBack) {
    tracker_test::ResetTrackerState();
    tracker_test::UseMode(TrackModeHeap);
    // The first table holds 64 entries and is kept at most half full; the 33rd block needs the next.
    const size_t firstTable = 64 * sizeof(LiveBlock);
    runtime_heap::failRequestsOf(2 * firstTable);
    size_t heapBlocks = winsim::HeapBlockCount();
    std::vector<void*> blocks;
    uint32_t id = 0;
    for (int i = 0; i < 32; ++i) {
        blocks.push_back(trackedAllocate(8, AllocKindScalar, nullptr, &id));
        ASSERT_NE(nullptr, blocks.back());
    }
    EXPECT_EQ(1u, runtime_heap::requestsOf(firstTable)) << "one table for the first 32 blocks";
    EXPECT_EQ(nullptr, trackedAllocate(8, AllocKindScalar, nullptr, &id)) << "the index could not grow";
    EXPECT_EQ(1u, runtime_heap::requestsOf(2 * firstTable));
    EXPECT_EQ(heapBlocks + 32, winsim::HeapBlockCount()) << "the failed block's memory was kept";
    EXPECT_EQ("", winsim::DebugOutput()) << "an allocation failure is not reported";
    blocks.push_back(trackedAllocate(8, AllocKindScalar, nullptr, &id));
    ASSERT_NE(nullptr, blocks.back()) << "the next allocation grows the index";
    EXPECT_EQ(33u, liveIndex.count);
    for (void* block : blocks) {
        void* location = block;
        trackedRelease(&location, AllocKindScalar);
    }
    EXPECT_EQ(nullptr, liveHead);
    EXPECT_EQ(heapBlocks, winsim::HeapBlockCount());
    tracker_test::ResetTrackerState();
}

TEST_F(WorkingBufferFailure, NoBufferForAModulePathGivesNoPath) {
    runtime_heap::failRequestsOf(modulePathCapacity);
    EXPECT_EQ(nullptr, getModuleFileNameCopy(nullptr));
    EXPECT_EQ(0u, winsim::CallCount("GetModuleFileNameA")) << "no buffer, no question";
}

} // namespace
