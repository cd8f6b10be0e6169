// The behaviour checks' fixture over the host simulation: each test in a simulated world of its own, which
// must be left with no registry or printer handle open.
#include "simulated_world.h"
#include "tests/behaviour/behaviour_check.h"

#include "winsim/control/all.h"

std::unique_ptr<BehaviourWorld> NewBehaviourWorld() {
    return std::make_unique<SimulatedWorld>();
}

void BehaviourCheck::TearDown() {
    if (IsSkipped()) {
        return;
    }
    world.UnloadModule();
    EXPECT_EQ(0u, winsim::OpenKeyCount()) << "the check left registry handles open";
    EXPECT_EQ(0u, winsim::OpenPrinterCount()) << "the check left printer handles open";
}
