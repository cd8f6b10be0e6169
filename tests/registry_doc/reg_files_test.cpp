// The files in registry/ imported into the simulated registry as regedit imports them, with the module
// loaded afterwards: each mode file turns tracking on in its mode, the log location and the fail size
// take effect, the call stack and data byte counts are read with tracking on, the switch-off file leaves
// tracking off with no switch behind, and every file is plain ASCII under the 5.00 header and sets only
// documented switches in the 64-bit view.
#include "reg_file.h"
#include "registry_table.h"
#include "simulated_machine.h"
#include "value_access_scenarios.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

namespace registry_doc {
namespace {

const std::string registryDirectory = std::string(VRACOINS_SOURCE_DIR) + "/registry";
const std::string documentPath = std::string(VRACOINS_SOURCE_DIR) + "/docs/REGISTRY.md";
const std::u16string switchesKey = u"SOFTWARE\\Orvale\\DIZadaridi";
const std::u16string noteKey = u"Software\\Orvale\\ZID-Azo";

const std::string logLocationFile = "tracking-log-location.reg";
const std::string failSizeFile = "tracking-fail-size.reg";
const std::string offFile = "tracking-off.reg";
// The mode each file turns tracking on in.
const std::map<std::string, int> modeFiles = {
    {"tracking-on-mode-1-heap.reg", 1},
    {"tracking-on-mode-2-page-guarded.reg", 2},
    {"tracking-on-mode-3-guarded-process-heap.reg", 3},
    {"tracking-on-mode-4-guarded-runtime-heap.reg", 4},
};
// The files that set a count for the reports, with their value and the largest count that takes effect.
struct CountFile {
    std::string file;
    std::string value;
    DWORD limit;
};
const CountFile countFiles[] = {
    {"tracking-call-stacks.reg", "TrackMemoryStackDepth", 32},
    {"tracking-data-bytes.reg", "TrackMemoryDataBytes", 256},
};

std::vector<std::string> RegFileNames() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(registryDirectory)) {
        if (entry.path().extension() == ".reg") {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

RegFile Parsed(const std::string& name) {
    RegFile file = ParseRegFile(ReadTextFile(registryDirectory + "/" + name));
    std::string errors;
    for (const std::string& error : file.errors) {
        errors += "\n  " + error;
    }
    EXPECT_TRUE(file.errors.empty()) << name << " cannot be read:" << errors;
    return file;
}

void Import(const std::string& name) {
    ImportRegFile(Parsed(name));
}

// The one value that a file sets; a failure when it sets another number of values.
RegFileEntry OnlyValue(const std::string& name) {
    RegFile file = Parsed(name);
    std::vector<RegFileEntry> values;
    for (const RegFileEntry& entry : file.entries) {
        if (entry.kind == RegFileEntry::SetValue) {
            values.push_back(entry);
        }
    }
    EXPECT_EQ(1u, values.size()) << name << " should set exactly one value";
    return values.empty() ? RegFileEntry() : values[0];
}

DWORD DwordOf(const RegFileEntry& entry) {
    if (entry.type != REG_DWORD || entry.data.size() != 4) {
        ADD_FAILURE() << "\"" << entry.name << "\" is not a DWORD";
        return 0;
    }
    return static_cast<DWORD>(entry.data[0] | entry.data[1] << 8 | entry.data[2] << 16 | entry.data[3] << 24);
}

std::string TextOf(const RegFileEntry& entry) {
    std::u16string text;
    for (size_t i = 0; i + 1 < entry.data.size(); i += 2) {
        char16_t unit = static_cast<char16_t>(entry.data[i] | entry.data[i + 1] << 8);
        if (unit == 0) {
            break;
        }
        text.push_back(unit);
    }
    return winsim::ToUtf8(text);
}

std::string RootAbbreviation(const std::string& rootName) {
    if (rootName == "HKEY_LOCAL_MACHINE") {
        return "HKLM";
    }
    return rootName == "HKEY_CURRENT_USER" ? "HKCU" : rootName;
}

class RegistryFilesTest : public ::testing::Test {
  protected:
    SimulatedMachine machine{::testing::UnitTest::GetInstance()->current_test_info()->name()};
};

TEST_F(RegistryFilesTest, AreAllCoveredByTheseTests) {
    std::vector<std::string> known = {logLocationFile, failSizeFile, offFile};
    for (const CountFile& row : countFiles) {
        known.push_back(row.file);
    }
    for (const auto& entry : modeFiles) {
        known.push_back(entry.first);
    }
    std::sort(known.begin(), known.end());
    std::vector<std::string> present = RegFileNames();
    for (const std::string& name : present) {
        EXPECT_TRUE(std::binary_search(known.begin(), known.end(), name))
            << "registry/" << name << " is not checked by tests/registry_doc: add what it must do";
    }
    for (const std::string& name : known) {
        EXPECT_TRUE(std::binary_search(present.begin(), present.end(), name))
            << "registry/" << name << " is missing";
    }
}

TEST_F(RegistryFilesTest, ArePlainAsciiWithTheVersion5HeaderAndCrlfLineEnds) {
    for (const std::string& name : RegFileNames()) {
        std::vector<std::string> problems = FormatProblems(ReadTextFile(registryDirectory + "/" + name));
        std::string listed;
        for (const std::string& problem : problems) {
            listed += "\n  " + problem;
        }
        EXPECT_TRUE(problems.empty()) << "registry/" << name << ":" << listed;
        Parsed(name);
    }
}

TEST_F(RegistryFilesTest, TouchOnlyDocumentedSwitchesInThe64BitView) {
    std::vector<std::string> errors;
    std::vector<DocumentedValue> rows = ParseRegistryTables(ReadTextFile(documentPath), &errors);
    ASSERT_FALSE(rows.empty()) << "no rows in " << documentPath;
    for (const std::string& name : RegFileNames()) {
        for (const RegFileEntry& entry : Parsed(name).entries) {
            std::string where = "registry/" + name + " line " + std::to_string(entry.line) + ": ";
            EXPECT_EQ(std::string::npos, entry.keyPath.find("Wow6432Node"))
                << where << "the 64-bit module never reads the 32-bit view";
            std::string root = RootAbbreviation(entry.rootName);
            bool keyDocumented = false;
            const DocumentedValue* valueRow = nullptr;
            for (const DocumentedValue& row : rows) {
                bool sameKey = row.root == root && row.key.find('<') == std::string::npos &&
                               row.KeyMatches(entry.keyPath);
                keyDocumented = keyDocumented || sameKey;
                if (sameKey && row.name == entry.name) {
                    valueRow = &row;
                }
            }
            EXPECT_TRUE(keyDocumented)
                << where << root << "\\" << entry.keyPath << " is no key of the document";
            if (entry.kind != RegFileEntry::SetValue && entry.kind != RegFileEntry::DeleteValue) {
                continue;
            }
            EXPECT_NE(nullptr, valueRow) << where << "\"" << entry.name << "\" is no value of the document";
            if (valueRow != nullptr && entry.kind == RegFileEntry::SetValue) {
                EXPECT_EQ(TypeName(valueRow->types.front()), TypeName(entry.type))
                    << where << "\"" << entry.name << "\" is set with another type than the module expects";
                EXPECT_EQ(1u, valueRow->operations.count(winsim::ValueAccess::Read))
                    << where << "\"" << entry.name << "\" is set, but the module does not read it";
            }
        }
    }
}

TEST_F(RegistryFilesTest, EachModeFileTurnsTrackingOnInItsMode) {
    for (const auto& [name, mode] : modeFiles) {
        machine.Reset();
        Import(name);
        TestBuildModule module;
        ASSERT_TRUE(module.Loaded() && module.HasHooks()) << LoadedModule::LoadError();
        EXPECT_EQ(mode, module.TrackMode()) << "the mode in force after importing registry/" << name;
    }
}

TEST_F(RegistryFilesTest, ModeFileChangesTheModeAndKeepsTheOtherSwitches) {
    Import("tracking-on-mode-3-guarded-process-heap.reg");
    Import(logLocationFile);
    Import(failSizeFile);
    Import("tracking-on-mode-1-heap.reg");
    EXPECT_TRUE(winsim::ValueExists(HKEY_LOCAL_MACHINE, switchesKey, u"TrackMemoryLogLocation"))
        << "a mode file removed the log location";
    EXPECT_TRUE(winsim::ValueExists(HKEY_LOCAL_MACHINE, switchesKey, u"TrackMemoryFailSize"))
        << "a mode file removed the fail size";
    TestBuildModule module;
    ASSERT_TRUE(module.Loaded() && module.HasHooks()) << LoadedModule::LoadError();
    EXPECT_EQ(1, module.TrackMode()) << "the mode of the file imported last";
}

TEST_F(RegistryFilesTest, LogLocationFileSendsTheLogFilesToItsDirectory) {
    RegFileEntry location = OnlyValue(logLocationFile);
    std::string directory = TextOf(location);
    std::filesystem::path hostDirectory = machine.HostPath(directory);
    ASSERT_FALSE(hostDirectory.empty()) << "the log location " << directory << " is not on drive C:";
    Import("tracking-on-mode-1-heap.reg");
    Import(logLocationFile);
    {
        TestBuildModule module;
        ASSERT_TRUE(module.Loaded() && module.HasHooks()) << LoadedModule::LoadError();
        void* block = module.Allocate(32);
        ASSERT_NE(nullptr, block);
        module.LeakUntilUnload(block);
    }
    std::vector<std::string> logs;
    if (std::filesystem::is_directory(hostDirectory)) {
        for (const auto& entry : std::filesystem::directory_iterator(hostDirectory)) {
            logs.push_back(entry.path().filename().string());
        }
    }
    EXPECT_EQ(2u, logs.size()) << "expected the raw record file and the text log file of the leak in "
                               << directory;
    DWORD type = 0;
    winsim::Bytes note;
    ASSERT_TRUE(winsim::GetValue(HKEY_CURRENT_USER, noteKey, u"LeakedModule", &type, &note))
        << "the leak report wrote no note of its log file";
    std::string notedPath(note.begin(), note.end());
    EXPECT_EQ(0u, notedPath.find(directory + "\\"))
        << "the noted log file " << notedPath << " is not in " << directory;
}

TEST_F(RegistryFilesTest, LogLocationAndFailSizeFilesLeaveTrackingOffOnTheirOwn) {
    Import(logLocationFile);
    Import(failSizeFile);
    DWORD limit = DwordOf(OnlyValue(failSizeFile));
    TestBuildModule module;
    ASSERT_TRUE(module.Loaded() && module.HasHooks()) << LoadedModule::LoadError();
    EXPECT_EQ(0, module.TrackMode()) << "the log location and fail size files turned tracking on";
    void* block = module.Allocate(limit);
    EXPECT_NE(nullptr, block) << "with tracking off the fail size of " << limit << " bytes took effect";
    module.Release(block);
}

TEST_F(RegistryFilesTest, FailSizeFileMakesRequestsOfItsSizeFailInEveryMode) {
    DWORD limit = DwordOf(OnlyValue(failSizeFile));
    ASSERT_GT(limit, 1u) << "the fail size file must set a limit";
    for (const auto& [name, mode] : modeFiles) {
        machine.Reset();
        Import(name);
        Import(failSizeFile);
        TestBuildModule module;
        ASSERT_TRUE(module.Loaded() && module.HasHooks()) << LoadedModule::LoadError();
        void* below = module.Allocate(limit - 1);
        EXPECT_NE(nullptr, below) << "mode " << mode << ": a request of " << limit - 1 << " bytes failed";
        module.Release(below);
        void* atLimit = module.Allocate(limit);
        EXPECT_EQ(nullptr, atLimit) << "mode " << mode << ": a request of " << limit << " bytes succeeded";
        module.Release(atLimit);
    }
}

TEST_F(RegistryFilesTest, CountFilesSetACountThatTheModuleReadsOnlyWithTrackingOn) {
    for (const CountFile& row : countFiles) {
        DWORD count = DwordOf(OnlyValue(row.file));
        EXPECT_TRUE(count > 0 && count <= row.limit) << row.file << " sets " << count << ", not taken as set";
        for (bool trackingOn : {false, true}) {
            machine.Reset();
            if (trackingOn) {
                Import("tracking-on-mode-1-heap.reg");
            }
            Import(row.file);
            TestBuildModule module;
            ASSERT_TRUE(module.Loaded() && module.HasHooks()) << LoadedModule::LoadError();
            EXPECT_EQ(trackingOn ? 1 : 0, module.TrackMode()) << row.file;
            // The module found the value where the file put it, with the type it expects.
            std::vector<ObservedAccess> log = LoggedAccesses(row.file);
            bool read = std::any_of(log.begin(), log.end(), [&](const ObservedAccess& access) {
                return access.name == row.value && access.operation == winsim::ValueAccess::Read &&
                       access.existed && access.type == REG_DWORD;
            });
            EXPECT_EQ(trackingOn, read)
                << row.file << ": read by the module, with tracking on " << trackingOn;
        }
    }
}

TEST_F(RegistryFilesTest, OffFileSwitchesTrackingOffAndLeavesNoSwitchBehind) {
    Import("tracking-on-mode-2-page-guarded.reg");
    Import(logLocationFile);
    Import(failSizeFile);
    for (const CountFile& row : countFiles) {
        Import(row.file);
    }
    // Set by hand, as the README shows with reg add.
    winsim::SetDwordValue(HKEY_LOCAL_MACHINE, switchesKey, u"AppendTRVSymbolServerPath", 1);
    winsim::SetValue(HKEY_CURRENT_USER, noteKey, u"LeakedModule", REG_BINARY, winsim::Bytes{'C', ':', '\\'});
    Import(offFile);

    std::string left;
    for (const std::u16string& value : winsim::ValueNames(HKEY_LOCAL_MACHINE, switchesKey)) {
        left += " " + winsim::ToUtf8(value);
    }
    EXPECT_TRUE(left.empty()) << "switches left after registry/" << offFile << ":" << left;
    EXPECT_TRUE(winsim::ValueExists(HKEY_CURRENT_USER, noteKey, u"LeakedModule"))
        << "switching off removed the note of the last log file";

    DWORD limit = DwordOf(OnlyValue(failSizeFile));
    TestBuildModule module;
    ASSERT_TRUE(module.Loaded() && module.HasHooks()) << LoadedModule::LoadError();
    EXPECT_LE(module.TrackMode(), 0) << "tracking is still on after registry/" << offFile;
    void* block = module.Allocate(limit);
    EXPECT_NE(nullptr, block) << "the fail size still takes effect after registry/" << offFile;
    module.Release(block);
}

// --- The reader itself ---------------------------------------------------------------------------------

TEST(RegFileReader, ReadsWhatRegeditWritesAndNamesWhatItCannotRead) {
    RegFile file = ParseRegFile("Windows Registry Editor Version 5.00\r\n"
                                "\r\n"
                                "; a comment\r\n"
                                "[HKEY_CURRENT_USER\\Software\\A]\r\n"
                                "\"Text\"=\"C:\\\\Dir \\\"x\\\"\"\r\n"
                                "\"Number\"=dword:0000010a\r\n"
                                "\"Bytes\"=hex:01,02,\\\r\n"
                                "  03\r\n"
                                "\"Gone\"=-\r\n"
                                "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\B]\r\n"
                                "\"Orphan\"=dword:00000001\r\n"
                                "\"Short\"=dword:1\r\n");
    ASSERT_EQ(6u, file.entries.size());
    EXPECT_EQ(HKEY_CURRENT_USER, file.entries[0].root);
    EXPECT_EQ("Software\\A", file.entries[0].keyPath);
    EXPECT_EQ("C:\\Dir \"x\"", TextOf(file.entries[1]));
    EXPECT_EQ(0x10Au, DwordOf(file.entries[2]));
    EXPECT_EQ((winsim::Bytes{1, 2, 3}), file.entries[3].data);
    EXPECT_EQ(RegFileEntry::DeleteValue, file.entries[4].kind);
    EXPECT_EQ(RegFileEntry::DeleteKey, file.entries[5].kind);
    ASSERT_EQ(2u, file.errors.size()) << "a value below a deleted key, and a short dword";
    EXPECT_EQ(0u, file.errors[0].find("line 11: ")) << file.errors[0];
    EXPECT_EQ(0u, file.errors[1].find("line 12: ")) << file.errors[1];
}

TEST(RegFileReader, FormatProblemsNameTheByteOrderMarkLoneLineFeedsAndOtherBytes) {
    EXPECT_EQ(1u, FormatProblems("\xFF\xFEW\0i").size());
    EXPECT_TRUE(FormatProblems("Windows Registry Editor Version 5.00\r\n\r\n").empty());
    EXPECT_EQ(1u, FormatProblems("Windows Registry Editor Version 5.00\r\n\n").size());
    EXPECT_EQ(2u, FormatProblems("Windows Registry Editor Version 5.00\r\n\"A\"=\"\xC3\xA9\"\r\n").size())
        << "one problem for each byte of the UTF-8 letter";
    EXPECT_EQ(1u, FormatProblems("REGEDIT4\r\n").size());
}

} // namespace
} // namespace registry_doc
