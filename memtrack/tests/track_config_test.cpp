// The tracking switches: every row of the mode table, the key that is tried again while missing, the
// values that are not read while tracking is off, values of the wrong type or size, and reading once; and
// the log location: conversion of UTF-16 and narrow data, the appended backslash, creation of the last
// level for SYSTEM and the administrators alone, the temporary directory when a parent is missing, and
// locations that cannot serve.
#include "memtrack/track_config.h"
#include "tracker_test_support.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

using namespace tracker_test;

namespace {

class TrackConfigTest : public TrackerTest {};

TEST_F(TrackConfigTest, MissingKeyLeavesTrackingOffAndIsTriedAgainAtTheNextQuery) {
    EXPECT_FALSE(isTrackingOn());
    EXPECT_EQ(TrackModeUnread, trackMode) << "a missing key must leave the mode unread";
    EXPECT_EQ(nullptr, trackHeap);
    EXPECT_FALSE(isTrackingOn());
    EXPECT_EQ(2u, winsim::CallCount("RegOpenKeyExW")) << "each query must look for the missing key again";

    SetSwitch(u"TrackMemoryAllocation", 3);
    EXPECT_TRUE(isTrackingOn()) << "the key created after two queries was not found by the third";
    EXPECT_EQ(TrackModeGuardedProcessHeap, trackMode);
    EXPECT_EQ(GetProcessHeap(), trackHeap);
}

TEST_F(TrackConfigTest, KeyThatCannotBeOpenedCountsAsMissing) {
    SetSwitch(u"TrackMemoryAllocation", 1);
    winsim::FailCall("RegOpenKeyExW", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(isTrackingOn());
    EXPECT_EQ(TrackModeUnread, trackMode);
    EXPECT_TRUE(isTrackingOn()) << "the key was not tried again after a failed open";
    EXPECT_EQ(TrackModeHeap, trackMode);
}

TEST_F(TrackConfigTest, ModeTableRows) {
    struct Row {
        DWORD value;
        TrackMode mode;
        bool processHeap;
    };
    const Row rows[] = {
        {1, TrackModeHeap, true},
        {2, TrackModePageGuarded, false},
        {3, TrackModeGuardedProcessHeap, true},
        {4, TrackModeGuardedRuntimeHeap, false},
        {5, TrackModeHeap, true},
        {7, TrackModeHeap, true},
        {0xFFFFFFFF, TrackModeHeap, true},
    };
    for (const Row& row : rows) {
        ResetTrackerState();
        SetSwitch(u"TrackMemoryAllocation", row.value);
        EXPECT_TRUE(isTrackingOn()) << "TrackMemoryAllocation " << row.value;
        EXPECT_EQ(row.mode, trackMode) << "TrackMemoryAllocation " << row.value;
        EXPECT_EQ(row.processHeap ? GetProcessHeap() : nullptr, trackHeap)
            << "TrackMemoryAllocation " << row.value;
    }
}

TEST_F(TrackConfigTest, KeyWithoutTheSwitchTurnsTrackingOffForGood) {
    winsim::CreateKey(HKEY_LOCAL_MACHINE, switchesKey);
    EXPECT_FALSE(isTrackingOn());
    EXPECT_EQ(TrackModeOff, trackMode);
    SetSwitch(u"TrackMemoryAllocation", 1);
    EXPECT_FALSE(isTrackingOn()) << "the switches were read again after the key had been found";
    EXPECT_EQ(1u, winsim::CallCount("RegOpenKeyExW"));
}

TEST_F(TrackConfigTest, SwitchZeroReadsNeitherLocationNorFailSize) {
    SetSwitch(u"TrackMemoryAllocation", 0);
    SetSwitch(u"TrackMemoryFailSize", 1000);
    winsim::SetStringValue(HKEY_LOCAL_MACHINE, switchesKey, u"TrackMemoryLogLocation", u"Z:\\tmp");
    EXPECT_FALSE(isTrackingOn());
    EXPECT_EQ(TrackModeOff, trackMode);
    EXPECT_EQ(0u, failSize) << "the fail size was read with tracking off";
    EXPECT_EQ('\0', logDir[0]) << "the log location was read with tracking off";
    EXPECT_EQ(1u, winsim::CallCount("RegQueryValueExW")) << "only TrackMemoryAllocation may be queried";
    EXPECT_EQ(0u, winsim::CallCount("CreateDirectoryA"));
    EXPECT_EQ(winsim::CallCount("RegOpenKeyExW"), winsim::CallCount("RegCloseKey"))
        << "the key was left open";
}

TEST_F(TrackConfigTest, ConfigurationIsReadOnceAndTheKeyClosed) {
    SetSwitch(u"TrackMemoryAllocation", 4);
    EXPECT_TRUE(isTrackingOn());
    SetSwitch(u"TrackMemoryAllocation", 0);
    SetSwitch(u"TrackMemoryFailSize", 10);
    EXPECT_TRUE(isTrackingOn()) << "a change of the registry took effect while the module stayed loaded";
    EXPECT_EQ(TrackModeGuardedRuntimeHeap, trackMode);
    EXPECT_EQ(0u, failSize);
    EXPECT_EQ(1u, winsim::CallCount("RegOpenKeyExW"));
    EXPECT_EQ(1u, winsim::CallCount("RegCloseKey"));
}

TEST_F(TrackConfigTest, ProcessHeapIsSetForModesThatUseItWhenMissing) {
    trackMode = TrackModeHeap;
    trackHeap = nullptr;
    EXPECT_TRUE(isTrackingOn());
    EXPECT_EQ(GetProcessHeap(), trackHeap);
    trackMode = TrackModeGuardedRuntimeHeap;
    trackHeap = nullptr;
    EXPECT_TRUE(isTrackingOn());
    EXPECT_EQ(nullptr, trackHeap) << "mode 4 takes its blocks from malloc";
    EXPECT_EQ(0u, winsim::CallCount("RegOpenKeyExW")) << "a mode already read must not be read again";
}

TEST_F(TrackConfigTest, FailSizeIsReadWithTrackingOn) {
    SetSwitch(u"TrackMemoryAllocation", 1);
    SetSwitch(u"TrackMemoryFailSize", 1000);
    EXPECT_TRUE(isTrackingOn());
    EXPECT_EQ(1000u, failSize);
}

TEST_F(TrackConfigTest, FailSizeZeroOrMissingMeansNoLimit) {
    SetSwitch(u"TrackMemoryAllocation", 1);
    SetSwitch(u"TrackMemoryFailSize", 0);
    EXPECT_TRUE(isTrackingOn());
    EXPECT_EQ(0u, failSize);
}

// What the reports add: absent or 0 is none, values above the limit mean the limit, and both are read
// only with tracking on.
TEST_F(TrackConfigTest, StackDepthAndDataBytesAreBoundedAndReadWithTrackingOn) {
    const struct {
        DWORD tracking;
        const char16_t* name; // the switch set, or none
        DWORD value;
        uint32_t depth;
        uint32_t bytes;
    } rows[] = {
        {1, nullptr, 0, 0, 0},
        {1, u"TrackMemoryStackDepth", 0, 0, 0},
        {3, u"TrackMemoryStackDepth", 8, 8, 0},
        {1, u"TrackMemoryStackDepth", 32, 32, 0},
        {1, u"TrackMemoryStackDepth", 33, 32, 0},
        {2, u"TrackMemoryStackDepth", 0xFFFFFFFF, 32, 0},
        {1, u"TrackMemoryDataBytes", 1, 0, 1},
        {4, u"TrackMemoryDataBytes", 256, 0, 256},
        {1, u"TrackMemoryDataBytes", 257, 0, 256},
        {0, u"TrackMemoryStackDepth", 8, 0, 0},
        {0, u"TrackMemoryDataBytes", 64, 0, 0},
    };
    for (const auto& row : rows) {
        ResetTrackerState();
        winsim::DeleteKeyTree(HKEY_LOCAL_MACHINE, switchesKey);
        SetSwitch(u"TrackMemoryAllocation", row.tracking);
        if (row.name != nullptr) {
            SetSwitch(row.name, row.value);
        }
        EXPECT_EQ(row.tracking != 0, isTrackingOn());
        EXPECT_EQ(row.depth, stackDepth) << "mode " << row.tracking << ", value " << row.value;
        EXPECT_EQ(row.bytes, dataBytes) << "mode " << row.tracking << ", value " << row.value;
    }
}

TEST_F(TrackConfigTest, SwitchStoredAsTextIsReadAsItsFirstFourBytes) {
    // u"3" with its terminator is the four bytes 33 00 00 00: the number 51, which names no mode.
    winsim::SetStringValue(HKEY_LOCAL_MACHINE, switchesKey, u"TrackMemoryAllocation", u"3");
    EXPECT_TRUE(isTrackingOn());
    EXPECT_EQ(TrackModeHeap, trackMode);
}

TEST_F(TrackConfigTest, SwitchTooLargeForFourBytesLeavesTrackingOff) {
    winsim::SetStringValue(HKEY_LOCAL_MACHINE, switchesKey, u"TrackMemoryAllocation", u"12");
    EXPECT_FALSE(isTrackingOn());
    EXPECT_EQ(TrackModeOff, trackMode);

    ResetTrackerState();
    winsim::SetValue(HKEY_LOCAL_MACHINE, switchesKey, u"TrackMemoryAllocation", REG_QWORD,
                     winsim::Bytes{3, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_FALSE(isTrackingOn()) << "an 8-byte switch does not fit the 4-byte buffer";
    EXPECT_EQ(TrackModeOff, trackMode);
}

TEST_F(TrackConfigTest, ShortSwitchIsReadIntoAZeroedBuffer) {
    winsim::SetValue(HKEY_LOCAL_MACHINE, switchesKey, u"TrackMemoryAllocation", REG_BINARY,
                     winsim::Bytes{3, 0});
    EXPECT_TRUE(isTrackingOn());
    EXPECT_EQ(TrackModeGuardedProcessHeap, trackMode) << "bytes beyond the value's two were not zero";
}

TEST_F(TrackConfigTest, EightByteFailSizeIsNotRead) {
    SetSwitch(u"TrackMemoryAllocation", 1);
    winsim::SetValue(HKEY_LOCAL_MACHINE, switchesKey, u"TrackMemoryFailSize", REG_QWORD,
                     winsim::Bytes{0x10, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_TRUE(isTrackingOn());
    EXPECT_EQ(0u, failSize) << "an 8-byte fail size does not fit the 4-byte buffer";
}

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
    void SetLocationBytes(const winsim::Bytes& bytes, DWORD type = REG_BINARY) {
        winsim::SetValue(HKEY_LOCAL_MACHINE, switchesKey, u"TrackMemoryLogLocation", type, bytes);
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
    EXPECT_EQ("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", winsim::DirectorySecurity("C:\\Logs"))
        << "the directory must be for SYSTEM and the administrators alone, inheriting nothing";
    EXPECT_EQ(0u, winsim::SecurityDescriptorCount()) << "the descriptor was not given back";
}

// Without its descriptor the directory is not made at all; a refused creation still gives the descriptor
// back.
TEST_F(LogDirectoryTest, ADirectoryThatCannotBeMadeForSystemAndAdministratorsAloneIsNotMade) {
    const struct {
        const char* failing;
        DWORD error;
        unsigned creations;
    } rows[] = {{"ConvertStringSecurityDescriptorToSecurityDescriptorW", ERROR_NOT_ENOUGH_MEMORY, 0},
                {"CreateDirectoryA", ERROR_ACCESS_DENIED, 1}};
    for (const auto& row : rows) {
        trackMode = TrackModeUnread;
        winsim::ClearCallCounts();
        winsim::FailCall(row.failing, row.error);
        SetLocation(u"C:\\Logs");
        EXPECT_EQ("C:\\Logs\\", ReadLogDir()) << row.failing;
        EXPECT_FALSE(HostDirectoryExists("Logs")) << row.failing << " failed, yet the directory was made";
        EXPECT_EQ(row.creations, winsim::CallCount("CreateDirectoryA")) << row.failing;
        EXPECT_EQ(0u, winsim::SecurityDescriptorCount()) << row.failing;
    }
}

TEST_F(LogDirectoryTest, ExistingDirectoryIsKept) {
    std::filesystem::create_directory(driveC + "/Logs");
    SetLocation(u"C:\\Logs");
    EXPECT_EQ("C:\\Logs\\", ReadLogDir());
    EXPECT_EQ("", winsim::DirectorySecurity("C:\\Logs")) << "an existing directory is used as it is";
}

TEST_F(LogDirectoryTest, LocationNamingAFileIsKeptAsItIs) {
    std::FILE* file = std::fopen((driveC + "/report.txt").c_str(), "w");
    ASSERT_NE(nullptr, file);
    std::fclose(file);
    SetLocation(u"C:\\report.txt");
    EXPECT_EQ("C:\\report.txt\\", ReadLogDir()) << "only a missing parent replaces the location";
}

// Each row sets TrackMemoryLogLocation (no value when `type` is 0) and expects the log directory read from
// it; then whether `directory` was made on drive C:, and a function that must not have been called.
TEST_F(LogDirectoryTest, LocationsAreReadConvertedOrReplacedAsTheyCanBe) {
    const auto wide = [](const std::u16string& text, bool terminated = true) {
        return winsim::StringBytes(text, terminated);
    };
    const auto narrow = [](const std::string& text, bool terminated = true) {
        winsim::Bytes bytes(text.begin(), text.end());
        if (terminated) {
            bytes.push_back(0);
        }
        return bytes;
    };
    const std::string temp = "C:\\Temp\\";
    const winsim::Bytes missingParent = wide(u"C:\\No\\Such\\Logs");
    const struct {
        const char* what;
        DWORD type;
        winsim::Bytes data;
        std::string temporary; // the temporary path
        std::string expected;
        const char* directory;
        bool made;
        const char* uncalled;
    } rows[] = {
        {"ending in a backslash: it ends in two", REG_SZ, wide(u"C:\\Logs\\"), temp, "C:\\Logs\\\\", "Logs",
         true, nullptr},
        {"a missing parent: the temporary directory, and only a last level may be made", REG_SZ,
         missingParent, temp, temp, "No", false, nullptr},
        {"a missing parent without a temporary directory", REG_SZ, missingParent, "", "", nullptr, false,
         nullptr},
        {"a missing parent and a temporary path that GetTempPathA could not store", REG_SZ, missingParent,
         "C:\\" + std::string(270, 't'), "", nullptr, false, nullptr},
        {"narrow, taken as it stands", REG_BINARY, narrow("C:\\Narrow"), temp, "C:\\Narrow\\", "Narrow", true,
         nullptr},
        {"beyond ASCII: converted to the ANSI code page, UTF-8 in the simulation", REG_SZ,
         wide(u"C:\\Journ\u00E9es"), temp,
         "C:\\Journ\xC3\xA9"
         "es\\",
         "Journ\xC3\xA9"
         "es",
         true, nullptr},
        {"missing", 0, {}, temp, "", nullptr, false, "CreateDirectoryA"},
        {"too long for the buffer", REG_SZ, wide(u"C:\\" + std::u16string(297, u'a')), temp, "", nullptr,
         false, "CreateDirectoryA"},
        {"narrow, 260 bytes without a terminator", REG_BINARY, narrow("C:\\" + std::string(257, 'a'), false),
         temp, "", nullptr, false, "CreateDirectoryA"},
        {"narrow, 260 bytes without room for the backslash", REG_BINARY,
         narrow("C:\\" + std::string(256, 'b')), temp, "", nullptr, false, nullptr},
        {"wide, 260 bytes without a terminator: read to the buffer's end", REG_BINARY,
         wide(u"C:\\" + std::u16string(127, u'w'), false), temp, "C:\\" + std::string(127, 'w') + "\\",
         nullptr, false, nullptr},
        {"empty: the root of the current drive, which exists, so no fallback", REG_SZ, wide(u""), temp, "\\",
         nullptr, false, "GetTempPathA"},
    };
    for (const auto& row : rows) {
        ResetTrackerState();
        winsim::ClearCallCounts();
        winsim::SetTempPath(row.temporary);
        winsim::DeleteKeyTree(HKEY_LOCAL_MACHINE, switchesKey);
        SetSwitch(u"TrackMemoryAllocation", 1);
        if (row.type != 0) {
            SetLocationBytes(row.data, row.type);
        }
        EXPECT_EQ(row.expected, ReadLogDir()) << row.what;
        if (row.directory != nullptr) {
            EXPECT_EQ(row.made, HostDirectoryExists(row.directory)) << row.what;
        }
        if (row.uncalled != nullptr) {
            EXPECT_EQ(0u, winsim::CallCount(row.uncalled)) << row.what;
        }
    }
}

} // namespace
