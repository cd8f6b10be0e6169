// Shared set-up of the tracker's tests: a fresh simulated machine and a fresh tracker configuration.
#pragma once

#include "memtrack/live_list.h"
#include "memtrack/track_config.h"
#include "memtrack/tracked_block.h"
#include "memtrack/tracked_pair.h"
#include "winsim/control/all.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace tracker_test {

const std::u16string switchesKey = u"SOFTWARE\\Orvale\\DIZadaridi";

// The configuration and counters as a freshly loaded module has them.
inline void ResetTrackerState() {
    trackMode = TrackModeUnread;
    trackHeap = nullptr;
    failSize = 0;
    stackDepth = 0;
    dataBytes = 0;
    std::memset(logDir, 0, sizeof logDir);
    breakOnAllocId = 0;
    allocCounter = 0;
    pageSize.store(1);
    heapFailureSeen = 0;
    pageFailureSeen = 0;
    // A collector is alive: the list is empty and guarded by its lock, and no debugger has been asked for.
    liveHead = nullptr;
    liveTail = nullptr;
    freeLiveIndex();
    collectorLock.setUp();
    collectorTornDown = false;
    teardownBannerPending = false;
    debuggerChecked = false;
    debuggerPresent = false;
}

// The configuration that reading the switches leaves for `mode`.
inline void UseMode(TrackMode mode) {
    trackMode = mode;
    trackHeap = (mode == TrackModeHeap || mode == TrackModeGuardedProcessHeap) ? GetProcessHeap() : nullptr;
}

inline void SetSwitch(const std::u16string& name, DWORD value) {
    winsim::SetDwordValue(HKEY_LOCAL_MACHINE, switchesKey, name, value);
}

class TrackerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        winsim::Reset();
        winsim::ResetKernelServices();
        ResetTrackerState();
    }
    void TearDown() override {
        winsim::ResetKernelServices();
        ResetTrackerState();
    }
};

} // namespace tracker_test
