// The behaviour checks' fixture on Windows or Wine: each test in the world of the real services, cleared
// before the test and again after it.
#include "tests/behaviour/behaviour_check.h"
#include "windows_world.h"

std::unique_ptr<BehaviourWorld> NewBehaviourWorld() {
    return std::make_unique<WindowsWorld>();
}

void BehaviourCheck::TearDown() {
    world.Clear();
}
