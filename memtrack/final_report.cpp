// The collector's destructor: the final report at unload. Every banner, name and total goes to the
// debugger output by its own write; only the leak records reach the files.
#include "memtrack/collector.h"

#include "memtrack/block_counters.h"
#include "memtrack/bounded_text.h"
#include "memtrack/debug_text.h"
#include "memtrack/leak_log.h"
#include "memtrack/live_list.h"
#include "memtrack/module_names.h"
#include "memtrack/record_writer_lock.h"
#include "memtrack/symbol_resolver.h"
#include "memtrack/track_config.h"

#include <cstdint>
#include <cstdlib>

namespace {

// The totals lines' buffers: sprintf_s into MAX_PATH bytes.
constexpr size_t totalsCapacity = 260;

// This module's path, found afresh from one of its own code addresses; none when it cannot be had.
char* currentModulePath() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&currentModulePath), &module)) {
        return nullptr;
    }
    return getModuleFileNameCopy(module);
}

void writeProcessAndModuleNames() {
    if (processPath == nullptr) {
        processPath = getModuleFileNameCopy(nullptr);
    }
    char* modulePath = currentModulePath();
    if (processPath != nullptr && modulePath != nullptr) {
        writeDebugString("Process Name: ");
        writeDebugString(processPath);
        writeDebugString("\r\n");
        writeDebugString("Current Module Name: ");
        writeDebugString(modulePath);
        writeDebugString("\r\n");
    }
    free(modulePath);
}

// A "MemoryLeak" record for every block still live, in list order; returns their total size. No lock:
// nothing else may allocate or release through the module while it is being unloaded.
uint64_t reportLiveBlocks() {
    uint64_t leaked = 0;
    for (const OVMemHdr* header = liveHead; header != nullptr; header = header->next) {
        leaked += header->size;
        writeBlockRecord(header, MemoryLeakRecord);
    }
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
    if (liveHead == nullptr) {
        closeLogFiles();
    }
    if (symbolResolver != nullptr) {
        delete symbolResolver;
        symbolResolver = nullptr;
    }
    releaseCachedModulePaths();
    writeDebugBanner(" Completed memory allocation tracking reporting ");
}

} // namespace

OVMemCollector::~OVMemCollector() {
    if (isTrackingOn()) {
        writeFinalReport();
    }
    if (collectorLock.remove()) {
        collectorTornDown.store(true);
        teardownBannerPending.store(true);
    }
    // Releases that still arrive set the lock up again and retire it after their reports.
    recordWriterLock.retire();
    moduleCollector = nullptr;
}
