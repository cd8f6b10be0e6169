// The log location: conversion of UTF-16 and narrow data, the appended backslash, creation of the last
// level, the temporary directory when a parent is missing, and locations that cannot serve.
#include "memtrack/track_config.h"
#include "tracker_test_support.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

using namespace tracker_test;

namespace {

class LogDirectoryTest : public TrackerTest {
  protected:
    void SetUp() override {
        TrackerTest::SetUp();
        char pattern[] = "/tmp/memtrack-logdir-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        driveC = pattern;
        winsim::MapDrive('C', driveC);
        std::filesystem::create_directory(driveC + "/Temp");
        winsim::SetTempPath("C:\\Temp\\");
        SetSwitch(u"TrackMemoryAllocation", 1);
    }
    void TearDown() override {
        std::filesystem::remove_all(driveC);
        TrackerTest::TearDown();
    }

    void SetLocation(const std::u16string& text) {
        winsim::SetStringValue(HKEY_LOCAL_MACHINE, switchesKey, u"TrackMemoryLogLocation", text);
    }
    void SetLocationBytes(const winsim::Bytes& bytes) {
        winsim::SetValue(HKEY_LOCAL_MACHINE, switchesKey, u"TrackMemoryLogLocation", REG_BINARY, bytes);
    }
    std::string ReadLogDir() {
        EXPECT_TRUE(isTrackingOn());
        EXPECT_NE(nullptr, std::memchr(logDir, 0, sizeof logDir)) << "logDir holds no terminator";
        return std::string(logDir, strnlen(logDir, sizeof logDir));
    }
    bool HostDirectoryExists(const std::string& relative) {
        struct stat info;
        return stat((driveC + "/" + relative).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }

    std::string driveC;
};

TEST_F(LogDirectoryTest, LocationGetsOneBackslashAndIsCreated) {
    SetLocation(u"C:\\Logs");
    EXPECT_EQ("C:\\Logs\\", ReadLogDir());
    EXPECT_TRUE(HostDirectoryExists("Logs")) << "the log directory was not created";
}

TEST_F(LogDirectoryTest, LocationEndingInABackslashEndsInTwo) {
    SetLocation(u"C:\\Logs\\");
    EXPECT_EQ("C:\\Logs\\\\", ReadLogDir());
    EXPECT_TRUE(HostDirectoryExists("Logs"));
}

TEST_F(LogDirectoryTest, MissingParentSendsTheLogsToTheTemporaryDirectory) {
    SetLocation(u"C:\\No\\Such\\Logs");
    EXPECT_EQ("C:\\Temp\\", ReadLogDir());
    EXPECT_FALSE(HostDirectoryExists("No")) << "only the last level may be created";
}

TEST_F(LogDirectoryTest, MissingParentWithoutTemporaryDirectoryLeavesItEmpty) {
    winsim::SetTempPath("");
    SetLocation(u"C:\\No\\Such\\Logs");
    EXPECT_EQ("", ReadLogDir());
}

TEST_F(LogDirectoryTest, TemporaryDirectoryThatDoesNotFitLeavesItEmpty) {
    winsim::SetTempPath("C:\\" + std::string(270, 't'));
    SetLocation(u"C:\\No\\Such\\Logs");
    EXPECT_EQ("", ReadLogDir()) << "a temporary path that GetTempPathA could not store was kept";
}

TEST_F(LogDirectoryTest, ExistingDirectoryIsKept) {
    std::filesystem::create_directory(driveC + "/Logs");
    SetLocation(u"C:\\Logs");
    EXPECT_EQ("C:\\Logs\\", ReadLogDir());
}

TEST_F(LogDirectoryTest, LocationNamingAFileIsKeptAsItIs) {
    std::FILE* file = std::fopen((driveC + "/report.txt").c_str(), "w");
    ASSERT_NE(nullptr, file);
    std::fclose(file);
    SetLocation(u"C:\\report.txt");
    EXPECT_EQ("C:\\report.txt\\", ReadLogDir()) << "only a missing parent replaces the location";
}

TEST_F(LogDirectoryTest, NarrowLocationIsTakenAsItStands) {
    std::string text = "C:\\Narrow";
    winsim::Bytes bytes(text.begin(), text.end());
    bytes.push_back(0);
    SetLocationBytes(bytes);
    EXPECT_EQ("C:\\Narrow\\", ReadLogDir());
    EXPECT_TRUE(HostDirectoryExists("Narrow"));
}

TEST_F(LogDirectoryTest, WideLocationBeyondAsciiIsConvertedToTheAnsiCodePage) {
    SetLocation(u"C:\\Journ\u00E9es");
    EXPECT_EQ("C:\\Journ\xC3\xA9"
              "es\\",
              ReadLogDir())
        << "the simulation's ANSI code page is UTF-8";
    EXPECT_TRUE(HostDirectoryExists("Journ\xC3\xA9"
                                    "es"));
}

TEST_F(LogDirectoryTest, MissingLocationLeavesItEmpty) {
    EXPECT_EQ("", ReadLogDir());
    EXPECT_EQ(0u, winsim::CallCount("CreateDirectoryA"));
}

TEST_F(LogDirectoryTest, LocationTooLongForTheBufferLeavesItEmpty) {
    SetLocation(u"C:\\" + std::u16string(297, u'a'));
    EXPECT_EQ("", ReadLogDir());
    EXPECT_EQ(0u, winsim::CallCount("CreateDirectoryA"));
}

TEST_F(LogDirectoryTest, NarrowLocationWithoutTerminatorLeavesItEmpty) {
    winsim::Bytes bytes(260, 'a');
    bytes[0] = 'C';
    bytes[1] = ':';
    bytes[2] = '\\';
    SetLocationBytes(bytes);
    EXPECT_EQ("", ReadLogDir());
    EXPECT_EQ(0u, winsim::CallCount("CreateDirectoryA"));
}

TEST_F(LogDirectoryTest, NarrowLocationWithoutRoomForTheBackslashLeavesItEmpty) {
    std::string text = "C:\\" + std::string(256, 'b');
    winsim::Bytes bytes(text.begin(), text.end());
    bytes.push_back(0);
    ASSERT_EQ(260u, bytes.size());
    SetLocationBytes(bytes);
    EXPECT_EQ("", ReadLogDir());
}

TEST_F(LogDirectoryTest, WideLocationWithoutTerminatorIsReadToTheBuffersEnd) {
    std::u16string text = u"C:\\" + std::u16string(127, u'w');
    winsim::Bytes bytes = winsim::StringBytes(text, false);
    ASSERT_EQ(260u, bytes.size());
    SetLocationBytes(bytes);
    EXPECT_EQ("C:\\" + std::string(127, 'w') + "\\", ReadLogDir());
}

TEST_F(LogDirectoryTest, EmptyWideLocationNamesTheRootOfTheCurrentDrive) {
    SetLocation(u"");
    EXPECT_EQ("\\", ReadLogDir()) << "an empty location is a lone backslash once the separator is appended";
    EXPECT_EQ(0u, winsim::CallCount("GetTempPathA")) << "the root exists: no fallback";
}

} // namespace
