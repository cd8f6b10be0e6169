// The lock of the record writers: the log file handles, the module-name caches, the symbol resolver's one
// lookup buffer and the order of the lines in the files and on the debugger output.
//
// Lock order: collectorLock, then the record writer lock. The in-use dump formats records while it holds
// collectorLock; nothing that holds the record writer lock ever takes collectorLock (the writers get their
// memory from the run-time heap, not through the module's hooks, and touch no list). The lock is a
// critical section and so may be re-entered by its owner: a caller that must keep several writes together
// (a banner and its records, or the module path that moduleNameForAddress() hands out and the records
// formatted with it) holds it around them, and the writers inside take it again.
//
// Set up by the first thread that writes a record, whichever it is and whenever that is (records can be
// written while the module's static objects are still being built). Retired at the collector's teardown
// and after each release that follows it, and set up again by the next writer: releases after the
// teardown still write records.
#pragma once

#include "memtrack/recreatable_lock.h"

extern RecreatableLock recordWriterLock;

// Holds the record writer lock for a scope.
class RecordWriterLockHolder : public LockHolder {
  public:
    RecordWriterLockHolder() : LockHolder(recordWriterLock) {}
};
