// Releases that arrive after the collector's teardown: each is reported, the first opens with a banner,
// and the one that empties the list closes the files and the report.
#include "release_checks_support.h"

using namespace release_checks_test;

namespace {

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
