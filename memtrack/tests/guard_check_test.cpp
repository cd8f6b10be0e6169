// The guard check at release: which changed bytes it finds, the one record it writes, when it stops in
// the debugger, and that the block is freed in any case.
#include "release_checks_support.h"

using namespace release_checks_test;

namespace {

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

} // namespace
