// Runs the behaviour checks over the host simulation, one gtest per check.
#include "simulated_world.h"
#include "tests/two_sided/gtest_runner.h"

#include "winsim/control/all.h"

namespace {

using BehaviourCheck = NamedCheck<BehaviourWorld>;

class Behaviour : public ::testing::TestWithParam<BehaviourCheck> {};

TEST_P(Behaviour, OverTheSimulation) {
    SimulatedWorld world;
    BehaviourWorld& side = world;
    if (!two_sided::RunCheckUnderGtest(GetParam(), side)) {
        GTEST_SKIP() << two_sided::SkipReason();
    }
    world.UnloadModule();
    EXPECT_EQ(0u, winsim::OpenKeyCount()) << "the check left registry handles open";
    EXPECT_EQ(0u, winsim::OpenPrinterCount()) << "the check left printer handles open";
}

INSTANTIATE_TEST_SUITE_P(CoInstallerAndTracker, Behaviour, ::testing::ValuesIn(ChecksOf<BehaviourWorld>()),
                         two_sided::CheckName<BehaviourWorld>);

} // namespace
