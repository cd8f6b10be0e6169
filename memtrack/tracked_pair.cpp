// The tracked pair. Each operation uses one allocator object of the class that trackMode calls for; a
// block joins the live list when it is made and leaves it when it is released, its guard zones are checked
// then, and releases that arrive after the collector's teardown are reported one by one.
#include "memtrack/allocator_functions.h"

#include "memtrack/block_release.h"
#include "memtrack/debug_text.h"
#include "memtrack/fault_notice.h"
#include "memtrack/guard_check.h"
#include "memtrack/in_use_dump.h"
#include "memtrack/leak_log.h"
#include "memtrack/live_list.h"
#include "memtrack/module_names.h"
#include "memtrack/record_writer_lock.h"
#include "memtrack/track_config.h"
#include "memtrack/tracked_block.h"
#include "platform/platform.h"

#include <atomic>

namespace {

// The thread writing the reports of a release, or 0. Where these operators serve the whole process (a
// test program linked with them), the platform calls of the record writer release memory through them
// too; such a release is freed without reports of its own, which would write records without end. Set
// and cleared only under the record writer lock, so a thread finds its own id here only while it is
// itself reporting. A thread id rather than thread-local storage, which MinGW emulates with an index and
// per-thread blocks that a module unloaded and loaded again many times would leave behind.
std::atomic<DWORD> reportingThread{0};

// A release has reports to write when it comes after the teardown or its guards are to be checked.
bool releaseHasReports(bool afterTeardown) {
    return afterTeardown || isGuardedMode(trackMode);
}

OVMemBlock* newBlockAllocator() {
    if (trackMode == TrackModePageGuarded) {
        return new OVMemBlockVirtualAlloc;
    }
    return new OVMemBlock;
}

// A release after the collector's teardown (the module is being unloaded): the block was reported as a
// leak, so its release is reported too, and the release that empties the list ends the files.
void reportReleaseAfterTeardown(OVMemHdr* header) {
    RecordWriterLockHolder writers;
    if (teardownBannerPending.load()) {
        writeDebugBanner(" Reporting releases after tear down of OVMemCollector Object ");
        teardownBannerPending.store(false);
    }
    header->release = 1;
    writeBlockRecord(header, MemoryLeakRecord);
    if (liveHead == nullptr) {
        closeLogFiles();
        // The records rebuilt the module-name caches; nothing of the module would free them after this.
        releaseCachedModulePaths();
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
        if (afterTeardown && liveHead == nullptr) {
            // An access-violation record of the last release opened a pair of files and rebuilt the
            // module-name caches after they were ended above.
            closeLogFiles();
            releaseCachedModulePaths();
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
