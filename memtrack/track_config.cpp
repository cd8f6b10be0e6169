// Reading the tracker's switches. The key is looked for at every query until it is found; from then on
// the configuration is fixed until the module is loaded again.
#include "memtrack/track_config.h"

#include "memtrack/log_directory.h"
#include "memtrack/switches_key.h"
#include "platform/portability.h"

TrackMode trackMode = TrackModeUnread;
HANDLE trackHeap = nullptr;
uint64_t failSize = 0;
char logDir[logDirCapacity] = {};
volatile uint32_t breakOnAllocId = 0;

namespace {

// Set once the hooks' choice is made; written under that choice's one-time initialisation.
bool configurationFixed = false;

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
