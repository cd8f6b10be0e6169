// The module from load to unload in a test program: the final report of a clean installation, of leaked
// blocks and of the releases that arrive after the report, the guard check of released blocks in each
// guarded mode, refused releases, and the in-use dump at breakOnAllocId. The leaks and the damage come from
// the test build of the module, whose test hooks allocate and release through the module's own operators.
#include "coinstaller/tests/install_scenario.h"
#include "memtrack/mem_header.h"
#include "tests/module/module_lifecycle_support.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace coinstaller_test;
using namespace lifecycle_test;

namespace {

typedef DWORD(WINAPI* EntryProc)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA, PCOINSTALLER_CONTEXT_DATA);
constexpr size_t headerBytes = 504;

const std::u16string queueName = u"VRA Alpha Queue";

// A block that the test build allocated, with the id the tracker gave it.
struct Block {
    unsigned char* pointer;
    size_t size;
    unsigned id;
};

class ModuleLifecycleTest : public ModuleLifecycleFixture {
  protected:
    // A fresh world with tracking in `mode` and a USB printer whose queue the post pass renames.
    void SeedInstallation(DWORD mode, PrinterDevice& printer) {
        winsim::Reset();
        winsim::ClearDebugOutput();
        SetSwitches(mode);
        printer.SetPort(u"USB001");
        printer.SetDescription(u"Alpha 100 Printer");
        AddQueue(queueName, u"Example PCL 6 Driver", u"USB001", u"Alpha 100");
        winsim::SetStringValue(HKEY_CURRENT_USER, userSettingsKey, u"InstallContextOriginalPrinterName",
                               queueName);
    }

    Block Allocate(TestModule& module, size_t size, int kind = scalarKind) {
        unsigned char* pointer = module.Allocate(size, kind);
        return Block{pointer, size, module.allocationCount()};
    }

    // Every block was given back by the unload: the final report finds a clean system.
    static void ExpectCleanUnload(TestModule& module) {
        module.Unload();
        EXPECT_NE(std::string::npos, winsim::DebugOutput().find(cleanVerdict)) << winsim::DebugOutput();
    }

    // The pattern of a record line; the call site's function, file and line are whatever the symbols say.
    static std::string RecordPattern(const std::string& keyword, const std::string& module,
                                     const Block& block, int release, int overrun, int underrun) {
        std::string addresses =
            keyword == "MemoryLeak" ? "" : R"(allocPtr="0x[0-9A-F]+" memHdrPtr="0x[0-9A-F]+" )";
        std::string releaseField =
            keyword == "MemoryLeak" ? " release=\"" + std::to_string(release) + "\"" : "";
        return keyword + " " + addresses + "module=\"" + RegexLiteral(module) + "\" id=\"" +
               std::to_string(block.id) + "\" size=\"" + std::to_string(block.size) + "\"" + releaseField +
               R"( function="[^"\r\n]*" file="[^"\r\n]*" line="[0-9]+" overrun=")" + std::to_string(overrun) +
               "\" underrun=\"" + std::to_string(underrun) + "\"\r\n";
    }

    static size_t Occurrences(const std::string& text, const std::string& piece) {
        size_t count = 0;
        for (size_t at = text.find(piece); at != std::string::npos;
             at = text.find(piece, at + piece.size())) {
            ++count;
        }
        return count;
    }

    // The raw record file and the text log file in C:\Logs\, which must be the only files there.
    bool FindLogPair(std::string* raw, std::string* text) {
        std::vector<std::string> files = FilesIn("Logs");
        EXPECT_EQ(2u, files.size()) << "expected one raw record file and one text log file in C:\\Logs\\";
        if (files.size() != 2 || files[1] != files[0] + ".log") {
            ADD_FAILURE() << "the text log file is not named after the raw record file";
            return false;
        }
        *raw = files[0];
        *text = files[1];
        return true;
    }

    std::vector<OVMemHdr> RawRecords(const std::string& name) {
        std::vector<uint8_t> bytes = ReadHostFile(HostPath("Logs", name));
        EXPECT_EQ(0u, bytes.size() % headerBytes) << "the raw record file is not made of whole headers";
        std::vector<OVMemHdr> records;
        for (size_t at = 0; at + headerBytes <= bytes.size(); at += headerBytes) {
            OVMemHdr record;
            std::memcpy(&record, bytes.data() + at, headerBytes);
            records.push_back(record);
        }
        return records;
    }
};

TEST_F(ModuleLifecycleTest, CleanInstallationEndsWithTheCleanSystemReportAndNoFiles) {
    for (DWORD mode : {1u, 2u, 3u, 4u}) {
        PrinterDevice printer;
        SeedInstallation(mode, printer);

        TestModule module;
        ASSERT_TRUE(module.Ready());
        ASSERT_EQ(static_cast<int>(mode), module.trackMode()) << "the seeded mode is not in force";
        auto entry = module.Find<EntryProc>("VRACoInstallerEntryProc");
        COINSTALLER_CONTEXT_DATA pre = {FALSE, NO_ERROR, nullptr};
        COINSTALLER_CONTEXT_DATA post = {TRUE, NO_ERROR, nullptr};
        EXPECT_EQ(static_cast<DWORD>(ERROR_DI_POSTPROCESSING_REQUIRED),
                  entry(DIF_INSTALLDEVICE, printer.Set(), printer.Element(), &pre));
        EXPECT_EQ(static_cast<DWORD>(NO_ERROR),
                  entry(DIF_INSTALLDEVICE, printer.Set(), printer.Element(), &post));
        printer.Release();
        unsigned count = module.allocationCount();
        EXPECT_GT(count, 10u) << "mode " << mode << ": the installation made hardly any tracked block";
        std::string modulePath = module.WindowsPath();
        EXPECT_EQ("", winsim::DebugOutput()) << "mode " << mode << ": the module reported before its unload";
        module.Unload();

        EXPECT_EQ(ReportHead(modulePath) + CountLine(count) + cleanVerdict + reportClosing,
                  winsim::DebugOutput())
            << "mode " << mode << ": the module's static strings must be released before the report";
        EXPECT_TRUE(FilesIn("Logs").empty()) << "mode " << mode << ": a clean run left log files";
        EXPECT_TRUE(FilesIn("Temp").empty())
            << "mode " << mode << ": a clean run left files in the temporary directory";
        EXPECT_FALSE(NoteWritten()) << "mode " << mode << ": a clean run noted a leak log";
    }
}

TEST_F(ModuleLifecycleTest, TrackingOffUnloadsWithoutAWord) {
    winsim::SetDwordValue(HKEY_LOCAL_MACHINE, switchesKey, u"TrackMemoryAllocation", 0);
    TestModule module;
    ASSERT_TRUE(module.Ready());
    module.release(module.allocate(40, scalarKind), scalarKind);
    void* untracked = module.allocate(24, scalarKind); // left live: untracked, so unreported
    module.Unload();
    std::free(untracked); // the pass-through pair took it from malloc
    EXPECT_EQ("", winsim::DebugOutput());
    EXPECT_TRUE(FilesIn("Logs").empty());
}

TEST_F(ModuleLifecycleTest, LeakedBlocksAreReportedAndTheirLaterReleasesToo) {
    SetSwitches(3);
    TestModule module;
    ASSERT_TRUE(module.Ready());
    ASSERT_TRUE(module.releasesFollowTheReport())
        << "the test build's exit handler does not follow the report";
    Block first = Allocate(module, 10);
    Block second = Allocate(module, 20, arrayKind);
    Block third = Allocate(module, 30);
    module.releaseAfterUnload(first.pointer, scalarKind);
    module.releaseAfterUnload(second.pointer, arrayKind);
    module.releaseAfterUnload(third.pointer, scalarKind);
    unsigned count = module.allocationCount();
    std::string modulePath = module.WindowsPath();
    std::string name = BaseName(modulePath);
    module.Unload();

    std::string output = winsim::DebugOutput();
    std::string raw;
    std::string text;
    ASSERT_TRUE(FindLogPair(&raw, &text));
    std::string textPath = "C:\\Logs\\" + text;
    std::string expected =
        RegexLiteral(ReportHead(modulePath) + "Logging memory leak information to:\r\n" + textPath + "\r\n") +
        RecordPattern("MemoryLeak", name, first, 0, 0, 0) +
        RecordPattern("MemoryLeak", name, second, 0, 0, 0) +
        RecordPattern("MemoryLeak", name, third, 0, 0, 0) +
        RegexLiteral(CountLine(count) + "Total leaked size: 60\n" + leakVerdict + reportClosing +
                     teardownOpening) +
        RecordPattern("MemoryLeak", name, first, 1, 0, 0) +
        RecordPattern("MemoryLeak", name, second, 1, 0, 0) +
        RecordPattern("MemoryLeak", name, third, 1, 0, 0) + RegexLiteral(teardownClosing);
    EXPECT_TRUE(std::regex_match(output, std::regex(expected))) << "the debugger output reads\n" << output;

    // The files stayed open after the report: the releases' records joined the leaks' in the same pair.
    std::vector<OVMemHdr> records = RawRecords(raw);
    ASSERT_EQ(6u, records.size()) << "three leaks and three releases after teardown";
    const Block* blocks[] = {&first, &second, &third};
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(blocks[i % 3]->id, records[i].id) << "record " << i;
        EXPECT_EQ(blocks[i % 3]->size, records[i].size) << "record " << i;
        EXPECT_EQ(i < 3 ? 0 : 1, records[i].release) << "record " << i;
    }
    std::vector<uint8_t> log = ReadHostFile(HostPath("Logs", text));
    std::string logText(log.begin(), log.end());
    std::regex lines(
        "\r\n\\*\\*\\*\\*\\*\\*\\* Leak Report \\*\\*\\*\\*\\*\\*\\*\r\n(MemoryLeak [^\r\n]*\r\n){6}");
    EXPECT_TRUE(std::regex_match(logText, lines)) << "the text log file reads\n" << logText;
    DWORD type = 0;
    winsim::Bytes data;
    ASSERT_TRUE(winsim::GetValue(HKEY_CURRENT_USER, noteKey, u"LeakedModule", &type, &data));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    EXPECT_EQ(textPath, std::string(data.begin(), data.end()));
}

TEST_F(ModuleLifecycleTest, DamagedGuardsGiveOneAccessViolationRecordPerReleaseInEachGuardedMode) {
    for (DWORD mode : {2u, 3u, 4u}) {
        winsim::Reset();
        winsim::ClearDebugOutput();
        std::filesystem::remove_all(root / "Logs");
        SetSwitches(mode);
        TestModule module;
        ASSERT_TRUE(module.Ready());
        std::string name = BaseName(module.WindowsPath());
        Block overrun = Allocate(module, 10);
        Block underrun = Allocate(module, 10);
        Block both = Allocate(module, 10, arrayKind);
        overrun.pointer[10] ^= 0xFF;
        underrun.pointer[-1] ^= 0xFF;
        both.pointer[10] ^= 0xFF;
        both.pointer[-1] ^= 0xFF;
        module.release(overrun.pointer, scalarKind);
        module.release(underrun.pointer, scalarKind);
        module.release(both.pointer, arrayKind);
        std::string output = winsim::DebugOutput();
        module.Unload();

        EXPECT_EQ(3u, Occurrences(output, "MemoryAccessViolation")) << "mode " << mode << ":\n" << output;
        for (const std::string& pattern : {RecordPattern("MemoryAccessViolation", name, overrun, 0, 1, 0),
                                           RecordPattern("MemoryAccessViolation", name, underrun, 0, 0, 1),
                                           RecordPattern("MemoryAccessViolation", name, both, 0, 1, 1)}) {
            EXPECT_TRUE(std::regex_search(output, std::regex(pattern)))
                << "mode " << mode << ": no record matching " << pattern << " in\n"
                << output;
        }
        EXPECT_EQ(0u, winsim::CallCount("DebugBreak")) << "mode " << mode << ": stopped without a debugger";
        std::string raw;
        std::string text;
        ASSERT_TRUE(FindLogPair(&raw, &text)) << "mode " << mode;
        std::vector<OVMemHdr> records = RawRecords(raw);
        ASSERT_EQ(3u, records.size()) << "mode " << mode;
        EXPECT_EQ(1, records[0].overrun);
        EXPECT_EQ(0, records[0].underrun);
        EXPECT_EQ(0, records[1].overrun);
        EXPECT_EQ(1, records[1].underrun);
        EXPECT_EQ(1, records[2].overrun);
        EXPECT_EQ(1, records[2].underrun);
        // The damaged blocks were freed all the same.
        EXPECT_NE(std::string::npos, winsim::DebugOutput().find(cleanVerdict)) << "mode " << mode;
    }
}

TEST_F(ModuleLifecycleTest, MismatchedDeleteIsRefusedAndTheBlockReportedAtUnload) {
    SetSwitches(3);
    TestModule module;
    ASSERT_TRUE(module.Ready());
    std::string name = BaseName(module.WindowsPath());
    Block array = Allocate(module, 16, arrayKind);
    module.release(array.pointer, scalarKind);
    std::string refusal = winsim::DebugOutput();
    EXPECT_EQ(0u, winsim::CallCount("DebugBreak")) << "no debugger: the refusal must not stop the process";
    EXPECT_NE(std::string::npos, refusal.find("refused")) << "the refusal is not on the debugger output:\n"
                                                          << refusal;
    array.pointer[0] = 1; // still the module's block: its memory was not touched
    module.releaseAfterUnload(array.pointer, arrayKind);
    module.Unload();
    std::string output = winsim::DebugOutput();
    EXPECT_TRUE(std::regex_search(output, std::regex(RecordPattern("MemoryLeak", name, array, 0, 0, 0))))
        << "the refused block must be reported as a leak:\n"
        << output;
    EXPECT_TRUE(std::regex_search(output, std::regex(RecordPattern("MemoryLeak", name, array, 1, 0, 0))))
        << "its later release with delete[] must be reported after teardown:\n"
        << output;
    EXPECT_NE(std::string::npos, output.find("Total leaked size: 16\n"));
}

TEST_F(ModuleLifecycleTest, RefusedReleasesStopInAnAttachedDebugger) {
    SetSwitches(1);
    winsim::SetDebuggerPresent(true);
    TestModule module;
    ASSERT_TRUE(module.Ready());
    Block array = Allocate(module, 16, arrayKind);
    module.release(array.pointer, scalarKind);
    EXPECT_EQ(1u, winsim::CallCount("DebugBreak"));
    alignas(16) unsigned char foreign[1024] = {};
    module.release(foreign + 608, scalarKind);
    EXPECT_EQ(2u, winsim::CallCount("DebugBreak"));
    module.release(array.pointer, arrayKind);
    ExpectCleanUnload(module);
}

TEST_F(ModuleLifecycleTest, ReleaseOfAPointerTheModuleNeverHandedOutChangesNothing) {
    SetSwitches(2);
    TestModule module;
    ASSERT_TRUE(module.Ready());
    alignas(16) unsigned char foreign[2048];
    std::memset(foreign, 0x5A, sizeof foreign);
    unsigned char* pointer = foreign + 1024;
    module.release(pointer, scalarKind);
    module.release(pointer, arrayKind);
    for (unsigned char byte : foreign) {
        ASSERT_EQ(0x5A, byte) << "the release wrote into memory that was not the module's";
    }
    EXPECT_EQ(0u, winsim::CallCount("VirtualFree"));
    EXPECT_EQ(2u, Occurrences(winsim::DebugOutput(), "refused")) << winsim::DebugOutput();
    ExpectCleanUnload(module);
}

TEST_F(ModuleLifecycleTest, InUseDumpAtBreakOnAllocIdListsTheLiveBlocksBeforeTheNewOne) {
    SetSwitches(3);
    TestModule module;
    ASSERT_TRUE(module.Ready());
    std::string name = BaseName(module.WindowsPath());
    module.setBreakOnAllocId(module.allocationCount() + 3);
    Block ten = Allocate(module, 10);
    Block twenty = Allocate(module, 20);
    EXPECT_EQ("", winsim::DebugOutput());
    Block thirty = Allocate(module, 30);
    std::string dump = winsim::DebugOutput();
    EXPECT_EQ(0u, winsim::CallCount("DebugBreak")) << "no debugger: the dump must not stop the process";

    // The module's own static strings are live too; the summary counts whatever the records list.
    std::regex record(R"re(MemoryInUse allocPtr="0x[0-9A-F]+" memHdrPtr="0x[0-9A-F]+" module="([^"]*)" )re"
                      R"re(id="([0-9]+)" size="([0-9]+)"[^\r\n]*\r\n)re");
    unsigned long long count = 0;
    unsigned long long total = 0;
    bool sawTen = false;
    bool sawTwenty = false;
    for (auto it = std::sregex_iterator(dump.begin(), dump.end(), record); it != std::sregex_iterator();
         ++it) {
        ++count;
        total += std::stoull((*it)[3].str());
        EXPECT_EQ(name, (*it)[1].str());
        unsigned id = static_cast<unsigned>(std::stoul((*it)[2].str()));
        sawTen = sawTen || id == ten.id;
        sawTwenty = sawTwenty || id == twenty.id;
        EXPECT_NE(thirty.id, id) << "the new block was listed before it joined the list";
    }
    EXPECT_TRUE(sawTen && sawTwenty) << "the live blocks are missing from the dump:\n" << dump;
    std::string summary =
        std::to_string(count) + " allocations active, consuming " + std::to_string(total) + " bytes\r\n";
    ASSERT_GE(dump.size(), summary.size());
    EXPECT_EQ(summary, dump.substr(dump.size() - summary.size())) << dump;
    EXPECT_TRUE(FilesIn("Logs").empty()) << "the dump wrote to the files";

    module.release(ten.pointer, scalarKind);
    module.release(twenty.pointer, scalarKind);
    module.release(thirty.pointer, scalarKind);
    ExpectCleanUnload(module);
}

} // namespace
