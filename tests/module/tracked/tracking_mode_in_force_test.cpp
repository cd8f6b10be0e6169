// Runs inside the co-installer's test suite when the tracker's operators serve the whole test process:
// checks that the tracking mode that the run was started for (VRACOINS_EXPECTED_TRACK_MODE, seeded into
// the simulated registry with WINSIM_SEED) is the one in force. The selection happens at the process's
// first allocation, during static initialisation; a seed that arrived later would leave tracking off.
#include "memtrack/allocation_hooks.h"
#include "memtrack/track_config.h"
#include "memtrack/tracked_block.h"
#include "memtrack/tracked_pair.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

int expectedMode() {
    const char* text = std::getenv("VRACOINS_EXPECTED_TRACK_MODE");
    return text != nullptr ? std::atoi(text) : -2;
}

TEST(TrackingModeInForce, IsTheSeededMode) {
    int expected = expectedMode();
    ASSERT_NE(expected, -2)
        << "VRACOINS_EXPECTED_TRACK_MODE is not set: the run does not say which mode it tests";
    EXPECT_EQ(trackMode, expected) << "the tracking mode in force is not the seeded one";
}

TEST(TrackingModeInForce, HooksServeThisProcessWithTheModesPair) {
    int expected = expectedMode();
    AllocateFunction allocate = allocFn.load();
    ReleaseFunction release = releaseFn.load();
    if (expected >= TrackModeHeap) {
        EXPECT_EQ(allocate, &trackedAllocate)
            << "tracking is on, but the hooks do not allocate tracked blocks";
        EXPECT_EQ(release, &trackedRelease) << "tracking is on, but the hooks do not release tracked blocks";
    } else {
        EXPECT_EQ(allocate, &plainAllocate)
            << "tracking is off, but the hooks do not pass allocations through";
        EXPECT_EQ(release, &plainRelease) << "tracking is off, but the hooks do not pass releases through";
    }
}

TEST(TrackingModeInForce, AnAllocationOfTheTestIsABlockOfTheMode) {
    if (expectedMode() < TrackModeHeap) {
        GTEST_SKIP() << "tracking is off in this run: allocations carry no header";
    }
    auto text = std::make_unique<std::string>(100, 'x');
    OVMemBlock lookup;
    OVMemHdr* header = lookup.HeaderFromUserPtr(text.get());
    ASSERT_NE(header, nullptr) << "a new-expression of the test did not yield a tracked block";
    EXPECT_EQ(header->size, sizeof(std::string));
    EXPECT_EQ(header->allocKind, AllocKindScalar);
    int expectedSource = expectedMode() == TrackModePageGuarded ? BlockSourceVirtualPages
                         : trackHeap != nullptr                 ? BlockSourceTrackHeap
                                                                : BlockSourceRuntimeHeap;
    EXPECT_EQ(header->source, expectedSource) << "the block does not come from the mode's memory";
}

} // namespace
