// Blocks that the module still holds when it is unloaded: the final report lists each one and the leaked
// total, the same records go to the raw record file and the text log file in TrackMemoryLogLocation, and
// the per-user note names the text log file. Each record names the call site that made the block. The
// files go under names nobody else holds: what someone put under the next names is left alone. The log
// directory that the tracker makes is for SYSTEM and the administrators alone.
#include "tracker_support.h"

#include <algorithm>
#include <ctime>

using namespace behaviour;
using namespace tracker;

namespace {

struct LeakedBlock {
    void* pointer;
    size_t size;
    bool array;
};

// What someone else put under the log files' next names: a file of their own, or a link to one.
enum class Planted { File, HardLink, SymbolicLink };

const char* const kTheirs = "theirs, not the tracker's";
const char* const kPrecious = "a file the tracker must not write to";
const char* const kRestrictedAccess = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// "<directory>\<executable>_<module>_<process id>_" of the log files of the loaded module.
std::string LogNamePrefix(BehaviourWorld& world, const std::string& directory) {
    return directory + "\\" + BaseName(world.ProcessPath()) + "_" + BaseName(world.ModulePath()) + "_" +
           std::to_string(GetCurrentProcessId()) + "_";
}

std::string RawNameAt(const std::string& prefix, int64_t time) {
    return prefix + std::to_string(static_cast<int32_t>(time)) + ".mlk";
}

} // namespace

TEST_F(BehaviourCheck, LeakLeftAtUnloadIsReportedLoggedAndNoted) {
    for (unsigned mode = 1; mode <= 4; ++mode) {
        SCOPED_TRACE(Formatted("mode %u", mode));
        std::string logDirectory;
        SKIP_UNLESS_PREPARED(StartTrackedTestBuild(world, mode, &logDirectory));
        const std::string modulePath = world.ModulePath();
        const std::string module = BaseName(modulePath);
        LeakedBlock blocks[] = {{nullptr, 10, false}, {nullptr, 20, true}, {nullptr, 30, false}};
        for (LeakedBlock& block : blocks) {
            block.pointer = world.AllocateInModule(block.size, block.array);
            ASSERT_TRUE(block.pointer != nullptr) << "the test build could not allocate " << block.size;
        }
        EXPECT_TRUE(TrackerPieces(world).empty()) << "expected nothing on the debugger before the unload";
        world.UnloadModule();

        const LogPair logs = FindLogPair(world, logDirectory);
        ASSERT_TRUE(logs.problem.empty()) << logs.problem;
        const std::string naming = NamingProblem(logs, world.ProcessPath(), modulePath);
        EXPECT_TRUE(naming.empty()) << "raw record file: " << naming;

        // The raw record file holds the three headers as they lay before the blocks, in allocation order.
        bool whole = false;
        const std::vector<OVMemHdr> raw = RawRecords(world.ReadWholeFile(logs.rawPath), &whole);
        EXPECT_TRUE(whole) << "expected the raw record file made of 504-byte headers";
        ASSERT_TRUE(raw.size() == 3) << "expected 3 raw records, got " << raw.size();
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_TRUE(raw[i].userPtr == blocks[i].pointer && raw[i].size == blocks[i].size &&
                        raw[i].allocKind == (blocks[i].array ? 1 : 0) && raw[i].release == 0 &&
                        raw[i].overrun == 0 && raw[i].underrun == 0 && raw[i].magic == 0xAA)
                << Formatted(
                       "raw record %u: expected the header of the %u-byte block %p, got userPtr %p, size "
                       "%llu, allocKind %d, release %u, overrun %u, underrun %u, magic %#x",
                       static_cast<unsigned>(i), static_cast<unsigned>(blocks[i].size), blocks[i].pointer,
                       raw[i].userPtr, static_cast<unsigned long long>(raw[i].size), raw[i].allocKind,
                       raw[i].release, raw[i].overrun, raw[i].underrun, raw[i].magic);
        }
        EXPECT_TRUE(raw[1].id == raw[0].id + 1 && raw[2].id == raw[1].id + 1)
            << Formatted("expected consecutive ids, got %u, %u, %u", raw[0].id, raw[1].id, raw[2].id);

        // The report: head, where the log goes, one record per block, the totals and the verdict.
        const Pieces report = TrackerPieces(world);
        const Pieces records = RecordsOf(report, "MemoryLeak");
        ASSERT_TRUE(records.size() == 3) << "expected 3 leak records in \"" << Shown(report) << "\"";
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
            << "expected the leak report of " << expected.size() << " pieces: " << difference;
        EXPECT_TRUE(world.BreakpointTraps() == 0)
            << "a leak must not stop the process, got " << world.BreakpointTraps() << " traps";

        const std::string textLog = world.ReadWholeFile(logs.textPath);
        EXPECT_TRUE(textLog == TextLog(records))
            << "expected the text log file to hold the banner and the 3 records, got \"" << Shown(textLog)
            << "\"";
        DWORD noteType = REG_NONE;
        const std::string note = LeakNote(world, &noteType);
        EXPECT_TRUE(note == logs.textPath && noteType == REG_BINARY)
            << "expected LeakedModule = the text log file's path as REG_BINARY, got " << TypeName(noteType)
            << " \"" << note << "\"";
    }
}

// The call site comes from the module's symbols: on Windows and Wine the PDB beside the DLL (which carries
// no DWARF), over the simulation the shared object's DWARF. Without the PDB the same record names none.
TEST_F(BehaviourCheck, LeakRecordNamesTheCallSiteByFunctionFileAndLine) {
    for (unsigned mode = 1; mode <= 4; ++mode) {
        SCOPED_TRACE(Formatted("mode %u", mode));
        std::string logDirectory;
        SKIP_UNLESS_PREPARED(StartTrackedTestBuild(world, mode, &logDirectory));
        const std::string module = BaseName(world.ModulePath());
        std::string sourceFile;
        int line = 0;
        ASSERT_TRUE(world.LeakAtKnownLine(24, &sourceFile, &line) != nullptr && line > 0)
            << "the test build could not leak from its known call site (line " << line << ")";
        world.UnloadModule();

        const Pieces records = RecordsOf(TrackerPieces(world), "MemoryLeak");
        ASSERT_TRUE(records.size() == 1) << "expected 1 leak record, got " << records.size();
        const std::string& record = records[0];
        EXPECT_TRUE(Field(record, "module") == module && Field(record, "size") == "24" &&
                    Field(record, "release") == "0")
            << "expected the 24-byte block of " << module << ", got \"" << Shown(record) << "\"";
        EXPECT_EQ(Field(record, "function"), "vracoinsTestHook_leak");
        EXPECT_EQ(BaseName(Field(record, "file")), BaseName(sourceFile));
        EXPECT_EQ(Field(record, "line"), std::to_string(line));

        const LogPair logs = FindLogPair(world, logDirectory);
        EXPECT_TRUE(logs.problem.empty()) << logs.problem;
        if (logs.problem.empty()) {
            const std::string textLog = world.ReadWholeFile(logs.textPath);
            EXPECT_TRUE(textLog == TextLog(records))
                << "expected the named record in the text log file, got \"" << Shown(textLog) << "\"";
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

// A block's first bytes as the records show them: rows of 16, the offset, the bytes in hex, then the
// printable ones.
Pieces DataRows(const unsigned char* bytes, size_t count) {
    Pieces rows;
    for (size_t row = 0; row < count; row += 16) {
        std::string text = Formatted("    %04X  ", static_cast<unsigned>(row));
        std::string printable;
        for (size_t column = row; column < row + 16; ++column) {
            text += column < count ? Formatted("%02X ", bytes[column]) : "   ";
            if (column < count) {
                printable +=
                    bytes[column] >= 0x20 && bytes[column] < 0x7F ? static_cast<char>(bytes[column]) : '.';
            }
        }
        rows.push_back(text + " " + printable + "\r\n");
    }
    return rows;
}

// With call stacks and data bytes switched on, each leak record is followed by its frames, from the code
// that called the allocation operator outwards, with module, function, file and line, and by the block's
// first bytes; leaks of one stack fold into its first record, and the distinct stacks follow the records,
// largest total first. The raw record file stays as it was: headers only.
TEST_F(BehaviourCheck, LeakRecordsShowTheirStacksFoldedAndTheirBytes) {
    const struct {
        DWORD mode;
        DWORD stackDepth;  // as switched on; 0: off
        DWORD dataBytes;   // as switched on; 0: off
        unsigned frames;   // frames kept of each stack, at most
        size_t shown;      // bytes shown of each 40-byte block
        size_t shownOf100; // and of the 100-byte one
    } rows[] = {{1, 1, 20, 1, 20, 20},
                {3, 3, 0, 3, 0, 0},
                {2, 40, 300, 32, 40, 100},
                {4, 0, 16, 0, 16, 16},
                {1, 8, 32, 8, 32, 32}};
    for (const auto& row : rows) {
        SCOPED_TRACE(Formatted("mode %lu, depth %lu, bytes %lu", row.mode, row.stackDepth, row.dataBytes));
        std::string logDirectory;
        SKIP_UNLESS_PREPARED(StartWithDetails(world, row.mode, row.stackDepth, row.dataBytes, &logDirectory));
        const std::string module = BaseName(world.ModulePath());
        using LeakNested = void (*)(size_t, unsigned, void**, int*);
        auto leakNested = reinterpret_cast<LeakNested>(world.TestHook("vracoinsTestHook_leakNested"));
        auto leakFile = reinterpret_cast<const char* (*)()>(world.TestHook("vracoinsTestHook_leakFile"));
        ASSERT_TRUE(leakNested != nullptr && leakFile != nullptr) << "the test build lacks its nested leak";
        // Two blocks from one call site, then a larger one from another.
        int lines[3] = {};
        void* made[2] = {};
        leakNested(40, 2, made, lines);
        auto* single = static_cast<unsigned char*>(world.AllocateInModule(100, false));
        ASSERT_TRUE(made[0] != nullptr && made[1] != nullptr && single != nullptr)
            << "the test build could not allocate";
        unsigned char* nested[2] = {static_cast<unsigned char*>(made[0]),
                                    static_cast<unsigned char*>(made[1])};
        const std::string text = "port USB001 of the queue \x01\x02\xFF named A4, Alpha";
        for (size_t i = 0; i < 40; ++i) {
            nested[0][i] = static_cast<unsigned char>(text[i]);
            nested[1][i] = static_cast<unsigned char>(i * 7);
        }
        std::memset(single, 'x', 100);
        const std::string sourceFile = BaseName(leakFile());
        world.UnloadModule();

        const Pieces report = TrackerPieces(world);
        const Pieces records = RecordsOf(report, "MemoryLeak");
        ASSERT_TRUE(records.size() == 3) << "expected 3 leak records, got \"" << Shown(report) << "\"";
        const Pieces details[] = {LinesAfter(report, records[0]), LinesAfter(report, records[1]),
                                  LinesAfter(report, records[2])};
        const std::string firstId = Field(records[0], "id");
        // The walk of the frames may end early, at code that it cannot unwind, but never inside the test
        // build: the nested leak has four frames there, the single block one.
        const Pieces rowsOf[] = {DataRows(nested[0], row.shown), DataRows(nested[1], row.shown),
                                 DataRows(single, row.shownOf100)};
        const size_t leastFrames[] = {row.frames < 4 ? row.frames : 4, 0, row.frames < 1 ? row.frames : 1};
        for (size_t block : {0, 2}) {
            const Pieces& lines = details[block];
            size_t frames = 0;
            while (frames < lines.size() &&
                   lines[frames].rfind(Formatted("    #%u 0x", static_cast<unsigned>(frames)), 0) == 0) {
                ++frames;
            }
            EXPECT_TRUE(frames >= leastFrames[block] && frames <= row.frames &&
                        lines.size() == frames + rowsOf[block].size() &&
                        Pieces(lines.begin() + static_cast<long>(frames), lines.end()) == rowsOf[block])
                << Formatted("block %u: expected %u to %u frames, then the rows \"%s\", got \"%s\"",
                             static_cast<unsigned>(block), static_cast<unsigned>(leastFrames[block]),
                             row.frames, Shown(rowsOf[block]).c_str(), Shown(lines).c_str());
        }
        const char* functions[] = {"nestedLeakInner", "nestedLeakMiddle", "nestedLeakOuter"};
        for (unsigned frame = 0; frame < row.frames && frame < 3; ++frame) {
            const std::string& line = frame < details[0].size() ? details[0][frame] : "";
            const std::string at = Formatted("%s(%d)\r\n", sourceFile.c_str(), lines[frame]);
            EXPECT_TRUE(line.find(" " + module + "+0x") != std::string::npos &&
                        line.find(Formatted(" %s ", functions[frame])) != std::string::npos &&
                        line.size() > at.size() && line.compare(line.size() - at.size(), at.size(), at) == 0)
                << Formatted("frame %u: expected %s in %s at %s, got \"%s\"", frame, functions[frame],
                             module.c_str(), Shown(at).c_str(), Shown(line).c_str());
        }
        Pieces second;
        if (row.frames != 0) {
            second.push_back("    same call stack as id=\"" + firstId + "\"\r\n");
        }
        Append(&second, rowsOf[1]);
        EXPECT_TRUE(details[1] == second)
            << "expected \"" << Shown(second) << "\" after the second record, got \"" << Shown(details[1])
            << "\"";
        Pieces expected;
        if (row.frames != 0) {
            expected = {"Leaked blocks by call stack, largest total first: 2 stacks\r\n",
                        "    stack of id=\"" + Field(records[2], "id") + "\": count=1 bytes=100\r\n",
                        "    stack of id=\"" + firstId + "\": count=2 bytes=80\r\n"};
        }
        expected.push_back(CountLine(static_cast<unsigned long>(ReportedCount(report))));
        Pieces summary = PiecesFrom(report, expected[0]);
        summary.resize(std::min(summary.size(), expected.size()));
        EXPECT_TRUE(summary == expected) << "expected the summary \"" << Shown(expected) << "\", got \""
                                         << Shown(PiecesFrom(report, expected[0])) << "\"";

        const LogPair logs = FindLogPair(world, logDirectory);
        ASSERT_TRUE(logs.problem.empty()) << logs.problem;
        bool whole = false;
        EXPECT_TRUE(RawRecords(world.ReadWholeFile(logs.rawPath), &whole).size() == 3 && whole)
            << "expected 3 whole headers in the raw record file";
        const std::string textLog = world.ReadWholeFile(logs.textPath);
        EXPECT_TRUE(
            textLog.find(details[0].empty() ? records[0] : details[0].back()) != std::string::npos &&
            (row.frames == 0 || (summary.size() >= 3 &&
                                 textLog.find(summary[0] + summary[1] + summary[2]) != std::string::npos)))
            << "expected the details and the summary in the text log file, got \"" << Shown(textLog) << "\"";
    }
}

// A file, a hard link and a symbolic link under the raw record file's or the text log file's name for each
// of the next seconds are left as they were, and the records go to a pair under the first free time; with
// every name taken for longer than the tracker tries, to the debugger output alone.
TEST_F(BehaviourCheck, NamesTakenBySomeoneElseAreLeftAloneAndTheRecordsGoToAFreeTime) {
    const struct {
        const char* what;
        Planted planted;
        bool textName;   // under the text log file's names, else the raw record file's
        int64_t seconds; // how many names from now on are taken
    } rows[] = {{"files under the raw record file's names", Planted::File, false, 10},
                {"files under the text log file's names", Planted::File, true, 10},
                {"hard links under the raw record file's names", Planted::HardLink, false, 10},
                {"hard links under the text log file's names", Planted::HardLink, true, 10},
                {"symbolic links under the raw record file's names", Planted::SymbolicLink, false, 10},
                {"symbolic links under the text log file's names", Planted::SymbolicLink, true, 10},
                {"files under every name the tracker tries", Planted::File, false, 40}};
    std::string unplantable;
    for (const auto& row : rows) {
        std::string directory;
        SKIP_UNLESS_PREPARED(StartTrackedTestBuild(world, 1, &directory));
        ASSERT_TRUE(world.AllocateInModule(16, false) != nullptr) << row.what;
        const std::string prefix = LogNamePrefix(world, directory);
        const std::string precious = directory + "\\precious.txt";
        ASSERT_TRUE(world.PlantFile(precious, kPrecious) == nullptr) << row.what;
        const int64_t start = static_cast<int64_t>(std::time(nullptr));
        std::vector<std::string> taken;
        const char* why = nullptr;
        for (int64_t at = start; at < start + row.seconds && why == nullptr; ++at) {
            taken.push_back(RawNameAt(prefix, at) + (row.textName ? ".log" : ""));
            why =
                row.planted == Planted::File
                    ? world.PlantFile(taken.back(), kTheirs)
                    : world.PlantLink(row.planted == Planted::HardLink ? LinkKind::Hard : LinkKind::Symbolic,
                                      taken.back(), precious);
        }
        if (why != nullptr) {
            unplantable = std::string(row.what) + ": " + why;
            continue;
        }
        world.UnloadModule();
        ASSERT_TRUE(static_cast<int64_t>(std::time(nullptr)) < start + row.seconds)
            << Formatted("%s: the records came after the last taken name; the check was too slow", row.what);

        for (const std::string& name : taken) {
            const std::string expected = row.planted == Planted::File ? kTheirs : kPrecious;
            EXPECT_TRUE(world.ReadWholeFile(name) == expected)
                << Formatted("%s: %s now holds \"%s\"", row.what, BaseName(name).c_str(),
                             Shown(world.ReadWholeFile(name)).c_str());
        }
        EXPECT_TRUE(world.ReadWholeFile(precious) == kPrecious)
            << Formatted("%s: the file the links lead to was written to", row.what);
        std::vector<std::string> created;
        for (const std::string& file : world.FilesIn(directory)) {
            const std::string path = directory + "\\" + file;
            if (path != precious && std::find(taken.begin(), taken.end(), path) == taken.end()) {
                created.push_back(path);
            }
        }
        const Pieces output = TrackerPieces(world);
        if (row.seconds > 16) {
            EXPECT_TRUE(created.empty()) << Formatted("%s: expected no log file, found \"%s\"", row.what,
                                                      BaseName(created[0]).c_str());
            EXPECT_TRUE(
                !PiecesFrom(output, "OVMemCollector: no log file in " + directory +
                                        "\\: the next 16 names were taken by others; records go to the "
                                        "debugger output only\r\n")
                     .empty() &&
                RecordsOf(output, "MemoryLeak").size() == 1)
                << Formatted("%s: expected the one line and the record on the debugger, got \"%s\"", row.what,
                             Shown(output).c_str());
            continue;
        }
        // The first free time comes after the last taken one; a name taken under one file of the pair takes
        // the pair's time, and the other file, created first, is gone again.
        const std::string fresh = RawNameAt(prefix, start + row.seconds);
        std::sort(created.begin(), created.end());
        EXPECT_TRUE(created == std::vector<std::string>({fresh, fresh + ".log"})) << Formatted(
            "%s: expected only %s and its .log beside what was planted, found %u files%s%s", row.what,
            BaseName(fresh).c_str(), static_cast<unsigned>(created.size()),
            created.empty() ? "" : ", the first ", created.empty() ? "" : BaseName(created[0]).c_str());
        const Pieces records = RecordsOf(output, "MemoryLeak");
        EXPECT_TRUE(records.size() == 1 && world.ReadWholeFile(fresh + ".log") == TextLog(records))
            << Formatted("%s: expected the record in %s.log", row.what, BaseName(fresh).c_str());
    }
    if (!unplantable.empty()) {
        GTEST_SKIP() << unplantable;
    }
}

// The directory of TrackMemoryLogLocation, when the tracker makes it, gives access to SYSTEM and the
// administrators alone and inherits nothing; one that exists is used as it is.
TEST_F(BehaviourCheck, TheLogDirectoryIsMadeForSystemAndAdministratorsAlone) {
    for (const bool existing : {false, true}) {
        world.Clear();
        const std::string directory = world.FreshLogDirectory();
        std::string before;
        if (existing) {
            SKIP_UNLESS_PREPARED(world.MakeDirectory(directory));
            SKIP_UNLESS_PREPARED(world.DirectoryAccess(directory, &before));
        }
        SwitchTrackingOn(world, 1, directory);
        SKIP_UNLESS_PREPARED(world.LoadModule(ModuleBuild::WithTestHooks));
        world.ReleaseInModule(world.AllocateInModule(8, false), false);
        std::string access;
        SKIP_UNLESS_PREPARED(world.DirectoryAccess(directory, &access));
        world.UnloadModule();
        if (existing) {
            EXPECT_TRUE(access == before) << Formatted(
                "an existing directory: its access changed from %s to %s", before.c_str(), access.c_str());
            continue;
        }
        // Where the descriptor itself is not kept, what is kept of it must still shut everyone else out.
        for (const char* other : {";;;WD)", ";;;BU)", ";;;AU)", ";;;IU)"}) {
            EXPECT_TRUE(access.find(other) == std::string::npos)
                << Formatted("the tracker's directory lets others in: %s", access.c_str());
        }
        EXPECT_TRUE_EXCEPT_ON_WINE(
            "Wine keeps no security descriptor of a file: it answers one made from the "
            "file's Unix mode",
            access == kRestrictedAccess)
            << Formatted("expected %s, got %s", kRestrictedAccess, access.c_str());
    }
}
