// The tracked pair. Each operation uses one allocator object of the class that trackMode calls for; a
// block joins the live list when it is made and leaves it when it is released, its guard zones are checked
// then, and releases that arrive after the collector's teardown are reported one by one.
//
// What the release path finds wrong in what it is given (a pointer that is not a block of this module, a
// block released with the other form of delete) is refused with a line on the debugger output naming the
// pointer, then a breakpoint trap when a debugger is attached. Without a debugger the trap would end the
// host process, so the line is all there is.
#include "memtrack/tracked_pair.h"

#include "memtrack/debug_text.h"
#include "memtrack/leak_log.h"
#include "memtrack/live_list.h"
#include "memtrack/track_config.h"
#include "memtrack/tracked_block.h"
#include "platform/platform.h"
#include "platform/portability.h"

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

// "...: release of 0x<pointer> refused: not a block of this module\r\n".
void reportForeignRelease(const void* pointer) {
    char notice[noticeCapacity] = {};
    formatBounded(notice, sizeof notice,
                  "OVMemCollector: release of 0x%llX refused: not a block of this module\r\n",
                  addressOf(pointer));
    writeFaultNotice(notice);
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

void askForDebuggerOnce() {
    if (debuggerChecked.load()) {
        return;
    }
    if (debuggerAttached()) {
        debuggerPresent.store(true);
    }
    debuggerChecked.store(true);
}

// Index of the first byte that is not the guard fill, or `length` when there is none.
uint64_t firstChangedByte(const uint8_t* zone, uint64_t length) {
    for (uint64_t i = 0; i < length; ++i) {
        if (zone[i] != guardFill) {
            return i;
        }
    }
    return length;
}

// The tail guard's fields lie in the header just below the head guard, where a long underrun reaches
// them. They are followed only while they still describe this block's own tail guard (userPtr + size, 384
// bytes plus a slack below the 16-byte alignment); otherwise the header itself was overwritten, and the
// head guard in between tells of it.
bool tailGuardIntact(const OVMemHdr* header) {
    return header->tailGuard != nullptr &&
           header->tailGuard == static_cast<const uint8_t*>(header->userPtr) + header->size &&
           header->tailGuardSize >= guardZoneSize &&
           header->tailGuardSize < guardZoneSize + userBlockAlignment;
}

void stopWhenDebugged() {
    if (debuggerPresent.load()) {
        VRA_BREAKPOINT();
    }
}

// The guard check at release: in the guarded modes (2, 3 and 4) a released block's guard zones must still
// hold their fill. Checks the head guard, then the tail guard; sets underrun or overrun at the first
// changed byte of each, stops in the debugger only when one was attached at the first check, and writes at
// most one "MemoryAccessViolation" record, which shows both damage flags as found. The block is freed
// afterwards all the same.
void checkGuards(OVMemHdr* header) {
    if (header == nullptr || !isGuardedMode(trackMode)) {
        return;
    }
    askForDebuggerOnce();
    bool headChanged = false;
    uint64_t headLength = header->headGuardSize < guardZoneSize ? header->headGuardSize : guardZoneSize;
    if (firstChangedByte(header->headGuard, headLength) < headLength) {
        header->underrun = 1;
        headChanged = true;
        stopWhenDebugged();
    }
    if (header->tailGuard != nullptr && !tailGuardIntact(header) && !headChanged) {
        // Written over from below, past the head guard: an underrun all the same.
        header->underrun = 1;
        headChanged = true;
        stopWhenDebugged();
    }
    if (tailGuardIntact(header) &&
        firstChangedByte(header->tailGuard, header->tailGuardSize) < header->tailGuardSize) {
        header->overrun = 1;
        stopWhenDebugged();
        writeBlockRecord(header, MemoryAccessViolationRecord);
        return;
    }
    if (headChanged) {
        writeBlockRecord(header, MemoryAccessViolationRecord);
    }
}

// A release has reports to write when it comes after the teardown or its guards are to be checked.
bool releaseHasReports(bool afterTeardown) {
    return afterTeardown || isGuardedMode(trackMode);
}

// A release after the collector's teardown (the module is being unloaded): the block was reported as a
// leak, so its release is reported too, and the release that empties the list ends the log.
void reportReleaseAfterTeardown(OVMemHdr* header) {
    RecordWriterLockHolder writers;
    if (teardownBannerPending.load()) {
        writeDebugBanner(" Reporting releases after tear down of OVMemCollector Object ");
        teardownBannerPending.store(false);
    }
    header->release = 1;
    writeBlockRecord(header, MemoryLeakRecord);
    bool listEmpty = liveHead == nullptr;
    endLeakLogAfterRelease(listEmpty);
    if (listEmpty) {
        writeDebugBanner(" Completed reporting of releases after tear down of OVMemCollector Object ");
    }
}

} // namespace

void* trackedAllocate(uint64_t size, int32_t kind, void* caller, uint32_t* outId) {
    if (failSize != 0 && size >= failSize) {
        return nullptr;
    }
    OVMemBlock* block = newBlockAllocator();
    if (block == nullptr) {
        return nullptr;
    }
    void* userPtr = block->AllocateWithCaller(size, caller, trackHeap);
    OVMemHdr* header = block->GetHeader();
    if (userPtr != nullptr && header != nullptr) {
        header->allocKind = kind;
        *outId = header->id;
        // Before the block joins the list, so that the dump does not hold the list's lock twice.
        if (header->id == breakOnAllocId) {
            dumpInUse();
        }
        appendLiveBlock(header);
    }
    delete block;
    return userPtr;
}

bool trackedRelease(void** location, int32_t kind) {
    OVMemBlock* block = newBlockAllocator();
    if (block == nullptr) {
        // Without its allocator object the release is left undone: the block stays allocated and listed.
        return false;
    }
    OVMemHdr* header = block->HeaderFromUserPtr(*location);
    if (header == nullptr || header->allocKind != kind) {
        // Not a block of this module, or released with the other form of delete: its memory is not
        // touched, and a block stays on the list to be reported at teardown.
        if (header == nullptr) {
            reportForeignRelease(*location);
        } else {
            reportMismatchedRelease(*location, header->allocKind, kind);
        }
        delete block;
        return false;
    }
    bool afterTeardown = !unlinkLiveBlock(header);
    if (releaseHasReports(afterTeardown) && reportingThread.load() != GetCurrentThreadId()) {
        RecordWriterLockHolder writers;
        reportingThread.store(GetCurrentThreadId());
        if (afterTeardown) {
            reportReleaseAfterTeardown(header);
        }
        checkGuards(header);
        if (afterTeardown) {
            // An access-violation record of the last release opened a pair of files and rebuilt the
            // module-name caches after the log was ended above.
            endLeakLogAfterRelease(liveHead == nullptr);
        }
        reportingThread.store(0);
    }
    if (collectorTornDown.load()) {
        // The module is being unloaded: no critical section of it may stay initialised. A release from
        // inside the reports above leaves the deletion to the reports' own end.
        recordWriterLock.retire();
    }
    freeBlockMemory(header);
    delete block;
    return false;
}
