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
// It is set up on first use by whichever thread comes first, and set up again by the first writer after
// it was retired: releases after the collector's teardown still write records.
#pragma once

void enterRecordWriterLock();
void leaveRecordWriterLock();
// Deletes the lock, so that an unloaded module leaves no critical section initialised; when the calling
// thread holds it, its outermost leave deletes it. Only where no other thread can write records: at the
// collector's teardown and after it, while the module is being unloaded.
void retireRecordWriterLock();

// Holds the record writer lock for a scope.
class RecordWriterLockHolder {
  public:
    RecordWriterLockHolder() { enterRecordWriterLock(); }
    ~RecordWriterLockHolder() { leaveRecordWriterLock(); }
    RecordWriterLockHolder(const RecordWriterLockHolder&) = delete;
    RecordWriterLockHolder& operator=(const RecordWriterLockHolder&) = delete;
};
