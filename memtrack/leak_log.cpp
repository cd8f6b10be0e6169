// The leak log's files (creation, announcement, closing and their end), its record formats and its
// record writer, with the lock that keeps them together.
#include "memtrack/leak_log.h"

#include "memtrack/debug_text.h"
#include "memtrack/record_details.h"
#include "memtrack/symbols.h"
#include "memtrack/track_config.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

static_assert(sizeof(OVMemHdr) == 504, "a raw record is one block header, byte for byte");

RecreatableLock recordWriterLock;
HANDLE rawLogFile = nullptr;
HANDLE textLogFile = nullptr;
CreatedLogPair createdLogPair = {};

namespace {

// Handed over by the collector: whether one is registered.
std::atomic<bool> collectorRegistered{false};

constexpr char leakReportBanner[] = "\r\n******* Leak Report *******\r\n";
static_assert(sizeof leakReportBanner - 1 == 31, "the text log file begins with a 31-byte banner");

constexpr DWORD tempPathCapacity = 259;
constexpr size_t scratchCapacity = MAX_PATH;
constexpr DWORD symbolTextCapacity = MAX_PATH;

// The part of a path after its last backslash, or none when it holds no backslash.
const char* fileNamePart(const char* path) {
    const char* separator = strrchr(path, '\\');
    return separator == nullptr ? nullptr : separator + 1;
}

// The module that a record names; a path without a backslash is printed whole.
const char* moduleNamePart(const char* modulePath) {
    const char* name = fileNamePart(modulePath);
    return name == nullptr ? modulePath : name;
}

// Addresses are printed by their low 32 bits.
unsigned int low32(const void* address) {
    return static_cast<unsigned int>(reinterpret_cast<uintptr_t>(address));
}

int asSigned32(uint64_t value) {
    return static_cast<int>(static_cast<int32_t>(static_cast<uint32_t>(value)));
}

// The temporary directory, ending in a backslash, in a new buffer; none when it cannot be had whole.
char* temporaryDirectoryCopy() {
    char* directory = static_cast<char*>(calloc(scratchCapacity, 1));
    if (directory == nullptr) {
        return nullptr;
    }
    // A result of the capacity or more is the size that a longer path would need; the buffer then holds
    // nothing usable.
    DWORD length = GetTempPathA(tempPathCapacity, directory);
    if (length == 0 || length >= tempPathCapacity) {
        free(directory);
        return nullptr;
    }
    return directory;
}

char* processIdText() {
    char* text = static_cast<char*>(calloc(scratchCapacity, 1));
    if (text != nullptr &&
        !formatBounded(text, scratchCapacity, "%d", static_cast<int>(GetCurrentProcessId()))) {
        free(text);
        text = nullptr;
    }
    return text;
}

// "<directory><executable>_<module>_<process id>_<time>.mlk<suffix>" in a new buffer, or none when it
// does not fit.
char* buildLogFileName(const char* directory, const char* executableName, const char* moduleName,
                       const char* processId, int32_t time, const char* suffix) {
    char* name = static_cast<char*>(calloc(logFileNameCapacity, 1));
    if (name != nullptr &&
        !formatBounded(name, logFileNameCapacity, "%s%s%s%s%s%s%s%d%s%s", directory, executableName, "_",
                       moduleName, "_", processId, "_", time, ".mlk", suffix)) {
        free(name);
        name = nullptr;
    }
    return name;
}

// The files are opened for appending whole records and for the identity check: no right to delete them,
// which would keep anyone who reads them without sharing deletion out while the module holds them.
constexpr DWORD logFileAccess = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES;
// A link at the name is opened as itself, never followed to where it leads.
constexpr DWORD logFileFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;

// How many names, a second apart, are tried before the records go to the debugger output only.
constexpr unsigned logNameAttempts = 16;

enum class Opening {
    Opened,
    NameTaken, // by someone else: the next name is tried
    Failed,    // for another reason: the file stays out, as a failed creation always did
};

// What the handle's file is, and how many names (hard links) it has; false when it cannot be asked.
bool identifyFile(HANDLE file, FileIdentity* identity, DWORD* names) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) {
        return false;
    }
    *identity =
        FileIdentity{information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
    *names = information.nNumberOfLinks;
    return true;
}

bool sameFile(const FileIdentity& left, const FileIdentity& right) {
    return left.volume == right.volume && left.indexHigh == right.indexHigh &&
           left.indexLow == right.indexLow;
}

// Closes a file this instance has just created and deletes it again: through a handle of its own, opened
// by the name for deletion, and only while the name still holds that very file.
void discardCreatedFile(const char* name, HANDLE file, const FileIdentity& created) {
    CloseHandle(file);
    HANDLE deletion =
        CreateFileA(name, DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, logFileFlags, nullptr);
    if (deletion == INVALID_HANDLE_VALUE) {
        return;
    }
    FileIdentity identity = {};
    DWORD names = 0;
    if (identifyFile(deletion, &identity, &names) && sameFile(identity, created)) {
        FILE_DISPOSITION_INFO disposition = {TRUE};
        SetFileInformationByHandle(deletion, FileDispositionInfo, &disposition, sizeof disposition);
    }
    CloseHandle(deletion);
}

// Creates a file under a name that nobody holds: a name that exists, whatever it holds (a file, a hard
// link, a symbolic link, whether it leads anywhere or not), is taken.
Opening createFreshLogFile(const char* name, HANDLE* file, FileIdentity* identity) {
    *file = CreateFileA(name, logFileAccess, FILE_SHARE_READ, nullptr, CREATE_NEW, logFileFlags, nullptr);
    if (*file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? Opening::NameTaken
                                                                           : Opening::Failed;
    }
    DWORD names = 0;
    if (!identifyFile(*file, identity, &names)) {
        // Not to be checked, so not to be written to; nor can it be told apart for deletion: it stays, empty.
        CloseHandle(*file);
        *file = INVALID_HANDLE_VALUE;
        return Opening::Failed;
    }
    if (names != 1) {
        // Linked to from elsewhere since its creation: someone else reaches this file too.
        discardCreatedFile(name, *file, *identity);
        *file = INVALID_HANDLE_VALUE;
        return Opening::NameTaken;
    }
    return Opening::Opened;
}

// Opens for appending a file that this instance created under the name, if the name still holds it.
Opening reopenCreatedLogFile(const char* name, const FileIdentity& created, HANDLE* file) {
    *file = CreateFileA(name, logFileAccess, FILE_SHARE_READ, nullptr, OPEN_EXISTING, logFileFlags, nullptr);
    if (*file == INVALID_HANDLE_VALUE) {
        return Opening::NameTaken;
    }
    FileIdentity identity = {};
    DWORD names = 0;
    if (!identifyFile(*file, &identity, &names) || names != 1 || !sameFile(identity, created)) {
        CloseHandle(*file);
        *file = INVALID_HANDLE_VALUE;
        return Opening::NameTaken;
    }
    return Opening::Opened;
}

// Reopens the pair this instance created under these names: each file it created, unless a name holds
// another file by now, in which case the pair is not this instance's any more.
bool reopenCreatedPair(const char* rawName, const char* textName, HANDLE* raw, HANDLE* text) {
    *raw = INVALID_HANDLE_VALUE;
    *text = INVALID_HANDLE_VALUE;
    if ((createdLogPair.rawCreated &&
         reopenCreatedLogFile(rawName, createdLogPair.raw, raw) != Opening::Opened) ||
        (createdLogPair.textCreated &&
         reopenCreatedLogFile(textName, createdLogPair.text, text) != Opening::Opened)) {
        if (isLogFileOpen(*raw)) {
            CloseHandle(*raw);
        }
        *raw = INVALID_HANDLE_VALUE;
        return false;
    }
    return true;
}

// Creates both files afresh. A file that fails for another reason than a taken name stays out (its
// records go to the other channels); when either name is taken, the other file, if this call created it,
// is deleted again and the pair is not made.
bool createFreshPair(const char* rawName, const char* textName, HANDLE* raw, HANDLE* text) {
    FileIdentity rawIdentity = {};
    FileIdentity textIdentity = {};
    Opening rawOpening = createFreshLogFile(rawName, raw, &rawIdentity);
    if (rawOpening == Opening::NameTaken) {
        return false;
    }
    Opening textOpening = createFreshLogFile(textName, text, &textIdentity);
    if (textOpening == Opening::NameTaken) {
        if (rawOpening == Opening::Opened) {
            discardCreatedFile(rawName, *raw, rawIdentity);
        }
        *raw = INVALID_HANDLE_VALUE;
        return false;
    }
    copyTextBounded(createdLogPair.rawName, sizeof createdLogPair.rawName, rawName);
    createdLogPair.rawCreated = rawOpening == Opening::Opened;
    createdLogPair.textCreated = textOpening == Opening::Opened;
    createdLogPair.raw = rawIdentity;
    createdLogPair.text = textIdentity;
    return true;
}

// Notes the text log file's path for the current user (HKCU "Software\Orvale\ZID-Azo", "LeakedModule")
// and announces it on the debugger output. Registry failures are ignored.
void noteLeakLogPath(const char* textLogPath) {
    RecordWriterLockHolder lock; // the three pieces of the announcement stay together
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Orvale\\ZID-Azo", 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        if (textLogPath != nullptr) {
            // The path's bytes without a terminator, for a developer to read, not for the module.
            RegSetValueExA(key, "LeakedModule", 0, REG_BINARY, reinterpret_cast<const BYTE*>(textLogPath),
                           static_cast<DWORD>(strlen(textLogPath)));
        }
        RegCloseKey(key);
    }
    writeDebugString("Logging memory leak information to:\r\n");
    if (textLogPath != nullptr) {
        writeDebugString(textLogPath);
    }
    writeDebugString("\r\n");
}

// Says on the debugger output, in one line, that no name was free.
void announceNoFreeLogName(const char* directory) {
    char line[logFileNameCapacity + 160] = {};
    if (formatBounded(
            line, sizeof line,
            "OVMemCollector: no log file in %s: the next %u names were taken by others; records go to "
            "the debugger output only\r\n",
            directory, logNameAttempts)) {
        writeDebugString(line);
    }
}

bool createLogFiles(const char* directory, const char* executablePath, const char* modulePath,
                    const char* processId) {
    const char* executableName = fileNamePart(executablePath);
    const char* moduleName = fileNamePart(modulePath);
    if (executableName == nullptr || moduleName == nullptr) {
        return false;
    }
    // The names carry the time's low 32 bits, printed as a signed number; a name taken by someone else
    // moves the time on by a second.
    uint32_t now = static_cast<uint32_t>(static_cast<int64_t>(time(nullptr)));
    for (unsigned attempt = 0; attempt < logNameAttempts; ++attempt) {
        int32_t stamp = static_cast<int32_t>(now + attempt);
        char* rawName = buildLogFileName(directory, executableName, moduleName, processId, stamp, "");
        char* textName = buildLogFileName(directory, executableName, moduleName, processId, stamp, ".log");
        if (rawName == nullptr || textName == nullptr) {
            free(rawName);
            free(textName);
            return false;
        }
        HANDLE raw = INVALID_HANDLE_VALUE;
        HANDLE text = INVALID_HANDLE_VALUE;
        bool opened = strcmp(rawName, createdLogPair.rawName) == 0
                          ? reopenCreatedPair(rawName, textName, &raw, &text)
                          : createFreshPair(rawName, textName, &raw, &text);
        if (opened) {
            rawLogFile = raw;
            textLogFile = text;
            if (isLogFileOpen(textLogFile)) {
                // Also when the pair is reopened: each opening starts a section of the report.
                DWORD written = 0;
                WriteFile(textLogFile, leakReportBanner, sizeof leakReportBanner - 1, &written, nullptr);
            }
            if (collectorRegistered.load()) {
                noteLeakLogPath(textName);
            }
        }
        free(rawName);
        free(textName);
        if (opened) {
            return true;
        }
    }
    rawLogFile = INVALID_HANDLE_VALUE;
    textLogFile = INVALID_HANDLE_VALUE;
    announceNoFreeLogName(directory);
    return true;
}

// Frees the module-name caches, which the next record rebuilds, and closes the files when asked.
void endRecords(bool closeFiles) {
    RecordWriterLockHolder lock;
    if (closeFiles) {
        closeLogFiles();
    }
    releaseCachedModulePaths();
}

} // namespace

void setCollectorRegistered(bool registered) {
    collectorRegistered.store(registered);
}

bool openLogFiles(const char* modulePath) {
    RecordWriterLockHolder lock;
    // A failed creation leaves the invalid-handle value, which counts as set: it is not tried again.
    if (rawLogFile != nullptr && textLogFile != nullptr) {
        return true;
    }
    if (modulePath == nullptr) {
        return false;
    }
    const char* executablePath = captureProcessPath();
    char* temporaryDirectory = temporaryDirectoryCopy();
    char* processId = processIdText();
    const char* directory = logDir[0] != 0 ? logDir : temporaryDirectory;
    bool result = false;
    if (executablePath != nullptr && directory != nullptr && processId != nullptr) {
        result = createLogFiles(directory, executablePath, modulePath, processId);
    }
    free(temporaryDirectory);
    free(processId);
    return result;
}

void closeLogFiles() {
    RecordWriterLockHolder lock;
    if (isLogFileOpen(rawLogFile)) {
        CloseHandle(rawLogFile);
        rawLogFile = nullptr;
    }
    if (isLogFileOpen(textLogFile)) {
        CloseHandle(textLogFile);
        textLogFile = nullptr;
    }
}

void endLeakLogAtTeardown(bool listEmpty) {
    endRecords(listEmpty);
}

void endLeakLogAfterRelease(bool listEmpty) {
    if (listEmpty) {
        endRecords(true);
    }
}

char* formatBlockRecord(const char* modulePath, const OVMemHdr* header, RecordType recordType) {
    char* line = static_cast<char*>(calloc(recordTextCapacity, 1));
    if (line == nullptr || modulePath == nullptr || header == nullptr) {
        return line;
    }
    char function[symbolTextCapacity] = "";
    char file[symbolTextCapacity] = "";
    DWORD lineNumber = 0;
    RecordWriterLockHolder lock; // the resolver has one lookup buffer for the whole module
    // Whatever the lookup found is printed, even when it found only part.
    lookupCallSite(header->caller, function, symbolTextCapacity, file, symbolTextCapacity, &lineNumber);
    const char* module = moduleNamePart(modulePath);
    int id = asSigned32(header->id);
    int size = asSigned32(header->size);
    bool printed;
    if (recordType == MemoryAccessViolationRecord || recordType == MemoryInUseRecord) {
        printed = formatBounded(line, recordTextCapacity,
                                "%s allocPtr=\"0x%X\" memHdrPtr=\"0x%X\" module=\"%s\" id=\"%d\" size=\"%d\" "
                                "function=\"%s\" file=\"%s\" line=\"%d\" overrun=\"%d\" underrun=\"%d\"\r\n",
                                recordType == MemoryInUseRecord ? "MemoryInUse" : "MemoryAccessViolation",
                                low32(header->allocPtr), low32(header), module, id, size, function, file,
                                static_cast<int>(lineNumber), header->overrun, header->underrun);
    } else {
        printed =
            formatBounded(line, recordTextCapacity,
                          "MemoryLeak module=\"%s\" id=\"%d\" size=\"%d\" release=\"%d\" function=\"%s\" "
                          "file=\"%s\" line=\"%d\" overrun=\"%d\" underrun=\"%d\"\r\n",
                          module, id, size, header->release, function, file, static_cast<int>(lineNumber),
                          header->overrun, header->underrun);
    }
    if (!printed) {
        free(line);
        return nullptr;
    }
    return line;
}

void writeReportLines(const char* lines, bool toTextLog) {
    if (lines == nullptr) {
        return;
    }
    RecordWriterLockHolder lock;
    DWORD written = 0;
    if (toTextLog && isLogFileOpen(textLogFile)) {
        WriteFile(textLogFile, lines, static_cast<DWORD>(strlen(lines)), &written, nullptr);
    }
    for (const char* line = lines; *line != 0;) {
        const char* end = strchr(line, '\n');
        size_t length = end != nullptr ? static_cast<size_t>(end - line) + 1 : strlen(line);
        writeDebugText(line, static_cast<DWORD>(length));
        line += length;
    }
}

void writeBlockRecord(const OVMemHdr* header, RecordType recordType, const CallStack* stack,
                      uint32_t sharedStackId) {
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
    char* details = formatRecordDetails(header, stack, sharedStackId);
    writeReportLines(details, true);
    free(details);
}
