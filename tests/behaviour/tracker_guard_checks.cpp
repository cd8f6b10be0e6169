// What a release of a tracked block checks: in the guarded modes 2 to 4 the guard zones on both sides of
// the block, whose damage is reported at the release and stops in a debugger that was attached when the
// first check asked for one; in mode 1 nothing around the block; in every mode the form of delete, a
// mismatch being refused with a line on the debugger output.
#include "tracker_support.h"

#include <algorithm>

using namespace behaviour;
using namespace tracker;

namespace {

enum class Damage { Overrun, Underrun, Both };

const char* DamageName(Damage damage) {
    return damage == Damage::Overrun    ? "overrun"
           : damage == Damage::Underrun ? "underrun"
                                        : "overrun and underrun";
}

// A 10-byte block whose guards a stray write has changed: the byte just past its end, the byte just before
// its start, or both.
struct DamagedBlock {
    unsigned char* pointer = nullptr;
    bool array = false;
    Damage damage = Damage::Overrun;
};

constexpr size_t kBlockSize = 10;

bool AllocateDamaged(BehaviourWorld& world, DamagedBlock* block, Damage damage, bool array) {
    block->pointer = static_cast<unsigned char*>(world.AllocateInModule(kBlockSize, array));
    block->array = array;
    block->damage = damage;
    if (block->pointer == nullptr) {
        return false;
    }
    if (damage != Damage::Underrun) {
        block->pointer[kBlockSize] ^= 0xFF;
    }
    if (damage != Damage::Overrun) {
        block->pointer[-1] ^= 0xFF;
    }
    return true;
}

// The damaged blocks of a check: an overrun, an underrun, and both on a block made by new[].
bool AllocateDamagedBlocks(BehaviourWorld& world, DamagedBlock (&blocks)[3]) {
    return AllocateDamaged(world, &blocks[0], Damage::Overrun, false) &&
           AllocateDamaged(world, &blocks[1], Damage::Underrun, false) &&
           AllocateDamaged(world, &blocks[2], Damage::Both, true);
}

bool EndsWithTheCleanVerdict(const Pieces& pieces) {
    const Pieces closing = ReportClosing();
    return pieces.size() > closing.size() && pieces[pieces.size() - closing.size() - 1] == cleanVerdict;
}

} // namespace

TEST_F(BehaviourCheck, DamagedGuardsAreReportedAtReleaseInEachGuardedMode) {
    for (unsigned mode = 2; mode <= 4; ++mode) {
        SCOPED_TRACE(Formatted("mode %u", mode));
        std::string logDirectory;
        SKIP_UNLESS_PREPARED(StartTrackedTestBuild(world, mode, &logDirectory));
        const std::string module = BaseName(world.ModulePath());
        DamagedBlock blocks[3];
        ASSERT_TRUE(AllocateDamagedBlocks(world, blocks)) << "the test build could not allocate";
        for (const DamagedBlock& block : blocks) {
            world.ReleaseInModule(block.pointer, block.array);
        }
        const Pieces atRelease = TrackerPieces(world);
        EXPECT_TRUE(world.BreakpointTraps() == 0) << "without a debugger a damaged guard must not stop, got "
                                                  << world.BreakpointTraps() << " traps";

        const LogPair logs = FindLogPair(world, logDirectory);
        ASSERT_TRUE(logs.problem.empty()) << logs.problem;
        bool whole = false;
        const std::vector<OVMemHdr> raw = RawRecords(world.ReadWholeFile(logs.rawPath), &whole);
        ASSERT_TRUE(whole && raw.size() == 3) << "expected 3 raw records, got " << raw.size();
        // One record per release, the first one announcing the log file; both flags as the check found them.
        const Pieces records = RecordsOf(atRelease, "MemoryAccessViolation");
        ASSERT_TRUE(records.size() == 3)
            << "expected 3 access-violation records, got \"" << Shown(atRelease) << "\"";
        Pieces expected = {leakLogAnnouncement, logs.textPath, "\r\n"};
        for (size_t i = 0; i < 3; ++i) {
            const DamagedBlock& block = blocks[i];
            const uint8_t overrun = block.damage != Damage::Underrun ? 1 : 0;
            const uint8_t underrun = block.damage != Damage::Overrun ? 1 : 0;
            EXPECT_TRUE(raw[i].userPtr == block.pointer && raw[i].size == kBlockSize &&
                        raw[i].overrun == overrun && raw[i].underrun == underrun)
                << Formatted(
                       "%s: expected the raw header of block %p with overrun %u, underrun %u, got block "
                       "%p, size %llu, overrun %u, underrun %u",
                       DamageName(block.damage), static_cast<void*>(block.pointer), overrun, underrun,
                       raw[i].userPtr, static_cast<unsigned long long>(raw[i].size), raw[i].overrun,
                       raw[i].underrun);
            expected.push_back(
                AccessViolationRecord(module, raw[i], HeaderAddressOf(block.pointer), records[i]));
        }
        const std::string difference = FirstDifference(expected, atRelease);
        EXPECT_TRUE(difference.empty()) << "expected the announcement and 3 records: " << difference;
        const std::string textLog = world.ReadWholeFile(logs.textPath);
        EXPECT_TRUE(textLog == TextLog(records))
            << "expected the 3 records in the text log file, got \"" << Shown(textLog) << "\"";

        // The damaged blocks were freed all the same: nothing is left to leak.
        world.UnloadModule();
        EXPECT_TRUE(EndsWithTheCleanVerdict(TrackerPieces(world)))
            << "expected the clean verdict at unload, got \"" << Shown(TrackerPieces(world)) << "\"";
    }
}

// With call stacks and data bytes on, an access-violation record and an in-use record are each followed
// by the block's frames, from the test build's allocating function on, and its first bytes; nothing of
// either reaches the raw record file.
TEST_F(BehaviourCheck, AccessViolationAndInUseRecordsShowTheirStacksAndBytes) {
    const char* const kinds[] = {"MemoryAccessViolation", "MemoryInUse"};
    for (const char* kind : kinds) {
        std::string logDirectory;
        SKIP_UNLESS_PREPARED(StartWithDetails(world, 3, 2, 8, &logDirectory));
        const std::string module = BaseName(world.ModulePath());
        auto* block = static_cast<unsigned char*>(world.AllocateInModule(kBlockSize, false));
        ASSERT_TRUE(block != nullptr);
        std::memcpy(block, "0123456789", kBlockSize);
        if (std::string(kind) == "MemoryInUse") {
            // The dump runs at the next allocation, and lists the block.
            auto count = reinterpret_cast<unsigned (*)()>(world.TestHook("vracoinsTestHook_allocationCount"));
            auto breakOn =
                reinterpret_cast<void (*)(unsigned)>(world.TestHook("vracoinsTestHook_setBreakOnAllocId"));
            ASSERT_TRUE(count != nullptr && breakOn != nullptr);
            breakOn(count() + 1);
            world.ReleaseInModule(world.AllocateInModule(1, false), false);
        } else {
            block[kBlockSize] ^= 0xFF;
        }
        world.ReleaseInModule(block, false);
        const Pieces pieces = TrackerPieces(world);
        // The in-use dump lists the module's own live blocks too: the one of this check is the 10-byte one.
        std::string line;
        for (const std::string& found : RecordsOf(pieces, kind)) {
            line = Field(found, "size") == "10" ? found : line;
        }
        const Pieces record = PiecesFrom(pieces, line);
        ASSERT_TRUE(record.size() >= 4)
            << Formatted("%s: expected the record and its details, got \"%s\"", kind, Shown(pieces).c_str());
        const std::string frame = "    #0 0x";
        EXPECT_TRUE(record[1].rfind(frame, 0) == 0 &&
                    record[1].find(" " + module + "+0x") != std::string::npos &&
                    record[1].find(" vracoinsTestHook_allocate ") != std::string::npos &&
                    record[2].rfind("    #1 0x", 0) == 0 &&
                    record[3] == "    0000  30 31 32 33 34 35 36 37                          01234567\r\n")
            << Formatted("%s: expected two frames from vracoinsTestHook_allocate on, then the first 8 bytes, "
                         "got \"%s\"",
                         kind, Shown(record).c_str());
        world.UnloadModule();
    }
}

TEST_F(BehaviourCheck, DamagedGuardStopsInAnAttachedDebugger) {
    for (unsigned mode = 2; mode <= 4; ++mode) {
        world.Clear();
        SwitchTrackingOn(world, mode, world.FreshLogDirectory());
        world.AttachDebugger(true);
        LOAD_MODULE_OR_SKIP(ModuleBuild::WithTestHooks);
        DamagedBlock blocks[3];
        ASSERT_TRUE(AllocateDamagedBlocks(world, blocks)) << "mode " << mode << ": could not allocate";
        // Each damaged guard stops once, and the release goes on to its record.
        const unsigned expectedTraps[] = {1, 2, 4};
        for (size_t i = 0; i < 3; ++i) {
            world.ReleaseInModule(blocks[i].pointer, blocks[i].array);
            const size_t records = RecordsOf(TrackerPieces(world), "MemoryAccessViolation").size();
            EXPECT_TRUE(world.BreakpointTraps() == expectedTraps[i] && records == i + 1)
                << Formatted("mode %u, %s: expected %u traps and %u records so far, got %u and %u", mode,
                             DamageName(blocks[i].damage), expectedTraps[i], static_cast<unsigned>(i + 1),
                             world.BreakpointTraps(), static_cast<unsigned>(records));
        }
        world.UnloadModule();
        EXPECT_TRUE(world.BreakpointTraps() == 4)
            << Formatted("mode %u: the unload must not stop, got %u traps", mode, world.BreakpointTraps());
    }
}

TEST_F(BehaviourCheck, DebuggerAttachedAfterTheFirstGuardCheckIsNotAskedAgain) {
    SwitchTrackingOn(world, 3, world.FreshLogDirectory());
    LOAD_MODULE_OR_SKIP(ModuleBuild::WithTestHooks);
    void* intact = world.AllocateInModule(kBlockSize, false);
    DamagedBlock damaged;
    ASSERT_TRUE(intact != nullptr && AllocateDamaged(world, &damaged, Damage::Both, false))
        << "the test build could not allocate";
    world.ReleaseInModule(intact, false); // the first check: no debugger
    world.AttachDebugger(true);
    world.ReleaseInModule(damaged.pointer, false);
    EXPECT_TRUE(world.BreakpointTraps() == 0) << Formatted(
        "the module asked once, found no debugger, and must not stop: got %u traps", world.BreakpointTraps());
    const Pieces records = RecordsOf(TrackerPieces(world), "MemoryAccessViolation");
    EXPECT_TRUE(records.size() == 1 && Field(records[0], "overrun") == "1" &&
                Field(records[0], "underrun") == "1")
        << Formatted("expected one record with both flags, got \"%s\"", Shown(records).c_str());
}

TEST_F(BehaviourCheck, UnguardedModeLeavesChangedBytesAroundABlockUnreported) {
    const std::string logDirectory = world.FreshLogDirectory();
    SwitchTrackingOn(world, 1, logDirectory);
    // Attached from the start: a check that ran would stop.
    world.AttachDebugger(true);
    LOAD_MODULE_OR_SKIP(ModuleBuild::WithTestHooks);
    DamagedBlock blocks[3];
    ASSERT_TRUE(AllocateDamagedBlocks(world, blocks)) << "the test build could not allocate";
    for (const DamagedBlock& block : blocks) {
        world.ReleaseInModule(block.pointer, block.array);
    }
    const Pieces output = TrackerPieces(world);
    EXPECT_TRUE(output.empty()) << Formatted("expected nothing on the debugger, got \"%s\"",
                                             Shown(output).c_str());
    EXPECT_TRUE(world.BreakpointTraps() == 0)
        << Formatted("expected no trap, got %u", world.BreakpointTraps());
    EXPECT_TRUE(world.FilesIn(logDirectory).empty()) << "expected no log file";
    world.UnloadModule();
    EXPECT_TRUE(EndsWithTheCleanVerdict(TrackerPieces(world)))
        << Formatted("expected the clean verdict at unload, got \"%s\"", Shown(TrackerPieces(world)).c_str());
}

TEST_F(BehaviourCheck, MismatchedReleaseIsRefusedWithItsLineAndTheBlockKept) {
    for (unsigned mode = 1; mode <= 4; ++mode) {
        SCOPED_TRACE(Formatted("mode %u", mode));
        std::string logDirectory;
        SKIP_UNLESS_PREPARED(StartTrackedTestBuild(world, mode, &logDirectory));
        const std::string module = BaseName(world.ModulePath());
        unsigned char* array = static_cast<unsigned char*>(world.AllocateInModule(16, true));
        unsigned char* scalar = static_cast<unsigned char*>(world.AllocateInModule(8, false));
        ASSERT_TRUE(array != nullptr && scalar != nullptr) << "the test build could not allocate";

        // Without a debugger: the line, and nothing that would end the process.
        world.ReleaseInModule(array, false);
        Pieces output = TrackerPieces(world);
        std::string difference = FirstDifference({MismatchNotice(array, true)}, output);
        EXPECT_TRUE(difference.empty()) << "new[] released by delete: " << difference;
        EXPECT_TRUE(world.BreakpointTraps() == 0)
            << "without a debugger the refusal must not stop, got " << world.BreakpointTraps() << " traps";

        // With a debugger: the line, and a stop.
        world.AttachDebugger(true);
        world.ReleaseInModule(scalar, true);
        world.AttachDebugger(false);
        output = TrackerPieces(world);
        difference = FirstDifference({MismatchNotice(array, true), MismatchNotice(scalar, false)}, output);
        EXPECT_TRUE(difference.empty()) << "new released by delete[]: " << difference;
        EXPECT_TRUE(world.BreakpointTraps() == 1)
            << "with a debugger the refusal must stop once, got " << world.BreakpointTraps();

        // Both blocks are still the module's: the scalar one is released by its own form, the array one is
        // left to be reported as a leak at the unload.
        array[0] = 1;
        scalar[0] = 1;
        world.ReleaseInModule(scalar, false);
        EXPECT_TRUE(TrackerPieces(world).size() == 2) << "the matching release must pass without a word";
        world.UnloadModule();
        output = TrackerPieces(world);
        const Pieces records = RecordsOf(output, "MemoryLeak");
        EXPECT_TRUE(records.size() == 1 && Field(records[0], "module") == module &&
                    Field(records[0], "size") == "16")
            << "expected the refused block's leak record, got \"" << Shown(records) << "\"";
        EXPECT_TRUE(std::find(output.begin(), output.end(), "Total leaked size: 16\n") != output.end())
            << "expected the leaked total of 16 bytes in \"" << Shown(output) << "\"";
    }
}
