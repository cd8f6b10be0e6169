// Creation, announcement and closing of the two log files.
#include "memtrack/leak_log.h"

#include "memtrack/bounded_text.h"
#include "memtrack/collector.h"
#include "memtrack/debug_text.h"
#include "memtrack/module_names.h"
#include "memtrack/record_writer_lock.h"
#include "memtrack/track_config.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

HANDLE rawLogFile = nullptr;
HANDLE textLogFile = nullptr;

namespace {

constexpr char leakReportBanner[] = "\r\n******* Leak Report *******\r\n";
static_assert(sizeof leakReportBanner - 1 == 31, "the text log file begins with a 31-byte banner");

// 519 characters and the terminator. A deeper directory with long executable and module names does not
// fit, and the record that needed the files is dropped.
constexpr size_t logFileNameCapacity = 520;
constexpr DWORD tempPathCapacity = 259;
constexpr size_t scratchCapacity = MAX_PATH;

bool isHandleSet(HANDLE handle) {
    return handle != nullptr;
}

// The part of a path after its last backslash, or none when it holds no backslash.
const char* fileNamePart(const char* path) {
    const char* separator = strrchr(path, '\\');
    return separator == nullptr ? nullptr : separator + 1;
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

// The names carry the time in whole seconds, so a pair started in the same second as a closed one (a
// release after teardown that empties the list, then its access-violation record) has the same names.
// Opening for append keeps the records already there; whole records only are ever written, so the raw
// record file stays a sequence of headers.
HANDLE createLogFile(const char* name) {
    return CreateFileA(name, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

bool createLogFiles(const char* directory, const char* modulePath, const char* processId) {
    const char* executableName = fileNamePart(processPath);
    const char* moduleName = fileNamePart(modulePath);
    if (executableName == nullptr || moduleName == nullptr) {
        return false;
    }
    // The names carry the time's low 32 bits, printed as a signed number.
    int32_t now = static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(time(nullptr))));
    char* rawName = buildLogFileName(directory, executableName, moduleName, processId, now, "");
    char* textName = buildLogFileName(directory, executableName, moduleName, processId, now, ".log");
    bool result = false;
    if (rawName != nullptr && textName != nullptr) {
        rawLogFile = createLogFile(rawName);
        textLogFile = createLogFile(textName);
        if (isLogFileOpen(textLogFile)) {
            // Also when the file was there already: each opening starts a section of the report.
            DWORD written = 0;
            WriteFile(textLogFile, leakReportBanner, sizeof leakReportBanner - 1, &written, nullptr);
        }
        if (moduleCollector != nullptr) {
            noteLeakLogPath(textName);
        }
        result = isHandleSet(rawLogFile) && isHandleSet(textLogFile);
    }
    free(rawName);
    free(textName);
    return result;
}

} // namespace

bool openLogFiles(const char* modulePath) {
    RecordWriterLockHolder lock;
    // A failed creation leaves the invalid-handle value, which counts as set: it is not tried again.
    if (isHandleSet(rawLogFile) && isHandleSet(textLogFile)) {
        return true;
    }
    if (modulePath == nullptr) {
        return false;
    }
    if (processPath == nullptr) {
        processPath = getModuleFileNameCopy(nullptr);
    }
    char* temporaryDirectory = temporaryDirectoryCopy();
    char* processId = processIdText();
    const char* directory = logDir[0] != 0 ? logDir : temporaryDirectory;
    bool result = false;
    if (processPath != nullptr && directory != nullptr && processId != nullptr) {
        result = createLogFiles(directory, modulePath, processId);
    }
    free(temporaryDirectory);
    free(processId);
    return result;
}

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
