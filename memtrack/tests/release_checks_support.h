// In-process tests of the tracked pair, the guard check, the in-use dump and the collector: the leak log's
// clean machine (drive C: on a fresh host directory, C:\Tools\host.exe, vracoins.dll holding the call
// sites) with a fresh tracker configuration and an empty live list under a living collector's lock.
#pragma once

#include "leak_log_test_support.h"
#include "memtrack/live_list.h"
#include "memtrack/tracked_block.h"
#include "memtrack/tracked_pair.h"
#include "tracker_test_support.h"

#include <string>

namespace release_checks_test {

class ReleaseChecksFixture : public leak_log_test::LeakLogFixture {
  protected:
    void SetUp() override {
        LeakLogFixture::SetUp();
        tracker_test::ResetTrackerState();
    }
    void TearDown() override {
        tracker_test::ResetTrackerState();
        LeakLogFixture::TearDown();
    }

    // A tracked block whose call site lies in vracoins.dll.
    unsigned char* Allocate(uint64_t size, int32_t kind = AllocKindScalar) {
        uint32_t id = 0;
        return static_cast<unsigned char*>(
            trackedAllocate(size, kind, const_cast<void*>(leak_log_test::libraryCode()), &id));
    }
    static void Release(void* userPtr, int32_t kind = AllocKindScalar) {
        void* location = userPtr;
        trackedRelease(&location, kind);
    }
    static OVMemHdr* HeaderOf(const void* userPtr) {
        OVMemBlock lookup;
        return lookup.HeaderFromUserPtr(const_cast<void*>(userPtr));
    }
    static size_t Occurrences(const std::string& text, const std::string& piece) {
        size_t count = 0;
        for (size_t at = text.find(piece); at != std::string::npos;
             at = text.find(piece, at + piece.size())) {
            ++count;
        }
        return count;
    }
    void UseLogDirectory() { std::strcpy(logDir, "C:\\Logs\\"); }
};

} // namespace release_checks_test
