#include "memtrack/record_writer_lock.h"

#include "platform/platform.h"

namespace {

// Set up by the first thread that writes a record, whichever it is and whenever that is (records can be
// written while the module's static objects are still being built), and never deleted: releases after
// the collector's teardown still write records, up to the module's unload.
INIT_ONCE recordWriterLockOnce = INIT_ONCE_STATIC_INIT;
CRITICAL_SECTION recordWriterLock;

BOOL CALLBACK initializeRecordWriterLock(PINIT_ONCE, PVOID, PVOID*) {
    InitializeCriticalSection(&recordWriterLock);
    return TRUE;
}

} // namespace

void enterRecordWriterLock() {
    InitOnceExecuteOnce(&recordWriterLockOnce, initializeRecordWriterLock, nullptr, nullptr);
    EnterCriticalSection(&recordWriterLock);
}

void leaveRecordWriterLock() {
    LeaveCriticalSection(&recordWriterLock);
}
