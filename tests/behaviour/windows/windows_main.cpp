// Runs the behaviour checks on Windows or Wine (see tests/two_sided/windows_runner.h for the output).
#include "tests/two_sided/windows_runner.h"
#include "windows_world.h"

int main() {
    WindowsWorld world;
    return two_sided::RunChecks<BehaviourWorld>(world, "behaviour");
}
