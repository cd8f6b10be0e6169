// Blocks that the module still holds when it is unloaded: the final report lists each one and the leaked
// total, the same records go to the raw record file and the text log file in TrackMemoryLogLocation, and
// the per-user note names the text log file. Each record names the call site that made the block.
#include "tracker_support.h"

using namespace behaviour;
using namespace tracker;

namespace {

struct LeakedBlock {
    void* pointer;
    size_t size;
    bool array;
};

} // namespace

TEST_F(BehaviourCheck, LeakLeftAtUnloadIsReportedLoggedAndNoted) {
    for (unsigned mode = 1; mode <= 4; ++mode) {
        std::string logDirectory;
        SKIP_UNLESS_PREPARED(StartTrackedTestBuild(world, mode, &logDirectory));
        const std::string modulePath = world.ModulePath();
        const std::string module = BaseName(modulePath);
        LeakedBlock blocks[] = {{nullptr, 10, false}, {nullptr, 20, true}, {nullptr, 30, false}};
        for (LeakedBlock& block : blocks) {
            block.pointer = world.AllocateInModule(block.size, block.array);
            ASSERT_TRUE(block.pointer != nullptr)
                << Formatted("mode %u: the test build could not allocate %u bytes", mode,
                             static_cast<unsigned>(block.size));
        }
        EXPECT_TRUE(TrackerPieces(world).empty())
            << Formatted("mode %u: expected nothing on the debugger before the unload", mode);
        world.UnloadModule();

        const LogPair logs = FindLogPair(world, logDirectory);
        ASSERT_TRUE(logs.problem.empty()) << Formatted("mode %u: %s", mode, logs.problem.c_str());
        const std::string naming = NamingProblem(logs, world.ProcessPath(), modulePath);
        EXPECT_TRUE(naming.empty()) << Formatted("mode %u: raw record file: %s", mode, naming.c_str());

        // The raw record file holds the three headers as they lay before the blocks, in allocation order.
        bool whole = false;
        const std::vector<OVMemHdr> raw = RawRecords(world.ReadWholeFile(logs.rawPath), &whole);
        EXPECT_TRUE(whole) << Formatted("mode %u: expected the raw record file made of 504-byte headers",
                                        mode);
        ASSERT_TRUE(raw.size() == 3) << Formatted("mode %u: expected 3 raw records, got %u", mode,
                                                  static_cast<unsigned>(raw.size()));
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_TRUE(raw[i].userPtr == blocks[i].pointer && raw[i].size == blocks[i].size &&
                        raw[i].allocKind == (blocks[i].array ? 1 : 0) && raw[i].release == 0 &&
                        raw[i].overrun == 0 && raw[i].underrun == 0 && raw[i].magic == 0xAA)
                << Formatted("mode %u: raw record %u: expected the header of the %u-byte block %p, got "
                             "userPtr %p, size "
                             "%llu, allocKind %d, release %u, overrun %u, underrun %u, magic %#x",
                             mode, static_cast<unsigned>(i), static_cast<unsigned>(blocks[i].size),
                             blocks[i].pointer, raw[i].userPtr, static_cast<unsigned long long>(raw[i].size),
                             raw[i].allocKind, raw[i].release, raw[i].overrun, raw[i].underrun, raw[i].magic);
        }
        EXPECT_TRUE(raw[1].id == raw[0].id + 1 && raw[2].id == raw[1].id + 1) << Formatted(
            "mode %u: expected consecutive ids, got %u, %u, %u", mode, raw[0].id, raw[1].id, raw[2].id);

        // The report: head, where the log goes, one record per block, the totals and the verdict.
        const Pieces report = TrackerPieces(world);
        const Pieces records = RecordsOf(report, "MemoryLeak");
        ASSERT_TRUE(records.size() == 3)
            << Formatted("mode %u: expected 3 leak records, got %u in \"%s\"", mode,
                         static_cast<unsigned>(records.size()), Shown(report).c_str());
        Pieces expected = ReportHead(world.ProcessPath(), modulePath);
        Append(&expected, {leakLogAnnouncement, logs.textPath, "\r\n"});
        for (size_t i = 0; i < 3; ++i) {
            expected.push_back(LeakRecord(module, raw[i], records[i]));
        }
        // The last block made is the last one counted: its id is the number of blocks the module made.
        Append(&expected, {CountLine(raw[2].id), "Total leaked size: 60\n", leakVerdict});
        Append(&expected, ReportClosing());
        const std::string difference = FirstDifference(expected, report);
        EXPECT_TRUE(difference.empty())
            << Formatted("mode %u: expected the leak report of %u pieces: %s", mode,
                         static_cast<unsigned>(expected.size()), difference.c_str());
        EXPECT_TRUE(world.BreakpointTraps() == 0) << Formatted(
            "mode %u: a leak must not stop the process, got %u traps", mode, world.BreakpointTraps());

        const std::string textLog = world.ReadWholeFile(logs.textPath);
        EXPECT_TRUE(textLog == TextLog(records))
            << Formatted("mode %u: expected the text log file to hold the banner and the 3 "
                         "records, got \"%s\"",
                         mode, Shown(textLog).c_str());
        DWORD noteType = REG_NONE;
        const std::string note = LeakNote(world, &noteType);
        EXPECT_TRUE(note == logs.textPath && noteType == REG_BINARY) << Formatted(
            "mode %u: expected LeakedModule = the text log file's path as REG_BINARY, got %s \"%s\"", mode,
            TypeName(noteType), note.c_str());
    }
}

// The call site comes from the module's symbols: on Windows and Wine the PDB beside the DLL (which carries
// no DWARF), over the simulation the shared object's DWARF. Without the PDB the same record names none.
TEST_F(BehaviourCheck, LeakRecordNamesTheCallSiteByFunctionFileAndLine) {
    for (unsigned mode = 1; mode <= 4; ++mode) {
        std::string logDirectory;
        SKIP_UNLESS_PREPARED(StartTrackedTestBuild(world, mode, &logDirectory));
        const std::string module = BaseName(world.ModulePath());
        std::string sourceFile;
        int line = 0;
        ASSERT_TRUE(world.LeakAtKnownLine(24, &sourceFile, &line) != nullptr && line > 0) << Formatted(
            "mode %u: the test build could not leak from its known call site (line %d)", mode, line);
        world.UnloadModule();

        const Pieces records = RecordsOf(TrackerPieces(world), "MemoryLeak");
        ASSERT_TRUE(records.size() == 1) << Formatted("mode %u: expected 1 leak record, got %u", mode,
                                                      static_cast<unsigned>(records.size()));
        const std::string& record = records[0];
        EXPECT_TRUE(Field(record, "module") == module && Field(record, "size") == "24" &&
                    Field(record, "release") == "0")
            << Formatted("mode %u: expected the 24-byte block of %s, got \"%s\"", mode, module.c_str(),
                         Shown(record).c_str());
        EXPECT_TRUE(Field(record, "function") == "vracoinsTestHook_leak")
            << Formatted("mode %u: expected the function vracoinsTestHook_leak, got \"%s\"", mode,
                         Field(record, "function").c_str());
        const std::string file = Field(record, "file");
        EXPECT_TRUE(BaseName(file) == BaseName(sourceFile))
            << Formatted("mode %u: expected the source file %s, got \"%s\"", mode,
                         BaseName(sourceFile).c_str(), file.c_str());
        EXPECT_TRUE(Field(record, "line") == std::to_string(line))
            << Formatted("mode %u: expected line %d, got \"%s\"", mode, line, Field(record, "line").c_str());

        const LogPair logs = FindLogPair(world, logDirectory);
        EXPECT_TRUE(logs.problem.empty()) << Formatted("mode %u: %s", mode, logs.problem.c_str());
        if (logs.problem.empty()) {
            const std::string textLog = world.ReadWholeFile(logs.textPath);
            EXPECT_TRUE(textLog == TextLog(records))
                << Formatted("mode %u: expected the named record in the text log file, got "
                             "\"%s\"",
                             mode, Shown(textLog).c_str());
        }
    }
}

// What the PDB brings: the same leak with the PDB moved away before the module is loaded names no call
// site.
TEST_F(BehaviourCheck, WithoutItsSymbolFileTheLeakRecordNamesNoCallSite) {
    SwitchTrackingOn(world, 1, world.FreshLogDirectory());
    const char* unmovable = world.PlaceSymbolFile(ModuleBuild::WithTestHooks, false);
    if (unmovable != nullptr) {
        GTEST_SKIP() << unmovable;
    }
    SKIP_UNLESS_PREPARED(world.LoadModule(ModuleBuild::WithTestHooks));
    std::string sourceFile;
    int line = 0;
    const bool leaked = world.LeakAtKnownLine(24, &sourceFile, &line) != nullptr;
    world.UnloadModule();
    const char* unplaced = world.PlaceSymbolFile(ModuleBuild::WithTestHooks, true);
    EXPECT_TRUE(unplaced == nullptr) << unplaced;
    ASSERT_TRUE(leaked) << "the test build could not leak from its known call site";
    const Pieces records = RecordsOf(TrackerPieces(world), "MemoryLeak");
    ASSERT_TRUE(records.size() == 1) << Formatted("without the symbol file: expected 1 leak record, got %u",
                                                  static_cast<unsigned>(records.size()));
    // Windows' dbghelp falls back on the export table, which names the hook (an export) but no file or line;
    // Wine's names nothing.
    const std::string function = Field(records[0], "function");
    const bool exportNamed = std::string(world.Name()) == "windows" && function == "vracoinsTestHook_leak";
    EXPECT_TRUE(Field(records[0], "size") == "24" && (function.empty() || exportNamed) &&
                Field(records[0], "file").empty() && Field(records[0], "line") == "0")
        << Formatted("without the symbol file: expected the 24-byte block with no function, file or line, "
                     "got \"%s\"",
                     Shown(records[0]).c_str());
}
