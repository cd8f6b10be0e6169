// The fixture of the behaviour checks, TEST_F(BehaviourCheck, Name): each test gets `world`, its side's
// world. Each side defines NewBehaviourWorld (the host simulation's world, or the world of the Windows
// services underneath) and BehaviourCheck::TearDown (on the host: no handle left open).
#pragma once

#include "behaviour_world.h"

#include "tests/two_sided/two_sided_test.h"

#include <memory>

std::unique_ptr<BehaviourWorld> NewBehaviourWorld();

class BehaviourCheck : public TwoSidedTest<BehaviourWorld, NewBehaviourWorld> {
  protected:
    void TearDown() override;
};
