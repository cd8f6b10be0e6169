// The collector's set-up of tracking, and its destructor: the final report at unload. Every banner, name
// and total of the report goes to the debugger output by its own write; only the leak records reach the
// files.
#include "memtrack/collector.h"

#include "memtrack/debug_text.h"
#include "memtrack/leak_log.h"
#include "memtrack/leak_stacks.h"
#include "memtrack/live_list.h"
#include "memtrack/symbols.h"
#include "memtrack/track_config.h"
#include "memtrack/tracked_block.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

OVMemCollector* moduleCollector = nullptr;

namespace {

// The totals lines' buffers: sprintf_s into MAX_PATH bytes.
constexpr size_t totalsCapacity = 260;

void registerCollector(OVMemCollector* collector) {
    moduleCollector = collector;
    setCollectorRegistered(collector != nullptr);
}

void writeProcessAndModuleNames() {
    const char* executablePath = captureProcessPath();
    char* modulePath = ownModulePathCopy();
    if (executablePath != nullptr && modulePath != nullptr) {
        writeDebugString("Process Name: ");
        writeDebugString(executablePath);
        writeDebugString("\r\n");
        writeDebugString("Current Module Name: ");
        writeDebugString(modulePath);
        writeDebugString("\r\n");
    }
    free(modulePath);
}

// A "MemoryLeak" record for every block still live, in list order, and with stacks the summary of the
// distinct ones; returns their total size. No lock: nothing else may allocate or release through the
// module while it is being unloaded.
uint64_t reportLiveBlocks() {
    repairLiveList();
    uint64_t leaked = 0;
    LeakStacks stacks = {};
    for (const OVMemHdr* header = liveHead; header != nullptr; header = header->next) {
        leaked += header->size;
        const CallStack* stack = liveStackOf(header);
        writeBlockRecord(header, MemoryLeakRecord, stack,
                         countLeakStack(&stacks, stack, header->id, header->size));
    }
    char* summary = formatLeakStackSummary(&stacks);
    writeReportLines(summary, true);
    free(summary);
    freeLeakStacks(&stacks);
    return leaked;
}

void writeTotals(uint64_t leaked) {
    char count[totalsCapacity] = {};
    if (formatBounded(count, sizeof count, "Total number of allocations tracked: %d\n",
                      static_cast<int>(allocCounter))) {
        writeDebugString(count);
    }
    if (leaked != 0) {
        char size[totalsCapacity] = {};
        // The low 32 bits as a signed number, as the report has always shown them.
        if (formatBounded(size, sizeof size, "Total leaked size: %d\n",
                          static_cast<int>(static_cast<uint32_t>(leaked)))) {
            writeDebugString(size);
        }
        writeDebugString("\r\n********** Memory was leaked **********\r\n");
    } else {
        writeDebugString("\r\n********** Clean System **********\r\n");
    }
}

void writeFinalReport() {
    // The whole report stays together on the debugger output.
    RecordWriterLockHolder writers;
    writeDebugBanner(" Starting memory allocation tracking reporting ");
    writeProcessAndModuleNames();
    uint64_t leaked = reportLiveBlocks();
    writeTotals(leaked);
    endLeakLogAtTeardown(liveHead == nullptr);
    endSymbolResolver();
    writeDebugBanner(" Completed memory allocation tracking reporting ");
}

} // namespace

OVMemCollector::OVMemCollector() {
    bool tracking = isTrackingOn();
    if (tracking) {
        // A lock that is already set up serves as it is.
        collectorLock.setUp();
    }
    // The list is guarded from here on. Where these operators serve the whole process (a test program
    // linked with them) the platform code below allocates and releases through them, and those releases
    // are no releases after a teardown.
    collectorTornDown.store(false);
    teardownBannerPending.store(false);
    if (tracking) {
        setUpSymbolResolver();
        std::memset(collectorModulePath, 0, sizeof collectorModulePath);
        // Without it the log files cannot be named, and records that would create them are dropped.
        captureCollectorModuleName();
    }
    registerCollector(this);
}

OVMemCollector::~OVMemCollector() {
    if (isTrackingOn()) {
        writeFinalReport();
    }
    if (collectorLock.remove()) {
        collectorTornDown.store(true);
        teardownBannerPending.store(true);
        // Its storage ends with the leak log; releases that still arrive free it once the list is empty.
        if (liveHead == nullptr) {
            freeLiveIndex();
        }
    }
    // Releases that still arrive set the lock up again and retire it after their reports.
    recordWriterLock.retire();
    registerCollector(nullptr);
}
