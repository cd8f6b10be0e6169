// The log files: created by the first record only, named after executable, module, process and time, in
// the log directory or the temporary directory, with the banner, the registry note and the announcement;
// records in all three channels; what happens when names cannot be built or files cannot be created; and
// names that someone else holds, which are left alone.
#include "leak_log_test_support.h"

#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

namespace {

using leak_log_test::executablePath;
using leak_log_test::LeakLogFixture;
using leak_log_test::libraryPath;
using leak_log_test::readHostFile;
using leak_log_test::readHostText;

const std::u16string noteKey = u"Software\\Orvale\\ZID-Azo";
const std::string banner = "\r\n******* Leak Report *******\r\n";
const std::string announcement = "Logging memory leak information to:\r\n";

std::string leakLine(uint32_t id, uint64_t size) {
    return "MemoryLeak module=\"vracoins.dll\" id=\"" + std::to_string(id) + "\" size=\"" +
           std::to_string(size) +
           "\" release=\"0\" function=\"\" file=\"\" line=\"0\" overrun=\"0\" underrun=\"0\"\r\n";
}

class LeakLogFiles : public LeakLogFixture {
  protected:
    // The one raw record file and text log file in a directory: their names, after checking that there is
    // exactly one pair.
    bool findPair(const std::string& directory, std::string* raw, std::string* text) {
        std::vector<std::string> names = filesIn(directory);
        if (names.size() != 2) {
            ADD_FAILURE() << "expected a pair of log files in " << directory << ", found " << names.size();
            return false;
        }
        *raw = names[0];
        *text = names[1];
        EXPECT_EQ(*raw + ".log", *text)
            << "the text log file is the raw record file's name with .log appended";
        return true;
    }

    std::string note() {
        DWORD type = 0;
        winsim::Bytes data;
        if (!winsim::GetValue(HKEY_CURRENT_USER, noteKey, u"LeakedModule", &type, &data)) {
            return "<none>";
        }
        EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type) << "LeakedModule must be REG_BINARY";
        return std::string(data.begin(), data.end());
    }
};

TEST_F(LeakLogFiles, FormattingAloneCreatesNoFileAndNoNote) {
    // The in-use dump borrows the formatter and the module names, and writes to the debugger only.
    setCollectorRegistered(true);
    OVMemHdr* header = makeHeader(1, 10);
    char* line = formatBlockRecord(moduleNameForAddress(header->caller), header, MemoryInUseRecord);
    ASSERT_NE(nullptr, line);
    free(line);
    EXPECT_TRUE(filesIn("Temp").empty()) << "a file was created without a record";
    EXPECT_EQ(nullptr, rawLogFile);
    EXPECT_EQ(nullptr, textLogFile);
    EXPECT_EQ(0u, winsim::CallCount("CreateFileA"));
    EXPECT_FALSE(winsim::KeyExists(HKEY_CURRENT_USER, noteKey)) << "the note was written without a record";
}

TEST_F(LeakLogFiles, FirstRecordCreatesBothFilesWithBannerNoteAndAnnouncement) {
    setCollectorRegistered(true);
    int64_t before = static_cast<int64_t>(time(nullptr));
    writeBlockRecord(makeHeader(7, 24), MemoryLeakRecord);
    int64_t after = static_cast<int64_t>(time(nullptr));

    std::string raw, text;
    ASSERT_TRUE(findPair("Temp", &raw, &text));
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(raw, parts, std::regex(R"(host\.exe_vracoins\.dll_(\d+)_(-?\d+)\.mlk)")))
        << "raw record file named " << raw;
    EXPECT_EQ(std::to_string(GetCurrentProcessId()), parts[1].str()) << "process id in the name";
    int64_t stamp = std::stoll(parts[2].str());
    EXPECT_TRUE(stamp >= before && stamp <= after)
        << "time " << stamp << " not within [" << before << ", " << after << "]";

    std::string textPath = "C:\\Temp\\" + text;
    EXPECT_EQ(banner + leakLine(7, 24), readHostText(hostPath("Temp", text)));
    EXPECT_EQ(textPath, note()) << "the note holds the text log file's full path without a terminator";
    EXPECT_EQ(announcement + textPath + "\r\n" + leakLine(7, 24), winsim::DebugOutput());
    EXPECT_EQ(4u, winsim::DebugOutputCallCount()) << "three announcement pieces and one record";
}

TEST_F(LeakLogFiles, LaterRecordsAppendWithoutBannerNoteOrAnnouncement) {
    setCollectorRegistered(true);
    writeBlockRecord(makeHeader(1, 10), MemoryLeakRecord);
    winsim::ClearDebugOutput();
    writeBlockRecord(makeHeader(2, 20), MemoryLeakRecord);
    writeBlockRecord(makeHeader(3, 30), MemoryLeakRecord);

    std::string raw, text;
    ASSERT_TRUE(findPair("Temp", &raw, &text));
    EXPECT_EQ(3u * 504u, readHostFile(hostPath("Temp", raw)).size()) << "504 bytes per record";
    EXPECT_EQ(banner + leakLine(1, 10) + leakLine(2, 20) + leakLine(3, 30),
              readHostText(hostPath("Temp", text)));
    EXPECT_EQ(leakLine(2, 20) + leakLine(3, 30), winsim::DebugOutput());
    EXPECT_EQ(1u, winsim::CallCount("RegSetValueExA")) << "the note is written once per pair of files";
    EXPECT_EQ(2u, winsim::CallCount("CreateFileA"));
}

TEST_F(LeakLogFiles, RawRecordIsTheHeaderByteForByte) {
    OVMemHdr* first = makeHeader(1, 10);
    OVMemHdr* second = makeHeader(2, 20);
    second->overrun = 1;
    std::memset(second->headGuard + 100, 0x41, 3); // damage is kept as it stands
    writeBlockRecord(first, MemoryLeakRecord);
    writeBlockRecord(second, MemoryAccessViolationRecord);

    std::string raw, text;
    ASSERT_TRUE(findPair("Temp", &raw, &text));
    std::vector<uint8_t> bytes = readHostFile(hostPath("Temp", raw));
    ASSERT_EQ(2u * 504u, bytes.size());
    EXPECT_EQ(0, std::memcmp(bytes.data(), first, 504)) << "first record differs from its header";
    EXPECT_EQ(0, std::memcmp(bytes.data() + 504, second, 504)) << "second record differs from its header";
}

TEST_F(LeakLogFiles, WithoutACollectorTheFilesComeWithoutNoteOrAnnouncement) {
    writeBlockRecord(makeHeader(7, 24), MemoryLeakRecord);
    std::string raw, text;
    ASSERT_TRUE(findPair("Temp", &raw, &text));
    EXPECT_EQ("<none>", note());
    EXPECT_EQ(leakLine(7, 24), winsim::DebugOutput());
}

TEST_F(LeakLogFiles, ALogLocationTakesThePlaceOfTheTemporaryDirectory) {
    std::strcpy(logDir, "C:\\Logs\\");
    setCollectorRegistered(true);
    writeBlockRecord(makeHeader(7, 24), MemoryLeakRecord);
    EXPECT_TRUE(filesIn("Temp").empty()) << "files went to the temporary directory";
    std::string raw, text;
    ASSERT_TRUE(findPair("Logs", &raw, &text));
    EXPECT_EQ(0u, raw.rfind("host.exe_vracoins.dll_", 0)) << "names begin with the executable name: " << raw;
    EXPECT_EQ("C:\\Logs\\" + text, note());
}

TEST_F(LeakLogFiles, ClosingLetsTheNextRecordStartANewPair) {
    writeBlockRecord(makeHeader(1, 10), MemoryLeakRecord);
    HANDLE raw = rawLogFile;
    HANDLE text = textLogFile;
    ASSERT_NE(nullptr, raw);
    ASSERT_NE(nullptr, text);
    closeLogFiles();
    EXPECT_EQ(nullptr, rawLogFile) << "a closed file's handle is reset to none";
    EXPECT_EQ(nullptr, textLogFile);
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(raw, "x", 1, &written, nullptr)) << "the raw record file is still open";
    EXPECT_FALSE(WriteFile(text, "x", 1, &written, nullptr)) << "the text log file is still open";
    writeBlockRecord(makeHeader(2, 20), MemoryLeakRecord);
    EXPECT_EQ(4u, winsim::CallCount("CreateFileA")) << "a record after closing creates a new pair";
}

// The names carry the time in whole seconds, so a pair started in the same second as the closed one has
// the same names. Records already written must survive that.
TEST_F(LeakLogFiles, ANewPairInTheSameSecondAppendsToTheClosedOne) {
    // Start at the beginning of a second so that both pairs fall within it.
    int64_t start = static_cast<int64_t>(time(nullptr));
    while (static_cast<int64_t>(time(nullptr)) == start) {
        usleep(1000);
    }
    int64_t second = static_cast<int64_t>(time(nullptr));
    OVMemHdr* first = makeHeader(1, 10);
    OVMemHdr* later = makeHeader(2, 20);
    writeBlockRecord(first, MemoryLeakRecord);
    closeLogFiles();
    writeBlockRecord(later, MemoryLeakRecord);
    closeLogFiles();
    ASSERT_EQ(second, static_cast<int64_t>(time(nullptr))) << "both pairs must be named in the same second";

    std::string raw, text;
    ASSERT_TRUE(findPair("Temp", &raw, &text));
    std::vector<uint8_t> bytes = readHostFile(hostPath("Temp", raw));
    ASSERT_EQ(2u * 504u, bytes.size())
        << "the first pair's raw record was lost or the file is not whole records";
    EXPECT_EQ(0, std::memcmp(bytes.data(), first, 504)) << "the first record must stay first";
    EXPECT_EQ(0, std::memcmp(bytes.data() + 504, later, 504)) << "the later record must follow it";
    EXPECT_EQ(banner + leakLine(1, 10) + banner + leakLine(2, 20), readHostText(hostPath("Temp", text)))
        << "the first pair's text must stay, and each opening starts with its banner";
}

// The raw record file's name (".mlk") at a time; the text log file's has ".log" appended.
std::string rawNameAt(int64_t time) {
    return "host.exe_vracoins.dll_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(time) +
           ".mlk";
}

// A pair closed and wanted again in the same second is reopened
// (ANewPairInTheSameSecondAppendsToTheClosedOne) only while its names still hold the files this module
// created: a name that holds another file by then (renamed there, so that it is surely another file) sends
// the records to a fresh pair a second on, and what holds the name is left alone.
TEST_F(LeakLogFiles, APairWantedAgainIsReopenedOnlyWhileItsNamesHoldTheFilesCreated) {
    enum Planted { File, HardLink, SymbolicLink };
    const struct {
        const char* what;
        bool text; // the text log file's name, else the raw record file's
        Planted planted;
    } rows[] = {{"the raw record file replaced by another file", false, File},
                {"the text log file replaced by a hard link", true, HardLink},
                {"the raw record file replaced by a symbolic link", false, SymbolicLink}};
    const std::filesystem::path victim = root / "victim.txt", other = root / "Temp" / "other";
    for (const auto& row : rows) {
        leak_log_test::resetLeakLogState();
        winsim::OverrideModulePath(nullptr, executablePath);
        std::filesystem::remove_all(root / "Temp");
        std::filesystem::create_directories(root / "Temp");
        const int64_t second = static_cast<int64_t>(time(nullptr)) + 1; // all of the row within it
        while (static_cast<int64_t>(time(nullptr)) < second) {
            usleep(1000);
        }
        writeBlockRecord(makeHeader(1, 10), MemoryLeakRecord);
        closeLogFiles();
        const std::string name = rawNameAt(second) + (row.text ? ".log" : "");
        std::ofstream(victim) << "precious";
        if (row.planted == File) {
            std::ofstream(other) << "theirs";
        } else if (row.planted == HardLink) {
            std::filesystem::create_hard_link(victim, other);
        } else {
            std::filesystem::create_symlink(victim, other);
        }
        std::filesystem::rename(other, hostPath("Temp", name));
        writeBlockRecord(makeHeader(2, 20), MemoryLeakRecord);
        closeLogFiles();
        ASSERT_EQ(second, static_cast<int64_t>(time(nullptr)))
            << row.what << ": the row must fall in one second";

        EXPECT_EQ("precious", readHostText(victim)) << row.what;
        EXPECT_EQ(row.planted == File ? "theirs" : "precious", readHostText(hostPath("Temp", name)))
            << row.what << ": the name's file was written";
        const std::string later = rawNameAt(second + 1);
        EXPECT_EQ(504u, readHostFile(hostPath("Temp", later)).size()) << row.what << ": the later record";
        EXPECT_EQ(banner + leakLine(2, 20), readHostText(hostPath("Temp", later + ".log"))) << row.what;
    }
}

// Every name for the next 16 seconds taken: the records reach the debugger alone, and one line there says
// why; no note, no announcement, and no other name is tried for the later records.
TEST_F(LeakLogFiles, WhenSixteenNamesInARowAreTakenTheRecordsGoToTheDebuggerOnly) {
    setCollectorRegistered(true);
    const int64_t now = static_cast<int64_t>(time(nullptr));
    for (int64_t at = now; at < now + 40; ++at) {
        std::ofstream(hostPath("Temp", rawNameAt(at))) << "theirs";
    }
    writeBlockRecord(makeHeader(1, 10), MemoryLeakRecord);
    writeBlockRecord(makeHeader(2, 20), MemoryLeakRecord);

    EXPECT_EQ(INVALID_HANDLE_VALUE, rawLogFile);
    EXPECT_EQ(INVALID_HANDLE_VALUE, textLogFile);
    EXPECT_EQ(16u, winsim::CallCount("CreateFileA")) << "16 names are tried, once";
    EXPECT_EQ(
        "OVMemCollector: no log file in C:\\Temp\\: the next 16 names were taken by others; records go to "
        "the debugger output only\r\n" +
            leakLine(1, 10) + leakLine(2, 20),
        winsim::DebugOutput());
    EXPECT_EQ("<none>", note());
}

// A file that cannot be asked what it is cannot be told apart from another one: it is not written to, nor
// deleted; the other file of the pair serves.
TEST_F(LeakLogFiles, ANewFileThatCannotBeAskedWhatItIsStaysOut) {
    winsim::FailCall("GetFileInformationByHandle", ERROR_ACCESS_DENIED); // the raw record file's
    writeBlockRecord(makeHeader(1, 10), MemoryLeakRecord);
    EXPECT_EQ(INVALID_HANDLE_VALUE, rawLogFile);
    std::string raw, text;
    ASSERT_TRUE(findPair("Temp", &raw, &text));
    EXPECT_EQ(0u, readHostFile(hostPath("Temp", raw)).size()) << "the unchecked file was written to";
    EXPECT_EQ(banner + leakLine(1, 10), readHostText(hostPath("Temp", text)));
}

TEST_F(LeakLogFiles, AnUncreatableRawFileLeavesTheTextFileAndTheDebuggerTheirRecords) {
    winsim::FailCall("CreateFileA", ERROR_ACCESS_DENIED); // the raw record file is created first
    writeBlockRecord(makeHeader(1, 10), MemoryLeakRecord);
    writeBlockRecord(makeHeader(2, 20), MemoryLeakRecord);

    EXPECT_EQ(INVALID_HANDLE_VALUE, rawLogFile);
    std::vector<std::string> names = filesIn("Temp");
    ASSERT_EQ(1u, names.size()) << "only the text log file should exist";
    EXPECT_NE(std::string::npos, names[0].find(".mlk.log")) << names[0];
    EXPECT_EQ(banner + leakLine(1, 10) + leakLine(2, 20), readHostText(hostPath("Temp", names[0])));
    EXPECT_EQ(leakLine(1, 10) + leakLine(2, 20), winsim::DebugOutput());
    EXPECT_EQ(2u, winsim::CallCount("CreateFileA")) << "a failed creation is not tried again";
    EXPECT_EQ(3u, winsim::CallCount("WriteFile")) << "banner and two lines to the text file, nothing raw";
}

TEST_F(LeakLogFiles, AVanishedLogDirectoryLeavesOnlyTheDebuggerOutput) {
    std::strcpy(logDir, "C:\\Logs\\");
    std::filesystem::remove_all(root / "Logs");
    writeBlockRecord(makeHeader(1, 10), MemoryLeakRecord);
    writeBlockRecord(makeHeader(2, 20), MemoryLeakRecord);

    EXPECT_EQ(INVALID_HANDLE_VALUE, rawLogFile);
    EXPECT_EQ(INVALID_HANDLE_VALUE, textLogFile);
    EXPECT_TRUE(openLogFiles(libraryPath.c_str())) << "both handles are set, to the invalid-handle value";
    EXPECT_EQ(leakLine(1, 10) + leakLine(2, 20), winsim::DebugOutput());
    EXPECT_EQ(0u, winsim::CallCount("WriteFile"));
    EXPECT_EQ(2u, winsim::CallCount("CreateFileA")) << "failed creations are not tried again";
    closeLogFiles();
    EXPECT_EQ(INVALID_HANDLE_VALUE, rawLogFile) << "closing leaves an invalid-handle value as it is";
    EXPECT_EQ(0u, winsim::CallCount("CloseHandle"));
}

// A log location of 258 characters and an executable name long enough that the raw record file's name
// takes `rawLength` characters.
class LongLogFileNames : public LeakLogFiles {
  protected:
    void SetUp() override {
        LeakLogFiles::SetUp();
        std::filesystem::create_directories(root / std::string(254, 'd'));
        std::strcpy(logDir, ("C:\\" + std::string(254, 'd') + "\\").c_str());
        ASSERT_EQ(258u, std::strlen(logDir));
    }
    void nameExecutableForRawNameLength(size_t rawLength) {
        // directory, executable, "_vracoins.dll_", process id, "_", ten digits of time, ".mlk"
        size_t fixed = 258 + 14 + std::to_string(GetCurrentProcessId()).size() + 1 + 10 + 4;
        ASSERT_EQ(10u, std::to_string(static_cast<int64_t>(time(nullptr))).size());
        std::string executable = std::string(rawLength - fixed - 4, 'e') + ".exe";
        winsim::OverrideModulePath(nullptr, "C:\\Tools\\" + executable);
    }
};

TEST_F(LongLogFileNames, NamesThatDoNotFitDropTheRecordEverywhere) {
    nameExecutableForRawNameLength(530);
    setCollectorRegistered(true);
    writeBlockRecord(makeHeader(1, 10), MemoryLeakRecord);
    EXPECT_EQ(0u, winsim::CallCount("CreateFileA")) << "names over 519 characters must not be used";
    EXPECT_EQ(nullptr, rawLogFile);
    EXPECT_EQ(nullptr, textLogFile);
    EXPECT_EQ("", winsim::DebugOutput()) << "a dropped record reaches no channel";
    EXPECT_EQ("<none>", note());

    // The next record tries again.
    std::strcpy(logDir, "C:\\Logs\\");
    winsim::OverrideModulePath(nullptr, executablePath);
    releaseCachedModulePaths();
    writeBlockRecord(makeHeader(2, 20), MemoryLeakRecord);
    std::string raw, text;
    ASSERT_TRUE(findPair("Logs", &raw, &text));
    EXPECT_EQ(banner + leakLine(2, 20), readHostText(hostPath("Logs", text)));
}

TEST_F(LongLogFileNames, ATextLogNameOneOverTheLimitDropsTheRecordThoughTheRawNameFits) {
    nameExecutableForRawNameLength(516); // the text log file's name takes 520 characters
    writeBlockRecord(makeHeader(1, 10), MemoryLeakRecord);
    EXPECT_EQ(0u, winsim::CallCount("CreateFileA")) << "both names must fit before either file is created";
    EXPECT_EQ("", winsim::DebugOutput());
}

TEST_F(LongLogFileNames, NamesOf519CharactersAreUsed) {
    nameExecutableForRawNameLength(515); // the text log file's name takes 519 characters
    writeBlockRecord(makeHeader(1, 10), MemoryLeakRecord);
    EXPECT_EQ(2u, winsim::CallCount("CreateFileA")) << "names of 515 and 519 characters fit";
}

TEST_F(LeakLogFiles, NoTemporaryDirectoryAndNoLogLocationDropTheRecord) {
    winsim::SetTempPath("");
    writeBlockRecord(makeHeader(1, 10), MemoryLeakRecord);
    EXPECT_EQ(0u, winsim::CallCount("CreateFileA"));
    EXPECT_EQ("", winsim::DebugOutput());
    EXPECT_EQ(nullptr, rawLogFile);

    std::strcpy(logDir, "C:\\Logs\\");
    writeBlockRecord(makeHeader(2, 20), MemoryLeakRecord);
    std::string raw, text;
    EXPECT_TRUE(findPair("Logs", &raw, &text)) << "a log location needs no temporary directory";
}

TEST_F(LeakLogFiles, ATemporaryDirectoryTooLongForItsBufferDropsTheRecord) {
    std::string longTemp = "C:\\" + std::string(260, 't');
    winsim::SetTempPath(longTemp);
    writeBlockRecord(makeHeader(1, 10), MemoryLeakRecord);
    EXPECT_EQ(0u, winsim::CallCount("CreateFileA")) << "files must not be created with a relative name";
    EXPECT_EQ("", winsim::DebugOutput());
}

TEST_F(LeakLogFiles, NoExecutablePathDropsTheRecord) {
    winsim::OverrideModulePath(nullptr, "C:\\Tools\\" + std::string(250, 'x') + ".exe"); // cut at 260
    writeBlockRecord(makeHeader(1, 10), MemoryLeakRecord);
    EXPECT_EQ(nullptr, processPath);
    EXPECT_EQ(0u, winsim::CallCount("CreateFileA"));
    EXPECT_EQ("", winsim::DebugOutput());
}

TEST_F(LeakLogFiles, ACallSiteOutsideAnyModuleWithoutTheTrackersPathDropsTheRecord) {
    // collectorModulePath is empty: the fallback module name has no backslash.
    OVMemHdr* header = makeHeader(1, 10);
    std::unique_ptr<char[]> heapMemory(new char[64]);
    header->caller = heapMemory.get();
    writeBlockRecord(header, MemoryLeakRecord);
    EXPECT_EQ(0u, winsim::CallCount("CreateFileA"));
    EXPECT_EQ("", winsim::DebugOutput());

    std::strcpy(collectorModulePath, "C:\\Program Files\\Orvale\\vracoins.dll");
    releaseCachedModulePaths();
    callerModuleBase = nullptr;
    callerModuleSize = 0;
    writeBlockRecord(header, MemoryLeakRecord);
    EXPECT_EQ(leakLine(1, 10), winsim::DebugOutput()) << "the tracker's own path names such call sites";
}

TEST_F(LeakLogFiles, NoHeaderWritesNothing) {
    writeBlockRecord(nullptr, MemoryLeakRecord);
    EXPECT_EQ(0u, winsim::CallCount("CreateFileA"));
    EXPECT_EQ(0u, winsim::CallCount("VirtualQuery"));
    EXPECT_EQ("", winsim::DebugOutput());
}

TEST_F(LeakLogFiles, AFailingNoteStillAnnouncesThePath) {
    setCollectorRegistered(true);
    winsim::FailCall("RegCreateKeyExA", ERROR_ACCESS_DENIED);
    writeBlockRecord(makeHeader(7, 24), MemoryLeakRecord);
    std::string raw, text;
    ASSERT_TRUE(findPair("Temp", &raw, &text));
    EXPECT_EQ("<none>", note());
    EXPECT_EQ(announcement + "C:\\Temp\\" + text + "\r\n" + leakLine(7, 24), winsim::DebugOutput());
}

} // namespace
