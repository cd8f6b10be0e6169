#include "memtrack/in_use_dump.h"

#include "memtrack/bounded_text.h"
#include "memtrack/debug_text.h"
#include "memtrack/debugger_trap.h"
#include "memtrack/leak_log.h"
#include "memtrack/live_list.h"
#include "memtrack/module_names.h"
#include "memtrack/record_writer_lock.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Room for the summary line with two 20-digit counts.
constexpr size_t summaryCapacity = 176;

} // namespace

void dumpInUse() {
    breakIntoDebugger();
    // Without a collector the dump sets the list's lock up for itself, and deletes it again when done:
    // after the teardown nothing else would, and the module would be unloaded with it initialised.
    bool withoutCollector = collectorTornDown.load();
    {
        LockHolder list(collectorLock);
        // The records of one dump stay together, and the module path taken once stays valid for all.
        RecordWriterLockHolder writers;
        const char* modulePath = liveHead != nullptr ? moduleNameForAddress(liveHead->caller) : nullptr;
        unsigned long long count = 0;
        unsigned long long total = 0;
        for (const OVMemHdr* header = liveHead; header != nullptr; header = header->next) {
            ++count;
            total += header->size;
            char* line = formatBlockRecord(modulePath, header, MemoryInUseRecord);
            if (line != nullptr) {
                writeDebugString(line);
                free(line);
            }
        }
        char summary[summaryCapacity] = {};
        if (formatBounded(summary, sizeof summary, "%llu allocations active, consuming %llu bytes\r\n", count,
                          total)) {
            writeDebugString(summary);
        }
    }
    if (withoutCollector) {
        collectorLock.remove();
        recordWriterLock.retire();
    }
}
