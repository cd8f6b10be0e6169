// The fault catalogue of docs/FAULTS.md, row by row, in every mode: each fault made through the test build's
// own operators, without a debugger, between two neighbours on the live list. The host process must go on,
// the debugger output must hold exactly the row's record or notice, the neighbours must be released
// without a word, and the report at unload must list exactly the blocks the faults left live.
#include "tracker_support.h"

#include <algorithm>
#include <cstdlib>
#include <new>

using namespace behaviour;
using namespace tracker;

namespace {

constexpr size_t kBlockSize = 10;
constexpr size_t kAlignment = 64;
constexpr uint32_t kHighestId = 0xFFFFFFFFu;
// Write lengths that stand for the block's own tail guard, and one byte more.
constexpr long kTailGuard = 1L << 20;
constexpr long kPastTailGuard = kTailGuard + 1;

// What a row leaves on the debugger output.
enum class Seen {
    Nothing,
    Overrun,   // one access-violation record with overrun 1, underrun 0
    Underrun,  // ... overrun 0, underrun 1
    Both,      // ... overrun 1, underrun 1
    Kept,      // the notice that the block's memory is kept, then an underrun record
    Foreign,   // the notice of a pointer that is not a block of the module
    Mismatch,  // the notice of a release by the other form of delete; the block stays live
    Unchecked, // the row is not run in this mode (the reason is in the row)
};

// The faults. Each is given the victim and, in the tracking modes, a copy of its header as built, and
// returns the pointer its notice names, or null.
struct Fault;
using Action = unsigned char* (*)(BehaviourWorld& world, const Fault& fault, unsigned char* victim,
                                  const OVMemHdr* header);

struct Fault {
    const char* name;
    Action action;
    long bytes;      // how far the write reaches (negative: before the block), or which block of three
    Seen seen[5];    // by mode 0 (off) to 4
    const char* why; // why the Unchecked cells are not run
};

OVMemHdr* HeaderOf(unsigned char* block) {
    return reinterpret_cast<OVMemHdr*>(block - sizeof(OVMemHdr));
}

void Release(BehaviourWorld& world, unsigned char* block) {
    world.ReleaseInModule(block, false);
}

// Zeroes `length` bytes from `first`, putting back those outside [start, end): where a write reaches the
// heap's own bookkeeping outside the block's allocation, those bytes are restored before the release, for
// the catalogue is about what the tracker does and the heap's own fate is the heap's. Byte by byte and
// uninstrumented: the writes outside a block are the faults themselves, which AddressSanitizer would
// otherwise report before the tracker can.
__attribute__((no_sanitize_address)) void ZeroInside(unsigned char* first, size_t length,
                                                     const unsigned char* start, const unsigned char* end) {
    for (size_t i = 0; i < length; ++i) {
        volatile unsigned char* byte = first + i;
        if (byte >= start && byte < end) {
            *byte = 0;
        }
    }
}

// Zeroes `fault.bytes` bytes past the end of the block (negative: before its start), inside the block's
// allocation, then releases it.
unsigned char* Write(BehaviourWorld& world, const Fault& fault, unsigned char* victim,
                     const OVMemHdr* header) {
    const long tail = header != nullptr ? static_cast<long>(header->tailGuardSize) : 0;
    const long bytes = fault.bytes >= kTailGuard ? tail + (fault.bytes - kTailGuard) : fault.bytes;
    unsigned char* first = bytes > 0 ? victim + kBlockSize : victim + bytes;
    const size_t length = static_cast<size_t>(bytes > 0 ? bytes : -bytes);
    const unsigned char* start = header != nullptr ? static_cast<unsigned char*>(header->allocPtr) : first;
    const unsigned char* end = header != nullptr ? victim + kBlockSize + tail : first + length;
    ZeroInside(first, length, start, end);
    Release(world, victim);
    return victim;
}

unsigned char* BothGuards(BehaviourWorld& world, const Fault&, unsigned char* victim, const OVMemHdr*) {
    ZeroInside(victim - 1, 1, victim - 1, victim);
    ZeroInside(victim + kBlockSize, 1, victim + kBlockSize, victim + kBlockSize + 1);
    Release(world, victim);
    return nullptr;
}

// Released twice: at once, or after blocks were made and released in between, as the first, middle or
// last (fault.bytes 0, 1, 2) of three blocks of its own.
unsigned char* DoubleDelete(BehaviourWorld& world, const Fault& fault, unsigned char* victim,
                            const OVMemHdr*) {
    if (fault.bytes < 0) {
        Release(world, victim);
        Release(world, victim);
        return victim;
    }
    unsigned char* three[3] = {};
    for (unsigned char*& block : three) {
        block = static_cast<unsigned char*>(world.AllocateInModule(kBlockSize, false));
    }
    unsigned char* twice = three[fault.bytes];
    Release(world, twice);
    Release(world, static_cast<unsigned char*>(world.AllocateInModule(kBlockSize, false)));
    Release(world, twice);
    for (unsigned char* block : three) {
        if (block != twice) {
            Release(world, block);
        }
    }
    Release(world, victim);
    return twice;
}

int staticTarget = 0;

// A pointer the module never handed out (fault.bytes: 0 stack, 1 static, 2 the program's malloc, 3 the
// middle of a block of the module), then the victim's own release.
unsigned char* Foreign(BehaviourWorld& world, const Fault& fault, unsigned char* victim, const OVMemHdr*) {
    int stackTarget = 0;
    void* programBlock = std::malloc(32);
    unsigned char* const pointers[] = {reinterpret_cast<unsigned char*>(&stackTarget),
                                       reinterpret_cast<unsigned char*>(&staticTarget),
                                       static_cast<unsigned char*>(programBlock), victim + 8};
    unsigned char* foreign = pointers[fault.bytes];
    Release(world, foreign);
    std::free(programBlock);
    Release(world, victim);
    return foreign;
}

// A block of new[] released by delete (fault.bytes 1), or of new by delete[] (0): refused and kept.
unsigned char* OtherForm(BehaviourWorld& world, const Fault& fault, unsigned char* victim, const OVMemHdr*) {
    const bool array = fault.bytes == 1;
    unsigned char* block = static_cast<unsigned char*>(world.AllocateInModule(kBlockSize, array));
    world.ReleaseInModule(block, !array);
    Release(world, victim);
    return block;
}

// The id counter at its top: the next ids are the highest, then 1 and 2, never 0, and no in-use dump runs
// although breakOnAllocId is 0.
unsigned char* IdWrap(BehaviourWorld& world, const Fault&, unsigned char* victim, const OVMemHdr*) {
    reinterpret_cast<void (*)(unsigned)>(world.TestHook("vracoinsTestHook_setAllocationCount"))(kHighestId -
                                                                                                1);
    unsigned char* blocks[3] = {};
    uint32_t ids[3] = {};
    for (size_t i = 0; i < 3; ++i) {
        blocks[i] = static_cast<unsigned char*>(world.AllocateInModule(kBlockSize, false));
        ids[i] = blocks[i] != nullptr ? HeaderOf(blocks[i])->id : 0;
    }
    EXPECT_TRUE(ids[0] == kHighestId && ids[1] == 1 && ids[2] == 2) << Formatted(
        "ids after the highest: expected 0x%X, 1, 2, got 0x%X, %u, %u", kHighestId, ids[0], ids[1], ids[2]);
    for (unsigned char* block : blocks) {
        Release(world, block);
    }
    Release(world, victim);
    return nullptr;
}

// A block on a 64-byte boundary through the aligned operator new, used whole and released by the aligned
// delete.
unsigned char* OverAligned(BehaviourWorld& world, const Fault&, unsigned char* victim, const OVMemHdr*) {
    using AllocateAligned = void* (*)(size_t, size_t);
    using ReleaseAligned = void (*)(void*, size_t);
    auto allocate = reinterpret_cast<AllocateAligned>(world.TestHook("vracoinsTestHook_allocateAligned"));
    auto release = reinterpret_cast<ReleaseAligned>(world.TestHook("vracoinsTestHook_releaseAligned"));
    unsigned char* block = static_cast<unsigned char*>(allocate(100, kAlignment));
    EXPECT_TRUE(block != nullptr && reinterpret_cast<uintptr_t>(block) % kAlignment == 0)
        << Formatted("expected a block on a %u-byte boundary, got %p", static_cast<unsigned>(kAlignment),
                     static_cast<void*>(block));
    if (block != nullptr) {
        std::memset(block, 0x5A, 100);
        release(block, kAlignment);
    }
    Release(world, victim);
    return nullptr;
}

constexpr Seen N = Seen::Nothing, O = Seen::Overrun, U = Seen::Underrun, B = Seen::Both, K = Seen::Kept,
               F = Seen::Foreign, M = Seen::Mismatch, X = Seen::Unchecked;

const char* const heapDamage =
    "the write reaches the heap's own bookkeeping, which no check of the tracker's "
    "can stand in for (tracking off: every fault is the heap's)";

// The catalogue; modes: off, 1, 2, 3, 4.
const Fault kCatalogue[] = {
    {"overrun by 1 byte", Write, 1, {N, N, O, O, O}, ""},
    {"overrun by 16 bytes", Write, 16, {X, X, O, O, O}, heapDamage},
    {"overrun by exactly the tail guard", Write, kTailGuard, {X, X, O, O, O}, heapDamage},
    {"overrun past the tail guard",
     Write,
     kPastTailGuard,
     {X, X, X, O, O},
     "mode 2 stops such a write at once with an access fault, the page guard's purpose; otherwise the "
     "heap's"},
    {"underrun by 1 byte", Write, -1, {X, N, U, U, U}, heapDamage},
    {"underrun by 16 bytes", Write, -16, {X, N, U, U, U}, heapDamage},
    {"underrun by 384 bytes", Write, -384, {X, N, U, U, U}, heapDamage},
    {"underrun by 392 bytes", Write, -392, {X, U, U, U, U}, heapDamage},
    {"underrun by 400 bytes", Write, -400, {X, U, U, U, U}, heapDamage},
    {"underrun by 504 bytes", Write, -504, {X, U, U, U, U}, heapDamage},
    {"underrun by 600 bytes", Write, -600, {X, K, U, K, K}, heapDamage},
    {"both guards", BothGuards, 0, {X, N, B, B, B}, heapDamage},
    {"double delete at once", DoubleDelete, -1, {X, F, F, F, F}, heapDamage},
    {"double delete of the first block, later", DoubleDelete, 0, {X, F, F, F, F}, heapDamage},
    {"double delete of a middle block, later", DoubleDelete, 1, {X, F, F, F, F}, heapDamage},
    {"double delete of the last block, later", DoubleDelete, 2, {X, F, F, F, F}, heapDamage},
    {"delete of a stack address", Foreign, 0, {X, F, F, F, F}, heapDamage},
    {"delete of a static address", Foreign, 1, {X, F, F, F, F}, heapDamage},
    {"delete of the program's malloc block", Foreign, 2, {X, F, F, F, F}, heapDamage},
    {"delete of a pointer into a block", Foreign, 3, {X, F, F, F, F}, heapDamage},
    {"delete of a new[] block", OtherForm, 1, {N, M, M, M, M}, ""},
    {"delete[] of a new block", OtherForm, 0, {N, M, M, M, M}, ""},
    {"id wrap with breakOnAllocId 0", IdWrap, 0, {X, N, N, N, N}, "tracking off gives blocks no ids"},
    {"over-aligned new and its delete", OverAligned, 0, {N, N, N, N, N}, ""},
};

std::string Notice(const char* format, const void* pointer) {
    char notice[200] = {};
    std::snprintf(notice, sizeof notice, format,
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer)));
    return notice;
}

// The tracker's pieces since `mark`, without the announcement of a newly created log file.
Pieces PiecesSince(BehaviourWorld& world, size_t mark) {
    const Pieces all = TrackerPieces(world);
    Pieces since(all.begin() + static_cast<std::ptrdiff_t>(std::min(mark, all.size())), all.end());
    auto announcement = std::find(since.begin(), since.end(), std::string(leakLogAnnouncement));
    if (announcement != since.end() && since.end() - announcement >= 3) {
        since.erase(announcement, announcement + 3);
    }
    return since;
}

// The notice a row ends with; empty for a row without one.
std::string NoticeOf(Seen seen, const Fault& fault, const unsigned char* named) {
    return seen == K ? Notice("OVMemCollector: block 0x%llX was written over below its start; its memory "
                              "is kept\r\n",
                              named)
           : seen == F
               ? Notice("OVMemCollector: release of 0x%llX refused: not a block of this module\r\n", named)
           : seen == M ? MismatchNotice(named, fault.bytes == 1)
                       : "";
}

// Empty when the pieces are what the row must show; otherwise what is wrong.
std::string Judge(Seen seen, const Fault& fault, const Pieces& pieces, const OVMemHdr& victim,
                  const unsigned char* named) {
    const size_t expected = seen == N ? 0 : seen == K ? 2 : 1;
    if (pieces.size() != expected) {
        return "expected " + std::to_string(expected) + " pieces, got \"" + Shown(pieces) + "\"";
    }
    if (seen == O || seen == U || seen == B || seen == K) {
        // A kept block's notice comes first: it is written when the lead-in is found changed.
        const std::string& record = pieces.back();
        const std::string overrun = seen == O || seen == B ? "1" : "0";
        const std::string underrun = seen == O ? "0" : "1";
        if (record.compare(0, 22, "MemoryAccessViolation ") != 0 || Field(record, "overrun") != overrun ||
            Field(record, "underrun") != underrun || Field(record, "id") != std::to_string(victim.id) ||
            Field(record, "size") != std::to_string(kBlockSize)) {
            return "expected the block's record (id " + std::to_string(victim.id) + ", overrun " + overrun +
                   ", underrun " + underrun + "), got \"" + Shown(record) + "\"";
        }
    }
    const std::string notice = NoticeOf(seen, fault, named);
    if (!notice.empty() && pieces.front() != notice) {
        return "expected the notice \"" + Shown(notice) + "\", got \"" + Shown(pieces.front()) + "\"";
    }
    return "";
}

} // namespace

TEST_F(BehaviourCheck, EveryFaultOfTheCatalogueIsReportedAndTheProcessGoesOn) {
    for (unsigned mode = 0; mode <= 4; ++mode) {
        SCOPED_TRACE(Formatted("mode %u", mode));
        std::string logDirectory;
        SKIP_UNLESS_PREPARED(StartTrackedTestBuild(world, mode, &logDirectory));
        ASSERT_TRUE(world.TestHook("vracoinsTestHook_allocateAligned") != nullptr)
            << "the test build lacks its fault hooks";
        size_t keptLive = 0; // blocks the faults leave on the live list: refused releases
        for (const Fault& fault : kCatalogue) {
            const Seen seen = fault.seen[mode];
            if (seen == X) {
                continue;
            }
            unsigned char* before = static_cast<unsigned char*>(world.AllocateInModule(24, false));
            unsigned char* victim = static_cast<unsigned char*>(world.AllocateInModule(kBlockSize, false));
            unsigned char* after = static_cast<unsigned char*>(world.AllocateInModule(24, false));
            ASSERT_TRUE(before != nullptr && victim != nullptr && after != nullptr)
                << fault.name << ": the test build could not allocate";
            // With tracking off there is no header to read.
            const OVMemHdr victimHeader = mode != 0 ? *HeaderOf(victim) : OVMemHdr{};
            const size_t mark = TrackerPieces(world).size();
            const unsigned char* named =
                fault.action(world, fault, victim, mode != 0 ? &victimHeader : nullptr);
            const std::string wrong = Judge(seen, fault, PiecesSince(world, mark), victimHeader, named);
            EXPECT_TRUE(wrong.empty()) << fault.name << ": " << wrong;
            keptLive += seen == M ? 1 : 0;

            const size_t neighboursMark = TrackerPieces(world).size();
            Release(world, before);
            Release(world, after);
            EXPECT_TRUE(PiecesSince(world, neighboursMark).empty())
                << fault.name << ": the neighbours' releases must pass without a word, got \""
                << Shown(PiecesSince(world, neighboursMark)) << "\"";
        }
        EXPECT_TRUE(world.BreakpointTraps() == 0)
            << "without a debugger nothing may stop, got " << world.BreakpointTraps() << " traps";

        world.UnloadModule();
        const Pieces report = PiecesSince(world, 0);
        const bool verdict =
            std::find(report.begin(), report.end(),
                      std::string(keptLive == 0 ? cleanVerdict : leakVerdict)) != report.end();
        EXPECT_TRUE(mode == 0 ? report.empty()
                              : RecordsOf(report, "MemoryLeak").size() == keptLive && verdict)
            << "expected the report to list the " << keptLive << " refused blocks, got \"" << Shown(report)
            << "\"";
    }
}
