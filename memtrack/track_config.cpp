// Reading the tracker's switches. The key is looked for at every query until it is found; from then on
// the configuration is fixed until the module is loaded again.
#include "memtrack/track_config.h"

#include "platform/portability.h"

#include <cstring>

TrackMode trackMode = TrackModeUnread;
HANDLE trackHeap = nullptr;
uint64_t failSize = 0;
char logDir[logDirCapacity] = {};
uint32_t stackDepth = 0;
uint32_t dataBytes = 0;
volatile uint32_t breakOnAllocId = 0;

namespace {

// Set once the hooks' choice is made; written under that choice's one-time initialisation.
bool configurationFixed = false;

// Room for the longest location that the 260-byte value can hold as UTF-16, and a terminator that the
// value itself may lack.
constexpr size_t wideCopyCapacity = logDirCapacity / sizeof(WCHAR) + 1;

// Opens the switches' key for reading; null when it cannot be opened. The caller closes it.
HKEY openSwitchesKey() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, W("SOFTWARE\\Orvale\\DIZadaridi"), 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

// Reads a switch into 4 bytes without checking the value's type: a value of another type that fits is
// read as it stands, one that does not fit fails. `value` changes only on success.
bool querySwitch(HKEY key, LPCWSTR name, DWORD* value) {
    DWORD data = 0;
    DWORD dataLength = sizeof data;
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(&data), &dataLength) !=
        ERROR_SUCCESS) {
        return false;
    }
    *value = data;
    return true;
}

// The log directory that the tracker creates: full control for SYSTEM and the administrators, nobody else,
// and nothing looser inherited from the parent (the DACL is protected).
const WCHAR logDirectorySecurity[] = W("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");

// Creates the directory with logDirectorySecurity. Fails, leaving the last error of the step that failed,
// when the descriptor cannot be built: a directory open to everyone is never made.
BOOL createLogDirectory(const char* path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(logDirectorySecurity, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return FALSE;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    BOOL created = CreateDirectoryA(path, &attributes);
    DWORD error = GetLastError();
    LocalFree(descriptor);
    SetLastError(error);
    return created;
}

void clearLogDir() {
    std::memset(logDir, 0, sizeof logDir);
}

// Converts the UTF-16 location held in logDir to narrow text in place. `dataLength` is what the query
// returned.
void convertWideLocation(DWORD dataLength) {
    WCHAR copy[wideCopyCapacity] = {};
    std::memcpy(copy, logDir, sizeof logDir);
    std::memset(logDir, 0, dataLength);
    int length = 0;
    while (copy[length] != 0) {
        ++length;
    }
    if (length > 0) {
        // One byte short of the buffer, so that the result always keeps its terminator.
        WideCharToMultiByte(CP_ACP, WC_COMPOSITECHECK, copy, length, logDir,
                            static_cast<int>(logDirCapacity - 1), nullptr, nullptr);
    }
}

// Appends the directory separator. A location that leaves no room for it (or that has no terminator
// within the buffer) cannot name the directory: logDir is then emptied, as a failed strcat_s leaves it.
bool appendBackslash() {
    const void* terminator = std::memchr(logDir, 0, sizeof logDir);
    if (terminator == nullptr) {
        return false;
    }
    size_t length = static_cast<size_t>(static_cast<const char*>(terminator) - logDir);
    if (length + 2 > sizeof logDir) {
        return false;
    }
    logDir[length] = '\\';
    logDir[length + 1] = 0;
    return true;
}

// Fills logDir from "TrackMemoryLogLocation" under the open switches key. The location may be stored as
// UTF-16 (REG_SZ) or as narrow bytes (REG_BINARY written by hand); it is told apart by its first two bytes,
// since a UTF-16 path whose first character is below U+0100 has a zero byte among them and a narrow path
// does not. The value's type is deliberately not consulted.
void readLogDirectory(HKEY switchesKey) {
    clearLogDir();
    DWORD dataLength = sizeof logDir;
    if (RegQueryValueExW(switchesKey, W("TrackMemoryLogLocation"), nullptr, nullptr,
                         reinterpret_cast<LPBYTE>(logDir), &dataLength) != ERROR_SUCCESS) {
        // A value too long for the buffer leaves its contents undefined.
        clearLogDir();
        return;
    }
    if (dataLength > sizeof logDir) {
        dataLength = sizeof logDir;
    }
    if (logDir[0] == 0 || logDir[1] == 0) {
        convertWideLocation(dataLength);
    }
    SetLastError(0);
    if (!appendBackslash()) {
        clearLogDir();
        return;
    }
    // Only the last level is created; a missing parent sends the logs to the temporary directory. A
    // directory that exists already is used as it is.
    if (!createLogDirectory(logDir) && GetLastError() == ERROR_PATH_NOT_FOUND) {
        DWORD length = GetTempPathA(logDirCapacity - 1, logDir);
        if (length == 0 || length >= logDirCapacity - 1) {
            clearLogDir();
        }
    }
}

void applyTrackingSwitch(DWORD value) {
    switch (value) {
    case TrackModePageGuarded:
        trackMode = TrackModePageGuarded;
        trackHeap = nullptr;
        break;
    case TrackModeGuardedProcessHeap:
        trackMode = TrackModeGuardedProcessHeap;
        trackHeap = GetProcessHeap();
        break;
    case TrackModeGuardedRuntimeHeap:
        trackMode = TrackModeGuardedRuntimeHeap;
        trackHeap = nullptr;
        break;
    default:
        // 1 and every value that names no mode.
        trackMode = TrackModeHeap;
        trackHeap = GetProcessHeap();
        break;
    }
}

// A switch that counts something up to `limit`: absent or 0 is none, larger values mean the limit.
uint32_t readBoundedSwitch(HKEY key, LPCWSTR name, uint32_t limit) {
    DWORD value = 0;
    if (!querySwitch(key, name, &value)) {
        return 0;
    }
    return value < limit ? value : limit;
}

void readTrackingConfiguration() {
    HKEY key = openSwitchesKey();
    if (key == nullptr) {
        return;
    }
    trackMode = TrackModeOff;
    DWORD tracking = 0;
    if (querySwitch(key, W("TrackMemoryAllocation"), &tracking) && tracking != 0) {
        applyTrackingSwitch(tracking);
        readLogDirectory(key);
        DWORD limit = 0;
        if (querySwitch(key, W("TrackMemoryFailSize"), &limit) && limit != 0) {
            failSize = limit;
        }
        stackDepth = readBoundedSwitch(key, W("TrackMemoryStackDepth"), maxStackDepth);
        dataBytes = readBoundedSwitch(key, W("TrackMemoryDataBytes"), maxDataBytes);
    }
    RegCloseKey(key);
}

} // namespace

void fixTrackingConfiguration() {
    configurationFixed = true;
}

bool isTrackingOn() {
    if (trackMode == TrackModeUnread && !configurationFixed) {
        readTrackingConfiguration();
    }
    if ((trackMode == TrackModeHeap || trackMode == TrackModeGuardedProcessHeap) && trackHeap == nullptr) {
        trackHeap = GetProcessHeap();
    }
    return trackMode >= TrackModeHeap;
}

bool readAppendSymbolServerPath() {
    HKEY key = openSwitchesKey();
    if (key == nullptr) {
        return false;
    }
    // A value longer than four bytes fails the query and counts as off.
    DWORD value = 0;
    bool append = querySwitch(key, W("AppendTRVSymbolServerPath"), &value) && value != 0;
    RegCloseKey(key);
    return append;
}
