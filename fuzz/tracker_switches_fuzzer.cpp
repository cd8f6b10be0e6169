// The tracker's switches as the tracker reads them when the module is loaded: TrackMemoryAllocation,
// TrackMemoryLogLocation, TrackMemoryFailSize and AppendTRVSymbolServerPath of any type and length, with
// the configuration state of a freshly loaded module each time. The mode, fail size and symbol-server
// switch are predicted from the input; the log directory must be a terminated path ending in a
// backslash, and the one given when it was narrow text.
//
// The log location names a directory that the reading creates. Every drive letter is mapped to a
// scratch directory of the input, removed after it, and no location may hold a '.', so that no input
// can reach outside it.
//
// Input: key present (flag), then for each switch a present flag, a type and a blob, then an armed
// failure (3 bytes).
#include "memtrack/track_config.h"
#include "simulated_world.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

using fuzz::Expect;

namespace {

const std::u16string switchesKey = u"SOFTWARE\\Orvale\\DIZadaridi";

// A DWORD switch as the tracker reads it: into 4 bytes that start at 0, whatever the type; a longer
// value is not read. Whether it was read, and the value.
bool ReadsAs(const fuzz::SeededValue& value, DWORD* number) {
    if (!value.present || value.data.size() > sizeof(DWORD)) {
        return false;
    }
    *number = 0;
    for (size_t i = 0; i < value.data.size(); ++i) {
        *number |= static_cast<DWORD>(value.data[i]) << (8 * i);
    }
    return true;
}

TrackMode ModeOf(DWORD value) {
    switch (value) {
    case 2:
        return TrackModePageGuarded;
    case 3:
        return TrackModeGuardedProcessHeap;
    case 4:
        return TrackModeGuardedRuntimeHeap;
    default:
        return TrackModeHeap;
    }
}

// A directory of this input's own that every drive letter names; removed with what the input made in it.
// (libFuzzer ends the process without running exit handlers, so nothing may outlive the input.)
class ScratchDrives {
  public:
    ScratchDrives() {
        std::string pattern = std::filesystem::temp_directory_path().string() + "/vracoins-fuzz.XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            fuzz::Fail("no scratch directory for the log locations");
        }
        directory_ = pattern;
        for (char letter = 'a'; letter <= 'z'; ++letter) {
            winsim::MapDrive(letter, directory_.string());
        }
    }
    ~ScratchDrives() {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
    ScratchDrives(const ScratchDrives&) = delete;
    ScratchDrives& operator=(const ScratchDrives&) = delete;

  private:
    std::filesystem::path directory_;
};

// The configuration of a module that has just been loaded.
void ForgetConfiguration() {
    trackMode = TrackModeUnread;
    trackHeap = nullptr;
    failSize = 0;
    std::memset(logDir, 0, sizeof logDir);
}

void CheckLogDirectory(const fuzz::SeededValue& location) {
    const char* terminator = static_cast<const char*>(std::memchr(logDir, 0, sizeof logDir));
    Expect(terminator != nullptr, "logDir is not terminated within its 260 bytes");
    size_t length = static_cast<size_t>(terminator - logDir);
    if (length == 0) {
        return;
    }
    Expect(logDir[length - 1] == '\\', "logDir does not end in a backslash: " + std::string(logDir));
    // Narrow text (neither of its first two bytes zero) is taken as it stands, unless the temporary
    // directory replaced it.
    const winsim::Bytes& data = location.data;
    if (data.size() >= 2 && data[0] != 0 && data[1] != 0) {
        std::string given(data.begin(), data.end());
        given = given.substr(0, given.find('\0')) + "\\";
        char temporary[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temporary);
        Expect(given == logDir || std::string(temporary) == logDir,
               "logDir " + std::string(logDir) + " is neither the location nor the temporary directory");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput input(data, size);
    ScratchDrives drives;
    fuzz::StartInput();
    ForgetConfiguration();

    bool keyPresent = input.Flag();
    fuzz::SeededValue allocation = fuzz::ReadSeededValue(input, input.Flag());
    fuzz::SeededValue location = fuzz::ReadSeededValue(input, input.Flag());
    for (BYTE& byte : location.data) {
        if (byte == '.') {
            byte = '_';
        }
    }
    fuzz::SeededValue limit = fuzz::ReadSeededValue(input, input.Flag());
    fuzz::SeededValue symbolServer = fuzz::ReadSeededValue(input, input.Flag());
    if (keyPresent) {
        winsim::CreateKey(HKEY_LOCAL_MACHINE, switchesKey);
        const std::pair<const char16_t*, const fuzz::SeededValue*> switches[] = {
            {u"TrackMemoryAllocation", &allocation},
            {u"TrackMemoryLogLocation", &location},
            {u"TrackMemoryFailSize", &limit},
            {u"AppendTRVSymbolServerPath", &symbolServer},
        };
        for (const auto& entry : switches) {
            if (entry.second->present) {
                winsim::SetValue(HKEY_LOCAL_MACHINE, switchesKey, entry.first, entry.second->type,
                                 entry.second->data);
            }
        }
    }
    bool failureArmed = fuzz::ArmFailure(input, {"RegOpenKeyExW", "RegQueryValueExW", "CreateDirectoryA",
                                                 "GetTempPathA", "WideCharToMultiByte"});

    bool tracking = isTrackingOn();
    bool appendSymbolServer = readAppendSymbolServerPath();
    winsim::ClearFailures();
    fuzz::ExpectNothingLeftOpen("reading the switches");
    Expect(tracking == (trackMode >= TrackModeHeap), "isTrackingOn disagrees with the mode");
    Expect(failSize == 0 || tracking, "a fail size was read with tracking off");
    Expect(tracking || logDir[0] == 0, "a log location was read with tracking off");
    CheckLogDirectory(location);

    if (!failureArmed) {
        DWORD value = 0;
        TrackMode expectedMode = !keyPresent                                  ? TrackModeUnread
                                 : !ReadsAs(allocation, &value) || value == 0 ? TrackModeOff
                                                                              : ModeOf(value);
        Expect(trackMode == expectedMode, "TrackMemoryAllocation gave mode " + std::to_string(trackMode) +
                                              ", expected " + std::to_string(expectedMode));
        bool processHeap = expectedMode == TrackModeHeap || expectedMode == TrackModeGuardedProcessHeap;
        Expect(trackHeap == (processHeap ? GetProcessHeap() : nullptr), "the mode's heap was not chosen");
        DWORD expectedLimit = 0;
        if (expectedMode >= TrackModeHeap && !ReadsAs(limit, &expectedLimit)) {
            expectedLimit = 0;
        }
        Expect(failSize == (expectedMode >= TrackModeHeap ? expectedLimit : 0),
               "TrackMemoryFailSize gave " + std::to_string(failSize));
        DWORD append = 0;
        Expect(appendSymbolServer == (keyPresent && ReadsAs(symbolServer, &append) && append != 0),
               "AppendTRVSymbolServerPath read as " + std::to_string(appendSymbolServer));
        if (expectedMode >= TrackModeHeap && !location.present) {
            Expect(logDir[0] == 0, "a missing log location gave a directory");
        }
    }
    return 0;
}
