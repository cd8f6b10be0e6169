// The tracked pair. Each allocation uses one allocator object of the class that trackMode calls for; a
// block joins the live index and list when it is made and leaves them when it is released, and releases
// that arrive after the collector's teardown are reported one by one.
//
// A release trusts only the live index. What it finds wrong in what it is given (a pointer that is not a
// live block of this module, a block released with the other form of delete) is refused with a line on the
// debugger output naming the pointer, then a breakpoint trap when a debugger is attached. Without a
// debugger the trap would end the host process, so the line is all there is. What it finds wrong in the
// block itself (its header, a guard zone or its lead-in written over) is put right where it can be and
// reported in one record. The checks take no lock: the block has left the index, so no other release can
// reach it.
#include "memtrack/tracked_pair.h"

#include "memtrack/debug_text.h"
#include "memtrack/leak_log.h"
#include "memtrack/live_list.h"
#include "memtrack/track_config.h"
#include "memtrack/tracked_block.h"
#include "platform/platform.h"
#include "platform/portability.h"

#include <cstring>

std::atomic<bool> debuggerChecked{false};
std::atomic<bool> debuggerPresent{false};

namespace {

constexpr size_t noticeCapacity = 200;

typedef BOOL(WINAPI* IsDebuggerPresentFunction)();

// The thread writing the reports of a release, or 0. Where these operators serve the whole process (a
// test program linked with them), the platform calls of the record writer release memory through them
// too; such a release is freed without reports of its own, which would write records without end. Set
// and cleared only under the record writer lock, so a thread finds its own id here only while it is
// itself reporting. A thread id rather than thread-local storage, which MinGW emulates with an index and
// per-thread blocks that a module unloaded and loaded again many times would leave behind.
std::atomic<DWORD> reportingThread{0};

OVMemBlock* newBlockAllocator() {
    if (trackMode == TrackModePageGuarded) {
        return new OVMemBlockVirtualAlloc;
    }
    return new OVMemBlock;
}

unsigned long long addressOf(const void* pointer) {
    return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer));
}

const char* formName(int32_t kind) {
    return kind == AllocKindArray ? "delete[]" : "delete";
}

// A notice about one pointer, the one number of `format`.
void reportPointerFault(const char* format, const void* pointer) {
    char notice[noticeCapacity] = {};
    formatBounded(notice, sizeof notice, format, addressOf(pointer));
    writeFaultNotice(notice);
}

void reportForeignRelease(const void* pointer) {
    reportPointerFault("OVMemCollector: release of 0x%llX refused: not a block of this module\r\n", pointer);
}

void reportMismatchedRelease(const void* pointer, int32_t allocKind, int32_t releaseKind) {
    char notice[noticeCapacity] = {};
    formatBounded(notice, sizeof notice,
                  "OVMemCollector: release of 0x%llX refused: made for %s, released by %s\r\n",
                  addressOf(pointer), formName(allocKind), formName(releaseKind));
    writeFaultNotice(notice);
}

// Asked through kernel32's export, as a tool injected into any process would: the module may be loaded
// where the import cannot be bound statically. The answer is stored before debuggerChecked is set, so that
// a thread that finds the check done never reads "no debugger" before the answer is in.
bool debuggerAttached() {
    HMODULE kernel32 = GetModuleHandleW(W("kernel32.dll"));
    if (kernel32 == nullptr) {
        return false;
    }
    FARPROC found = GetProcAddress(kernel32, "IsDebuggerPresent");
    if (found == nullptr) {
        return false;
    }
    // Through void (*)() first: the compilers accept that type as a stand-in for any function type.
    auto isDebuggerPresent = reinterpret_cast<IsDebuggerPresentFunction>(reinterpret_cast<void (*)()>(found));
    return isDebuggerPresent() != FALSE;
}

// The first check asks under the record writer lock, as the reporting thread: where these operators serve
// the whole process, the platform calls that answer release memory through them, and those releases must
// not ask in turn.
void askForDebuggerOnce() {
    if (debuggerChecked.load()) {
        return;
    }
    RecordWriterLockHolder writers;
    if (debuggerChecked.load() || reportingThread.load() == GetCurrentThreadId()) {
        return;
    }
    reportingThread.store(GetCurrentThreadId());
    if (debuggerAttached()) {
        debuggerPresent.store(true);
    }
    debuggerChecked.store(true);
    reportingThread.store(0);
}

// Whether a zone holds anything but the guard fill.
bool zoneChanged(const uint8_t* zone, uint64_t length) {
    for (uint64_t i = 0; i < length; ++i) {
        if (zone[i] != guardFill) {
            return true;
        }
    }
    return false;
}

void stopWhenDebugged() {
    if (debuggerPresent.load()) {
        VRA_BREAKPOINT();
    }
}

// Puts back a field that differs from what it should hold; true when it did.
template <typename Field> bool restoreField(Field* field, Field expected) {
    if (*field == expected) {
        return false;
    }
    *field = expected;
    return true;
}

// Puts back zeros in padding that holds anything else; true when it did.
template <size_t Length> bool restoreZeros(uint8_t (&bytes)[Length]) {
    static const uint8_t zeros[Length] = {};
    if (std::memcmp(bytes, zeros, Length) == 0) {
        return false;
    }
    std::memset(bytes, 0, Length);
    return true;
}

// The header check: every field of a released block's header (its list links aside, which the list
// checks) must describe the block that the index knows. One that does not was written over from below,
// and is put back so that the records name the right block and call site. The damage flags must still be
// clear: only the checks of this release set them. True when anything had to be put back.
bool restoreHeader(OVMemHdr* header, const LiveBlock& block) {
    uint8_t* tailGuard =
        block.tailGuardSize != 0 ? static_cast<uint8_t*>(block.userPtr) + block.size : nullptr;
    bool changed = restoreField(&header->magic, headerMagic);
    changed |= restoreZeros(header->padding1);
    changed |= restoreField(&header->id, block.id);
    changed |= restoreZeros(header->padding2);
    changed |= restoreField(&header->size, block.size);
    changed |= restoreField(&header->allocKind, static_cast<int32_t>(block.allocKind));
    changed |= restoreZeros(header->padding3);
    changed |= restoreField(&header->caller, block.caller);
    changed |= restoreField(&header->reserved, uint64_t{0});
    changed |= restoreField(&header->release, uint8_t{0});
    changed |= restoreZeros(header->padding4);
    changed |= restoreField(&header->userPtr, block.userPtr);
    changed |= restoreField(&header->allocPtr, block.allocPtr);
    changed |= restoreField(&header->source, static_cast<int32_t>(block.source));
    changed |= restoreField(&header->underrun, uint8_t{0});
    changed |= restoreField(&header->overrun, uint8_t{0});
    changed |= restoreZeros(header->padding5);
    changed |= restoreField(&header->tailGuardSize, block.tailGuardSize);
    changed |= restoreField(&header->tailGuard, tailGuard);
    changed |= restoreField(&header->headGuardSize, guardZoneSize);
    return changed;
}

struct ReleaseFindings {
    bool damaged;      // underrun or overrun set: the access-violation record is due
    bool writtenBelow; // the lead-in changed too: the block's memory is kept
};

// The checks of a released block: the header check in every mode; in the guarded modes (2, 3 and 4) the
// guard check, of the fixed 384-byte head guard and of the tail guard as long as the index knows it;
// underrun set for a header or head guard written over, overrun for a changed tail guard, each stopping in
// the debugger when one was attached at the first check. When the header was written over, the first byte
// of a heap allocation (the lead-in's) tells whether the write reached the heap's bookkeeping below it.
ReleaseFindings checkReleasedBlock(OVMemHdr* header, const LiveBlock& block) {
    ReleaseFindings findings = {};
    const bool guarded = isGuardedMode(trackMode);
    const bool headerWrittenOver = restoreHeader(header, block);
    if (!guarded && !headerWrittenOver) {
        return findings;
    }
    askForDebuggerOnce();
    if (headerWrittenOver || (guarded && zoneChanged(header->headGuard, guardZoneSize))) {
        header->underrun = 1;
        stopWhenDebugged();
    }
    if (guarded &&
        zoneChanged(static_cast<const uint8_t*>(block.userPtr) + block.size, block.tailGuardSize)) {
        header->overrun = 1;
        stopWhenDebugged();
    }
    findings.damaged = header->underrun != 0 || header->overrun != 0;
    findings.writtenBelow = headerWrittenOver && block.source != BlockSourceVirtualPages &&
                            *static_cast<const uint8_t*>(block.allocPtr) != guardFill;
    return findings;
}

void reportWrittenBelow(const void* userPtr) {
    reportPointerFault(
        "OVMemCollector: block 0x%llX was written over below its start; its memory is kept\r\n", userPtr);
}

// A release after the collector's teardown (the module is being unloaded): the block was reported as a
// leak, so its release is reported too, and the release that empties the list ends the log.
void reportReleaseAfterTeardown(OVMemHdr* header, const CallStack* stack) {
    RecordWriterLockHolder writers;
    if (teardownBannerPending.load()) {
        writeDebugBanner(" Reporting releases after tear down of OVMemCollector Object ");
        teardownBannerPending.store(false);
    }
    header->release = 1;
    writeBlockRecord(header, MemoryLeakRecord, stack);
    bool listEmpty = liveHead == nullptr;
    endLeakLogAfterRelease(listEmpty);
    if (listEmpty) {
        writeDebugBanner(" Completed reporting of releases after tear down of OVMemCollector Object ");
    }
}

// The reports of a release, kept together under the record writer lock: after the teardown its leak
// record first, then the notice of a lead-in written over, then the access-violation record.
void reportRelease(OVMemHdr* header, const CallStack* stack, const ReleaseFindings& findings,
                   bool afterTeardown) {
    RecordWriterLockHolder writers;
    reportingThread.store(GetCurrentThreadId());
    if (afterTeardown) {
        reportReleaseAfterTeardown(header, stack);
    }
    if (findings.writtenBelow) {
        reportWrittenBelow(header->userPtr);
    }
    if (findings.damaged) {
        writeBlockRecord(header, MemoryAccessViolationRecord, stack);
    }
    if (afterTeardown) {
        // An access-violation record of the last release opened a pair of files and rebuilt the
        // module-name caches after the log was ended above.
        endLeakLogAfterRelease(liveHead == nullptr);
    }
    reportingThread.store(0);
}

} // namespace

void* trackedAllocate(uint64_t size, int32_t kind, void* caller, uint32_t* outId) {
    return trackedAllocateAligned(size, userBlockAlignment, kind, caller, outId);
}

void* trackedAllocateAligned(uint64_t size, uint64_t alignment, int32_t kind, void* caller, uint32_t* outId) {
    if (failSize != 0 && size >= failSize) {
        return nullptr;
    }
    OVMemBlock* block = newBlockAllocator();
    if (block == nullptr) {
        return nullptr;
    }
    block->SetAlignment(alignment);
    void* userPtr = block->AllocateWithCaller(size, caller, trackHeap);
    OVMemHdr* header = block->GetHeader();
    if (userPtr != nullptr && header != nullptr) {
        header->allocKind = kind;
        // Before the block joins the list, so that the dump does not hold the list's lock twice.
        if (header->id == breakOnAllocId) {
            dumpInUse();
        }
        // Outside the list's lock: the walk of the frames takes the longest of all this.
        CallStack* stack = captureCallStack(caller);
        if (appendLiveBlock(header, alignment, stack)) {
            *outId = header->id;
        } else {
            // Without its entry in the index the block could never be released.
            freeCallStack(stack);
            block->Free();
            userPtr = nullptr;
        }
    }
    delete block;
    return userPtr;
}

bool trackedRelease(void** location, int32_t kind) {
    void* userPtr = *location;
    LiveBlock block = {};
    bool afterTeardown = false;
    LiveRelease found = takeLiveBlock(userPtr, kind, &block, &afterTeardown);
    if (found != LiveReleaseTaken) {
        // Not a live block of this module, or released with the other form of delete: nothing at or before
        // the pointer is touched, and a block stays on the list to be reported at teardown.
        if (found == LiveReleaseForeign) {
            reportForeignRelease(userPtr);
        } else {
            reportMismatchedRelease(userPtr, block.allocKind, kind);
        }
        return false;
    }
    OVMemHdr* header = headerOf(block);
    ReleaseFindings findings = checkReleasedBlock(header, block);
    if ((afterTeardown || findings.damaged) && reportingThread.load() != GetCurrentThreadId()) {
        reportRelease(header, block.stack, findings, afterTeardown);
    }
    if (collectorTornDown.load()) {
        // The module is being unloaded: no critical section of it may stay initialised. A release from
        // inside the reports above leaves the deletion to the reports' own end.
        recordWriterLock.retire();
    }
    // Nothing finds a released block by its header any more.
    header->userPtr = nullptr;
    if (!findings.writtenBelow) {
        freeBlockMemory(block.allocPtr, block.source, block.userPtr);
    }
    freeCallStack(block.stack);
    return false;
}
