// The tracker under concurrent use: eight threads allocate and release through the module's operators at
// once, in both forms, blocks of 0 bytes to 64 KiB, in random order, handing some blocks to each other, and
// in the guarded modes overrunning a few blocks before they release them. Afterwards every block made has
// an id of its own with none skipped, no block was written by anyone but its owner, and the report at
// unload names exactly the blocks left live and every damaged one, each record whole and in the same order
// on the debugger output, in the text log file and in the raw record file, whose headers still link the
// live blocks to each other.
#include "mlk_record.h"
#include "tracker_support.h"
#include "worker_threads.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace behaviour;
using namespace tracker;

namespace {

constexpr int kThreads = 8;
// Bounded so that a run stays short under Wine and under ThreadSanitizer; the threads overlap for most of
// it all the same.
constexpr int kOperationsPerThread = 1200;
constexpr size_t kLargestBlock = 64 * 1024;
// A thread that holds this many blocks releases or hands one over instead of making another.
constexpr size_t kHeldLimit = 40;
constexpr int kHandoffCapacity = 32;
// In the guarded modes, one release in this many of a non-empty block first overruns it by one byte.
constexpr uint32_t kOverrunOneIn = 48;
constexpr unsigned kPageGuardedMode = 2;

// splitmix64: each thread's stream follows from its seed alone, so a failing run can be repeated.
class Random {
  public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(Next() % bound); }

  private:
    uint64_t state_;
};

struct Block {
    unsigned char* pointer = nullptr;
    size_t size = 0;
    bool array = false;
    uint32_t id = 0;
    unsigned char fill = 0;
};

// Blocks on their way from one thread to another.
class Handoff {
  public:
    Handoff() { InitializeCriticalSection(&section_); }
    ~Handoff() { DeleteCriticalSection(&section_); }
    Handoff(const Handoff&) = delete;
    Handoff& operator=(const Handoff&) = delete;

    bool Put(const Block& block) {
        EnterCriticalSection(&section_);
        const bool room = count_ < kHandoffCapacity;
        if (room) {
            slots_[count_++] = block;
        }
        LeaveCriticalSection(&section_);
        return room;
    }
    // Any one of the waiting blocks.
    bool Take(Random& random, Block* block) {
        EnterCriticalSection(&section_);
        const bool found = count_ > 0;
        if (found) {
            const int at = static_cast<int>(random.Below(static_cast<uint32_t>(count_)));
            *block = slots_[at];
            slots_[at] = slots_[--count_];
        }
        LeaveCriticalSection(&section_);
        return found;
    }

  private:
    CRITICAL_SECTION section_;
    Block slots_[kHandoffCapacity];
    int count_ = 0;
};

// One thread's part: what it was given, and what it made, released and saw.
struct Worker {
    BehaviourWorld* world = nullptr;
    unsigned mode = 0;
    Handoff* handoff = nullptr;
    int index = 0;
    uint64_t seed = 0;

    std::vector<uint32_t> ids;   // of every block it made
    std::vector<Block> held;     // blocks it owns now
    std::vector<Block> leftLive; // blocks it left live on purpose
    std::vector<Block> overrun;  // blocks it overran before releasing them
    unsigned allocations = 0;
    unsigned releases = 0;
    unsigned handedOver = 0;
    unsigned takenOver = 0;
    unsigned faults = 0;
    std::string firstFault;

    void Fault(const std::string& what) {
        if (faults++ == 0) {
            firstFault = what;
        }
    }
};

bool IsGuardedMode(unsigned mode) {
    return mode >= 2;
}

const OVMemHdr* HeaderOf(const void* block) {
    return static_cast<const OVMemHdr*>(HeaderAddressOf(block));
}

size_t PickSize(Random& random) {
    const uint32_t kind = random.Below(100);
    if (kind < 4) {
        return 0;
    }
    if (kind < 60) {
        return 1 + random.Below(256);
    }
    if (kind < 90) {
        return 257 + random.Below(4096 - 256);
    }
    return 4097 + random.Below(static_cast<uint32_t>(kLargestBlock - 4096));
}

std::string Described(const Block& block) {
    return "the " + std::to_string(block.size) + "-byte block " + (block.array ? "(new[]) " : "(new) ") +
           "id " + std::to_string(block.id);
}

void Allocate(Worker& worker, Random& random, size_t size) {
    Block block;
    block.size = size;
    block.array = random.Below(2) == 1;
    block.pointer = static_cast<unsigned char*>(worker.world->AllocateInModule(size, block.array));
    // Only page-guarded blocks may be empty; the other modes refuse a request of 0 bytes.
    if (size == 0 && worker.mode != kPageGuardedMode) {
        if (block.pointer != nullptr) {
            worker.Fault("mode " + std::to_string(worker.mode) + " made a block for a request of 0 bytes");
        }
        return;
    }
    if (block.pointer == nullptr) {
        worker.Fault("a request of " + std::to_string(size) + " bytes was refused");
        return;
    }
    if (reinterpret_cast<uintptr_t>(block.pointer) % 16 != 0) {
        worker.Fault("a block at " + LowHex(block.pointer) + " is not 16-byte aligned");
    }
    if (worker.mode != 0) {
        const OVMemHdr* header = HeaderOf(block.pointer);
        block.id = header->id;
        if (header->userPtr != block.pointer || header->size != size ||
            header->allocKind != (block.array ? AllocKindArray : AllocKindScalar)) {
            worker.Fault("the header of " + Described(block) + " describes another block");
        }
        worker.ids.push_back(block.id);
    }
    block.fill = static_cast<unsigned char>(random.Next());
    std::memset(block.pointer, block.fill, size);
    ++worker.allocations;
    worker.held.push_back(block);
}

// Whether the block still holds its owner's fill: no other block was placed over it.
bool CheckFill(Worker& worker, const Block& block) {
    for (size_t i = 0; i < block.size; ++i) {
        if (block.pointer[i] != block.fill) {
            worker.Fault(Described(block) + " was changed at offset " + std::to_string(i) +
                         " while its owner held it");
            return false;
        }
    }
    return true;
}

void Release(Worker& worker, Random& random, size_t at) {
    const Block block = worker.held[at];
    worker.held[at] = worker.held.back();
    worker.held.pop_back();
    CheckFill(worker, block);
    if (IsGuardedMode(worker.mode) && block.size > 0 && random.Below(kOverrunOneIn) == 0) {
        // The first byte of the tail guard.
        block.pointer[block.size] = static_cast<unsigned char>(~guardFill);
        worker.overrun.push_back(block);
    }
    worker.world->ReleaseInModule(block.pointer, block.array);
    ++worker.releases;
}

// The thread's work: a mix of allocations, releases in random order and handovers, then `index % 4`
// blocks left live and everything else released.
void Work(void* context) {
    Worker& worker = *static_cast<Worker*>(context);
    Random random(worker.seed);
    for (int operation = 0; operation < kOperationsPerThread; ++operation) {
        const uint32_t choice = random.Below(100);
        const bool full = worker.held.size() >= kHeldLimit;
        if (worker.held.empty() || (choice < 50 && !full)) {
            Allocate(worker, random, PickSize(random));
        } else if (choice < 85) {
            Release(worker, random, random.Below(static_cast<uint32_t>(worker.held.size())));
        } else if (choice < 93) {
            const size_t at = random.Below(static_cast<uint32_t>(worker.held.size()));
            if (worker.handoff->Put(worker.held[at])) {
                worker.held[at] = worker.held.back();
                worker.held.pop_back();
                ++worker.handedOver;
            }
        } else {
            Block block;
            if (worker.handoff->Take(random, &block)) {
                worker.held.push_back(block);
                ++worker.takenOver;
            }
        }
    }
    const size_t keep = static_cast<size_t>(worker.index % 4);
    for (int attempt = 0; worker.held.size() < keep && attempt < 8; ++attempt) {
        Allocate(worker, random, 1 + random.Below(256));
    }
    const size_t kept = std::min(keep, worker.held.size());
    worker.leftLive.assign(worker.held.begin(), worker.held.begin() + static_cast<std::ptrdiff_t>(kept));
    worker.held.erase(worker.held.begin(), worker.held.begin() + static_cast<std::ptrdiff_t>(kept));
    while (!worker.held.empty()) {
        Release(worker, random, random.Below(static_cast<uint32_t>(worker.held.size())));
    }
}

// The id of a block made and released on this thread alone; 0 in the pass-through mode.
uint32_t ProbeId(BehaviourWorld& world, unsigned mode) {
    void* block = world.AllocateInModule(1, false);
    if (block == nullptr) {
        return 0;
    }
    const uint32_t id = mode != 0 ? HeaderOf(block)->id : 0;
    world.ReleaseInModule(block, false);
    return id;
}

// What all threads did together.
struct Outcome {
    std::vector<uint32_t> ids;
    std::map<uint32_t, Block> leftLive; // by id
    std::map<uint32_t, Block> overrun;  // by id
    uint64_t leftLiveBytes = 0;
};

Outcome Gathered(const std::vector<Worker>& workers) {
    Outcome outcome;
    for (const Worker& worker : workers) {
        outcome.ids.insert(outcome.ids.end(), worker.ids.begin(), worker.ids.end());
        for (const Block& block : worker.leftLive) {
            outcome.leftLive[block.id] = block;
            outcome.leftLiveBytes += block.size;
        }
        for (const Block& block : worker.overrun) {
            outcome.overrun[block.id] = block;
        }
    }
    std::sort(outcome.ids.begin(), outcome.ids.end());
    return outcome;
}

// Every id from just after the first probe's to just before the last probe's, each once.
void CheckIdsUniqueAndGapless(const std::vector<uint32_t>& ids, uint32_t firstProbe, uint32_t lastProbe) {
    const auto twice = std::adjacent_find(ids.begin(), ids.end());
    ASSERT_TRUE(twice == ids.end()) << Formatted("id %u was given to two blocks",
                                                 twice != ids.end() ? *twice : 0);
    const size_t expected = lastProbe > firstProbe ? lastProbe - firstProbe - 1 : 0;
    EXPECT_TRUE(ids.size() == expected &&
                (ids.empty() || (ids.front() == firstProbe + 1 && ids.back() == lastProbe - 1)))
        << Formatted("expected the %u ids between the probes' %u and %u, the threads' %u blocks got "
                     "ids %u to %u",
                     static_cast<unsigned>(expected), firstProbe, lastProbe,
                     static_cast<unsigned>(ids.size()), ids.empty() ? 0 : ids.front(),
                     ids.empty() ? 0 : ids.back());
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool IsRecord(const std::string& piece) {
    return StartsWith(piece, "MemoryLeak ") || StartsWith(piece, "MemoryAccessViolation ");
}

const void* AsAddress(uint64_t value) {
    return reinterpret_cast<const void*>(static_cast<uintptr_t>(value));
}

// The record line that the raw header stands for, with the call site that the line itself names.
std::string ExpectedLine(const std::string& module, const mlk::Record& raw, const std::string& line) {
    const std::string common = " module=\"" + module + "\" id=\"" + std::to_string(raw.id) + "\" size=\"" +
                               std::to_string(raw.size) + "\"";
    const std::string flags = " overrun=\"" + std::to_string(raw.overrun) + "\" underrun=\"" +
                              std::to_string(raw.underrun) + "\"\r\n";
    if (StartsWith(line, "MemoryAccessViolation ")) {
        const uint64_t headerAddress = raw.userPtr - sizeof(OVMemHdr);
        return "MemoryAccessViolation allocPtr=\"" + LowHex(AsAddress(raw.allocPtr)) + "\" memHdrPtr=\"" +
               LowHex(AsAddress(headerAddress)) + "\"" + common + CallSiteFields(line) + flags;
    }
    return "MemoryLeak" + common + " release=\"" + std::to_string(raw.release) + "\"" + CallSiteFields(line) +
           flags;
}

// The damaged blocks' records first, then the leak records of the final report: each names a block
// of its group with the right flags, and every block of the group is named once.
void CheckRecordsNameTheBlocks(const std::vector<mlk::Record>& raw, size_t violations,
                               const Outcome& outcome) {
    std::map<uint32_t, int> named;
    for (size_t i = 0; i < raw.size(); ++i) {
        const bool violation = i < violations;
        const std::map<uint32_t, Block>& group = violation ? outcome.overrun : outcome.leftLive;
        const auto found = group.find(raw[i].id);
        const bool namedOnce = found != group.end() && ++named[raw[i].id] == 1;
        EXPECT_TRUE(namedOnce) << Formatted("record %u (%s) names id %u, which is %s",
                                            static_cast<unsigned>(i), violation ? "access violation" : "leak",
                                            raw[i].id,
                                            found == group.end() ? "no block of its kind" : "named twice");
        if (!namedOnce) {
            continue;
        }
        const Block& block = found->second;
        EXPECT_TRUE(raw[i].magic == mlk::kHeaderMagic && raw[i].size == block.size &&
                    raw[i].allocKind == (block.array ? 1 : 0) &&
                    raw[i].userPtr == reinterpret_cast<uintptr_t>(block.pointer) &&
                    raw[i].overrun == (violation ? 1 : 0) && raw[i].underrun == 0 && raw[i].release == 0)
            << Formatted("record %u: expected %s with overrun %d, got magic %#x, size %llu, kind %d, "
                         "overrun %u, underrun %u, release %u",
                         static_cast<unsigned>(i), Described(block).c_str(), violation ? 1 : 0, raw[i].magic,
                         static_cast<unsigned long long>(raw[i].size), raw[i].allocKind, raw[i].overrun,
                         raw[i].underrun, raw[i].release);
    }
    EXPECT_TRUE(raw.size() == outcome.overrun.size() + outcome.leftLive.size())
        << Formatted("expected %u access-violation and %u leak records, got %u records in all",
                     static_cast<unsigned>(outcome.overrun.size()),
                     static_cast<unsigned>(outcome.leftLive.size()), static_cast<unsigned>(raw.size()));
}

// The final report wrote the live list as it stood, in list order: each header links to its neighbours.
// (The first block's own prev is left over from blocks released before it and is not followed.)
void CheckLiveListLinks(const std::vector<mlk::Record>& raw, size_t first) {
    for (size_t i = first; i < raw.size(); ++i) {
        const uint64_t next = i + 1 < raw.size() ? raw[i + 1].userPtr - sizeof(OVMemHdr) : 0;
        EXPECT_TRUE(raw[i].next == next)
            << Formatted("live block id %u links to next %s, expected %s", raw[i].id,
                         LowHex(AsAddress(raw[i].next)).c_str(), LowHex(AsAddress(next)).c_str());
        if (i > first) {
            const uint64_t previous = raw[i - 1].userPtr - sizeof(OVMemHdr);
            EXPECT_TRUE(raw[i].prev == previous)
                << Formatted("live block id %u links back to %s, expected %s", raw[i].id,
                             LowHex(AsAddress(raw[i].prev)).c_str(), LowHex(AsAddress(previous)).c_str());
        }
    }
}

// After the unload: the debugger output, both log files and the raw headers tell the same story.
void CheckReportAndLogs(BehaviourWorld& world, const std::string& logDirectory, const std::string& modulePath,
                        uint32_t allocationsTracked, const Outcome& outcome) {
    const std::string module = BaseName(modulePath);
    const Pieces pieces = TrackerPieces(world);
    Pieces records;
    for (const std::string& piece : pieces) {
        if (IsRecord(piece)) {
            records.push_back(piece);
        }
    }
    const LogPair logs = FindLogPair(world, logDirectory);
    ASSERT_TRUE(logs.problem.empty()) << Formatted("%s", logs.problem.c_str());
    const std::string rawBytes = world.ReadWholeFile(logs.rawPath);
    std::vector<mlk::Record> raw;
    std::string error;
    ASSERT_TRUE(mlk::decodeFile(std::vector<uint8_t>(rawBytes.begin(), rawBytes.end()), &raw, &error))
        << Formatted("the raw record file does not decode: %s", error.c_str());
    ASSERT_TRUE(raw.size() == records.size())
        << Formatted("%u raw records but %u record lines on the debugger", static_cast<unsigned>(raw.size()),
                     static_cast<unsigned>(records.size()));
    const size_t violations = outcome.overrun.size();
    CheckRecordsNameTheBlocks(raw, violations, outcome);
    CheckLiveListLinks(raw, violations);

    // Piece by piece: whole records in the order of the raw file, the announcement of the files before the
    // first of them, and the report around the leak records.
    Pieces expected;
    const Pieces announcement = {leakLogAnnouncement, logs.textPath, "\r\n"};
    if (violations > 0) {
        Append(&expected, announcement);
    }
    for (size_t i = 0; i < violations; ++i) {
        expected.push_back(ExpectedLine(module, raw[i], records[i]));
    }
    Append(&expected, ReportHead(world.ProcessPath(), modulePath));
    if (violations == 0) {
        Append(&expected, announcement);
    }
    for (size_t i = violations; i < raw.size(); ++i) {
        expected.push_back(ExpectedLine(module, raw[i], records[i]));
    }
    expected.push_back(CountLine(allocationsTracked));
    if (outcome.leftLiveBytes != 0) {
        Append(&expected,
               {"Total leaked size: " + std::to_string(outcome.leftLiveBytes) + "\n", leakVerdict});
    } else {
        expected.push_back(cleanVerdict);
    }
    Append(&expected, ReportClosing());
    const std::string difference = FirstDifference(expected, pieces);
    EXPECT_TRUE(difference.empty()) << Formatted("expected %u pieces on the debugger: %s",
                                                 static_cast<unsigned>(expected.size()), difference.c_str());

    const std::string textLog = world.ReadWholeFile(logs.textPath);
    EXPECT_TRUE(textLog == TextLog(records))
        << "expected the text log file to hold the banner and the records as the debugger got them, got \""
        << Shown(textLog) << "\"";
    EXPECT_TRUE(world.BreakpointTraps() == 0)
        << Formatted("without a debugger nothing may trap, got %u traps", world.BreakpointTraps());
}

} // namespace

TEST_F(BehaviourCheck, ConcurrentAllocationsAndReleasesKeepIdsTheListAndTheReportWhole) {
    for (unsigned mode = 0; mode <= 4; ++mode) {
        SCOPED_TRACE(Formatted("mode %u", mode));
        std::string logDirectory;
        SKIP_UNLESS_PREPARED(StartTrackedTestBuild(world, mode, &logDirectory));
        const std::string modulePath = world.ModulePath();
        const uint32_t firstProbe = ProbeId(world, mode);

        Handoff handoff;
        std::vector<Worker> workers(kThreads);
        for (int i = 0; i < kThreads; ++i) {
            workers[i].world = &world;
            workers[i].mode = mode;
            workers[i].handoff = &handoff;
            workers[i].index = i;
            workers[i].seed = 1000u * mode + static_cast<unsigned>(i) + 1;
        }
        const int started = workers::RunOnThreads(Work, workers);
        ASSERT_TRUE(started == kThreads) << "only " << started << " of " << kThreads << " threads started";
        // What is still on its way between threads is released here, as a last owner would.
        Worker& last = workers[0];
        Random random(last.seed);
        Block waiting;
        while (handoff.Take(random, &waiting)) {
            last.held.push_back(waiting);
            Release(last, random, last.held.size() - 1);
        }
        const uint32_t lastProbe = ProbeId(world, mode);
        for (const Worker& worker : workers) {
            EXPECT_TRUE(worker.faults == 0) << Formatted("thread %d: %u faults, the first: %s", worker.index,
                                                         worker.faults, worker.firstFault.c_str());
            EXPECT_TRUE(worker.allocations > 0 && worker.releases > 0)
                << Formatted("thread %d: expected it to allocate and release, made %u and released %u",
                             worker.index, worker.allocations, worker.releases);
        }
        unsigned handedOver = 0;
        unsigned takenOver = 0;
        for (const Worker& worker : workers) {
            handedOver += worker.handedOver;
            takenOver += worker.takenOver;
        }
        EXPECT_TRUE(handedOver > 0 && takenOver > 0)
            << "expected blocks handed from thread to thread, " << handedOver << " handed over, " << takenOver
            << " taken";
        const Outcome outcome = Gathered(workers);
        world.UnloadModule();

        if (mode == 0) {
            EXPECT_TRUE(TrackerPieces(world).empty())
                << "pass-through: expected no word on the debugger, got \"" << Shown(TrackerPieces(world))
                << "\"";
            EXPECT_TRUE(world.FilesIn(logDirectory).empty())
                << "pass-through: expected no log file, found " << world.FilesIn(logDirectory).size();
            continue;
        }
        EXPECT_TRUE(!IsGuardedMode(mode) || !outcome.overrun.empty())
            << "expected some of the releases to come after an overrun, none did";
        CheckIdsUniqueAndGapless(outcome.ids, firstProbe, lastProbe);
        CheckReportAndLogs(world, logDirectory, modulePath, lastProbe, outcome);
    }
}
