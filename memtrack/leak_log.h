// The leak log: the tracker's only writer of reports about single blocks. A record goes three ways: the
// block's header byte for byte to the raw record file (".mlk"), a text line to the text log file (the same
// name with ".log" appended) and the same line to the debugger output. The files are created by the first
// record, so a run without faults or leaks leaves none behind, and the leak log ends them when no more
// records can come.
//
// Every writer, formatter and file operation here serialises itself on the record writer lock; callers
// may hold that lock around several calls to keep their output together.
#pragma once

#include "memtrack/call_stack.h"
#include "memtrack/mem_header.h"
#include "memtrack/recreatable_lock.h"
#include "platform/platform.h"

#include <cstdint>

// The lock of the record writers: the log file handles, the module-name caches, the symbol resolver's one
// lookup buffer and the order of the lines in the files and on the debugger output.
//
// Lock order: collectorLock, then the record writer lock. The in-use dump formats records while it holds
// collectorLock; nothing that holds the record writer lock ever takes collectorLock (the writers get their
// memory from the run-time heap, not through the module's hooks, and touch no list). Its owner may enter
// it again: a caller that must keep several writes together (a banner and its records, or the module path
// that moduleNameForAddress() hands out and the records formatted with it) holds it around them, and the
// writers inside take it again.
//
// Set up by the first thread that writes a record, whichever it is and whenever that is (records can be
// written while the module's static objects are still being built). Retired at the collector's teardown
// and after each release that follows it, and set up again by the next writer: releases after the
// teardown still write records.
extern RecreatableLock recordWriterLock;

// Holds the record writer lock for a scope.
class RecordWriterLockHolder : public LockHolder {
  public:
    RecordWriterLockHolder() : LockHolder(recordWriterLock) {}
};

// The kind of a record. Any value other than 1 and 2 is written as a leak.
enum RecordType : int32_t {
    MemoryLeakRecord = 0,            // final report; release after teardown (the header's release flag set)
    MemoryAccessViolationRecord = 1, // damaged guard zone found at release
    MemoryInUseRecord = 2,           // in-use dump, debugger output only (formatter only)
};

// Handles of the two files: none until the first attempt to create them, then the handle or the
// invalid-handle value of a failed creation, which stays for the rest of the run (no retry).
extern HANDLE rawLogFile;
extern HANDLE textLogFile;

// A log file's name: 519 characters and the terminator. A deeper directory with long executable and module
// names does not fit, and the record that needed the files is dropped.
constexpr size_t logFileNameCapacity = 520;

// What a file is, whatever name it bears: its volume and its index on the volume.
struct FileIdentity {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
};

// What this module instance created: the raw record file's name (the text log file's is the same with
// ".log"; empty before the first pair) and each file's identity, so that a pair closed and wanted again in
// the same second is reopened only while its names still hold those very files.
struct CreatedLogPair {
    char rawName[logFileNameCapacity];
    bool rawCreated;
    bool textCreated;
    FileIdentity raw;
    FileIdentity text;
};
extern CreatedLogPair createdLogPair;

// A file handle counts as open when it is neither none nor the invalid-handle value.
inline bool isLogFileOpen(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// Size of a text record buffer: the longest record (three texts of at most 259 characters and the
// numbers) stays well below it.
constexpr size_t recordTextCapacity = 1024;

// Writes the raw record, the text record and its debugger copy, creating the files first if needed, then
// the record's details (record_details.h: its call stack, or the id of the record whose stack it shares,
// and its first bytes) to the text log file and the debugger. When the file names cannot be built nothing
// at all is written, not even to the debugger. No header: nothing.
void writeBlockRecord(const OVMemHdr* header, RecordType recordType, const CallStack* stack = nullptr,
                      uint32_t sharedStackId = 0);

// Lines of a report ("\r\n"-ended) to the text log file when `toTextLog` and it is open, and to the debugger
// output one write per line, as a debugger shows each write. Under the record writer lock.
void writeReportLines(const char* lines, bool toTextLog);

// The text record of a block, "\r\n"-terminated, in a new recordTextCapacity-byte buffer from the run-time
// heap (free it), or none when the buffer cannot be had or the line cannot be printed. An empty text when
// modulePath or header is missing. The module named is the part of modulePath after its last backslash.
char* formatBlockRecord(const char* modulePath, const OVMemHdr* header, RecordType recordType);

// Whether a collector is registered; the collector hands it over as it registers and unregisters. A pair
// of files created meanwhile has its path noted for the current user (HKCU "Software\Orvale\ZID-Azo",
// "LeakedModule") and announced on the debugger output.
void setCollectorRegistered(bool registered);

// Creates both files on the first call that can name them ("<directory><executable>_<module>_<process
// id>_<time>.mlk" and the same with ".log", in the log directory or else the temporary directory) and
// writes the text log file's banner, noting the path while a collector is registered.
//
// The files are created, never taken over: each is created new (a name that exists, whatever it holds,
// a link included, is taken) and refused when it has a second name. A taken name moves the time on by a
// second, up to 16 names, with the pair's other file, if just created, deleted again; after that the
// records go to the debugger output only, which one line there says. Names that hold the pair this module
// instance created itself (a pair closed and wanted again in the same second) are reopened for appending,
// but only while they still hold those very files. A file that fails for another reason stays out and
// the other one serves. True when both handles are set, even to the invalid-handle value; false when the
// names cannot be built, in which case the next call tries again.
bool openLogFiles(const char* modulePath);

// Closes each open file and resets its handle to none, so that a later record creates a new pair (or, in
// the same second, reopens this one and appends under a new banner); an invalid-handle value is left as it
// is.
void closeLogFiles();

// The collector's teardown, after its report: the files are closed unless blocks are still live (their
// releases after the teardown are reported to them), and the module-name caches are freed.
void endLeakLogAtTeardown(bool listEmpty);

// A release after the collector's teardown has been reported: the one that emptied the list is the last
// record of the module, so the files are closed and the module-name caches that its records rebuilt are
// freed; nothing of the module would free them after this.
void endLeakLogAfterRelease(bool listEmpty);
