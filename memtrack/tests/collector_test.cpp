// The collector in this process: what its construction sets up, the final report of its destruction, and
// the flags that tell the tracked pair whether a collector is alive.
#include "memtrack/collector.h"
#include "memtrack/symbols.h"
#include "release_checks_support.h"

#include <new>

using namespace release_checks_test;

namespace {

const std::string rule = "****!!!!****!!!!****!!!!****";
const std::string opening = "\r\n" + rule + " Starting memory allocation tracking reporting " + rule + "\r\n";
const std::string closing =
    "\r\n" + rule + " Completed memory allocation tracking reporting " + rule + "\r\n";

class CollectorTest : public ReleaseChecksFixture {
  protected:
    void SetUp() override {
        ReleaseChecksFixture::SetUp();
        // No collector has lived yet.
        collectorLock.remove();
        collectorTornDown = true;
        teardownBannerPending = false;
    }
    void TearDown() override {
        if (constructed) {
            Destroy();
        }
        liveHead = nullptr;
        liveTail = nullptr;
        ReleaseChecksFixture::TearDown();
    }
    OVMemCollector* Construct() {
        constructed = true;
        return new (storage) OVMemCollector();
    }
    void Destroy() {
        constructed = false;
        reinterpret_cast<OVMemCollector*>(storage)->~OVMemCollector();
    }

    alignas(OVMemCollector) unsigned char storage[sizeof(OVMemCollector)];
    bool constructed = false;
};

TEST_F(CollectorTest, ConstructionWithTrackingOnSetsUpTheTracker) {
    tracker_test::UseMode(TrackModeHeap);
    winsim::PlantLibrary("dbghelp.dll");
    OVMemCollector* collector = Construct();
    EXPECT_EQ(collector, moduleCollector);
    EXPECT_FALSE(collectorTornDown);
    EXPECT_FALSE(teardownBannerPending);
    EXPECT_TRUE(collectorLock.ready());
    EXPECT_NE(nullptr, symbolResolver) << "the symbol resolver was not set up";
    EXPECT_NE(nullptr, symbolProcess) << "the symbol handler was not initialised";
    EXPECT_EQ(1u, winsim::LibraryReferences("dbghelp.dll")) << "the debug-help library was not loaded";
    EXPECT_EQ(0u, winsim::PlantedLibraryLoadCount("dbghelp.dll")) << "the copy beside the program was loaded";
    EXPECT_NE('\0', collectorModulePath[0]) << "the module's own path was not captured";
    EXPECT_EQ("", winsim::DebugOutput()) << "construction reports nothing";
}

TEST_F(CollectorTest, TeardownMarksTheTrackerTornDownAndASecondConstructionClearsIt) {
    tracker_test::UseMode(TrackModeHeap);
    Construct();
    Destroy();
    EXPECT_EQ(nullptr, moduleCollector);
    EXPECT_TRUE(collectorTornDown);
    EXPECT_TRUE(teardownBannerPending);
    EXPECT_FALSE(collectorLock.ready()) << "the lock must be deleted";
    EXPECT_EQ(nullptr, symbolResolver);
    EXPECT_EQ(0u, winsim::SymbolHandlerCount()) << "the symbol handler must be ended";
    EXPECT_EQ(0u, winsim::LibraryReferences("dbghelp.dll")) << "the debug-help library must be freed";
    EXPECT_EQ(nullptr, processPath);
    EXPECT_EQ(nullptr, callerModulePath);
    Construct();
    EXPECT_FALSE(collectorTornDown);
    EXPECT_FALSE(teardownBannerPending);
    EXPECT_TRUE(collectorLock.ready());
}

TEST_F(CollectorTest, TrackingOffConstructsAndDestroysWithoutAWord) {
    tracker_test::UseMode(TrackModeOff);
    Construct();
    EXPECT_FALSE(collectorTornDown);
    EXPECT_FALSE(collectorLock.ready()) << "no lock with tracking off";
    EXPECT_EQ(nullptr, symbolResolver);
    Destroy();
    EXPECT_EQ("", winsim::DebugOutput());
    EXPECT_FALSE(collectorTornDown) << "with tracking off the tracker is never marked torn down";
    EXPECT_EQ(nullptr, moduleCollector);
    EXPECT_EQ(0u, winsim::CallCount("LoadLibraryExW"))
        << "the debug-help library was loaded without tracking";
}

TEST_F(CollectorTest, CleanReportNamesTheProcessAndModuleAndCountsEveryBlock) {
    tracker_test::UseMode(TrackModeGuardedProcessHeap);
    Construct();
    for (int i = 0; i < 42; ++i) {
        Release(Allocate(8));
    }
    Destroy();
    std::string output = winsim::DebugOutput();
    std::string modulePath = collectorModulePath;
    EXPECT_EQ(opening + "Process Name: " + leak_log_test::executablePath +
                  "\r\nCurrent Module Name: " + modulePath + "\r\nTotal number of allocations tracked: 42\n" +
                  "\r\n********** Clean System **********\r\n" + closing,
              output);
    EXPECT_TRUE(filesIn("Temp").empty());
    EXPECT_FALSE(winsim::ValueExists(HKEY_CURRENT_USER, u"Software\\Orvale\\ZID-Azo", u"LeakedModule"));
}

TEST_F(CollectorTest, LeakReportListsTheLiveBlocksInOrderAndKeepsTheFilesOpen) {
    UseLogDirectory();
    tracker_test::UseMode(TrackModeHeap);
    Construct();
    for (int i = 0; i < 39; ++i) {
        Release(Allocate(8));
    }
    unsigned char* blocks[] = {Allocate(10), Allocate(20), Allocate(30)};
    Destroy();
    std::string output = winsim::DebugOutput();
    size_t first = output.find("MemoryLeak module=\"vracoins.dll\" id=\"40\" size=\"10\" release=\"0\"");
    size_t second = output.find("MemoryLeak module=\"vracoins.dll\" id=\"41\" size=\"20\" release=\"0\"");
    size_t third = output.find("MemoryLeak module=\"vracoins.dll\" id=\"42\" size=\"30\" release=\"0\"");
    EXPECT_TRUE(first < second && second < third && third != std::string::npos) << output;
    EXPECT_NE(std::string::npos,
              output.find("Total number of allocations tracked: 42\nTotal leaked size: 60\n"
                          "\r\n********** Memory was leaked **********\r\n" +
                          closing))
        << output;
    EXPECT_TRUE(isLogFileOpen(rawLogFile) && isLogFileOpen(textLogFile))
        << "the files must stay open for the releases that still arrive";
    std::vector<std::string> files = filesIn("Logs");
    ASSERT_EQ(2u, files.size());
    for (unsigned char* block : blocks) {
        Release(block);
    }
    EXPECT_EQ(nullptr, rawLogFile) << "the last release after teardown closes the files";
    EXPECT_EQ(6 * sizeof(OVMemHdr), leak_log_test::readHostFile(hostPath("Logs", files[0])).size());
}

TEST_F(CollectorTest, LeakedTotalIsPrintedAsItsLowThirtyTwoBitsSigned) {
    tracker_test::UseMode(TrackModeHeap);
    Construct();
    appendLiveBlock(makeHeader(1, 2147483648ull), userBlockAlignment, nullptr);
    Destroy();
    EXPECT_NE(std::string::npos, winsim::DebugOutput().find("Total leaked size: -2147483648\n"));
}

// A symbol handler that cannot be had: the debug-help library does not load, lacks a function (the fourth
// looked up), or the handler fails.
TEST_F(CollectorTest, FailedSymbolHandlerLeavesCallSitesUnnamedButListsEveryBlock) {
    tracker_test::UseMode(TrackModeHeap);
    const struct {
        const char* failing;
        DWORD error;
        unsigned skip;
    } rows[] = {{"SymInitialize", ERROR_INVALID_PARAMETER, 0},
                {"LoadLibraryExW", ERROR_MOD_NOT_FOUND, 0},
                {"GetProcAddress", ERROR_PROC_NOT_FOUND, 3}};
    for (const auto& row : rows) {
        winsim::ClearDebugOutput();
        winsim::FailCall(row.failing, row.error, row.skip);
        allocCounter = 0;
        Construct();
        EXPECT_EQ(nullptr, symbolResolver) << row.failing;
        unsigned char* block = Allocate(24);
        Destroy();
        EXPECT_NE(std::string::npos,
                  winsim::DebugOutput().find("MemoryLeak module=\"vracoins.dll\" id=\"1\" size=\"24\" "
                                             "release=\"0\" function=\"\" file=\"\" line=\"0\""))
            << row.failing << ": " << winsim::DebugOutput();
        EXPECT_EQ(0u, winsim::LibraryReferences("dbghelp.dll")) << row.failing << ": the library was kept";
        Release(block);
        winsim::ClearFailures();
    }
}

TEST_F(CollectorTest, SymbolServerIsAppendedOnlyWhenTheSwitchIsSet) {
    tracker_test::UseMode(TrackModeHeap);
    EXPECT_FALSE(readAppendSymbolServerPath()) << "no key: off";
    tracker_test::SetSwitch(u"AppendTRVSymbolServerPath", 0);
    EXPECT_FALSE(readAppendSymbolServerPath());
    Construct();
    EXPECT_EQ(0u, winsim::CallCount("SymSetSearchPath"));
    Destroy();
    tracker_test::SetSwitch(u"AppendTRVSymbolServerPath", 1);
    EXPECT_TRUE(readAppendSymbolServerPath());
    Construct();
    EXPECT_EQ(1u, winsim::CallCount("SymSetSearchPath")) << "the symbol server was not appended";
}

} // namespace
