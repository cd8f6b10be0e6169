// Every test-facing control header of the simulation, for tests and test tools that seed the simulated
// Windows world, read back what the code under test did to it, and arm failures in it.
#pragma once

#include "winsim/control/devices.h"
#include "winsim/control/kernel.h"
#include "winsim/control/modules.h"
#include "winsim/control/registry.h"
#include "winsim/control/spooler.h"
#include "winsim/control/world.h"
