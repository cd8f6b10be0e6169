// The module is loaded and unloaded many times in one process by the installation service: every unload
// must leave no critical section initialised and no file open, whether the run was clean, left blocks
// that are released after the final report, or damaged the guards of such a block.
#include "tests/module/module_lifecycle_support.h"

#include <cstddef>

using namespace lifecycle_test;

namespace {

class ModuleUnloadTest : public ModuleLifecycleFixture {
  protected:
    void SetUp() override {
        ModuleLifecycleFixture::SetUp();
        sectionsBefore = winsim::InitialisedCriticalSectionCount();
        handlesBefore = winsim::OpenKernelHandleCount();
    }

    // Critical sections and kernel handles that the module left behind, for `what`.
    void ExpectNothingLeftBehind(const std::string& what) {
        EXPECT_EQ(sectionsBefore, winsim::InitialisedCriticalSectionCount())
            << what << ": critical sections of the unloaded module are still initialised";
        EXPECT_EQ(handlesBefore, winsim::OpenKernelHandleCount())
            << what << ": handles of the unloaded module are still open";
    }

    size_t sectionsBefore = 0;
    size_t handlesBefore = 0;
};

TEST_F(ModuleUnloadTest, CleanRunsInEveryModeLeaveNoCriticalSectionInitialised) {
    for (DWORD mode : {0u, 1u, 2u, 3u, 4u}) {
        SetSwitches(mode);
        TestModule module;
        ASSERT_TRUE(module.Ready());
        unsigned char* scalar = module.Allocate(24);
        unsigned char* array = module.Allocate(40, arrayKind);
        module.release(scalar, scalarKind);
        module.release(array, arrayKind);
        module.Unload();
        ExpectNothingLeftBehind("mode " + std::to_string(mode));
    }
}

TEST_F(ModuleUnloadTest, RepeatedLoadsWithReleasesAfterTeardownLeaveNothingBehind) {
    SetSwitches(3);
    for (int cycle = 1; cycle <= 3; ++cycle) {
        std::filesystem::remove_all(root / "Logs");
        TestModule module;
        ASSERT_TRUE(module.Ready());
        ASSERT_TRUE(module.releasesFollowTheReport())
            << "the test build's exit handler does not follow the report";
        module.releaseAfterUnload(module.Allocate(10), scalarKind);
        module.releaseAfterUnload(module.Allocate(20, arrayKind), arrayKind);
        module.Unload();
        std::string output = winsim::DebugOutput();
        ASSERT_NE(std::string::npos, output.find(teardownClosing))
            << "cycle " << cycle << ": the releases after teardown did not run:\n"
            << output;
        winsim::ClearDebugOutput();
        ExpectNothingLeftBehind("cycle " + std::to_string(cycle));
    }
}

TEST_F(ModuleUnloadTest, DamagedLastReleaseAfterTeardownLeavesNoFileOpen) {
    for (DWORD mode : {2u, 3u, 4u}) {
        std::filesystem::remove_all(root / "Logs");
        SetSwitches(mode);
        TestModule module;
        ASSERT_TRUE(module.Ready());
        ASSERT_TRUE(module.releasesFollowTheReport());
        unsigned char* intact = module.Allocate(12);
        unsigned char* damaged = module.Allocate(10);
        damaged[10] ^= 0xFF;
        module.releaseAfterUnload(intact, scalarKind);
        module.releaseAfterUnload(damaged, scalarKind);
        module.Unload();
        std::string output = winsim::DebugOutput();
        size_t closing = output.find(teardownClosing);
        ASSERT_NE(std::string::npos, closing) << "mode " << mode << ":\n" << output;
        EXPECT_NE(std::string::npos, output.find("MemoryAccessViolation ", closing))
            << "mode " << mode << ": the damaged guard of the last release was not reported:\n"
            << output;
        winsim::ClearDebugOutput();
        ExpectNothingLeftBehind("mode " + std::to_string(mode));
    }
}

TEST_F(ModuleUnloadTest, LeaksNeverReleasedLeaveNoCriticalSectionInitialised) {
    SetSwitches(2);
    TestModule module;
    ASSERT_TRUE(module.Ready());
    module.Allocate(16); // never released: the module's heap goes with it
    module.Unload();
    EXPECT_NE(std::string::npos, winsim::DebugOutput().find(leakVerdict)) << winsim::DebugOutput();
    EXPECT_EQ(sectionsBefore, winsim::InitialisedCriticalSectionCount())
        << "the final report left a critical section initialised";
}

} // namespace
