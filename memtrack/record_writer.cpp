// Writing one block's record to the raw record file, the text log file and the debugger output.
#include "memtrack/leak_log.h"

#include "memtrack/debug_text.h"
#include "memtrack/module_names.h"
#include "memtrack/record_writer_lock.h"

#include <cstdlib>
#include <cstring>

static_assert(sizeof(OVMemHdr) == 504, "a raw record is one block header, byte for byte");

RecreatableLock recordWriterLock;

void writeBlockRecord(const OVMemHdr* header, RecordType recordType) {
    if (header == nullptr) {
        return;
    }
    // One record at a time: its three parts stay together and the module path stays valid throughout.
    RecordWriterLockHolder lock;
    const char* modulePath = moduleNameForAddress(header->caller);
    if (!openLogFiles(modulePath)) {
        return;
    }
    DWORD written = 0;
    if (isLogFileOpen(rawLogFile)) {
        WriteFile(rawLogFile, header, sizeof(OVMemHdr), &written, nullptr);
    }
    char* line = formatBlockRecord(modulePath, header, recordType);
    if (line == nullptr) {
        return;
    }
    DWORD length = static_cast<DWORD>(strlen(line));
    if (isLogFileOpen(textLogFile)) {
        WriteFile(textLogFile, line, length, &written, nullptr);
    }
    writeDebugText(line, length);
    free(line);
}
