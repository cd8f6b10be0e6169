// Runs the conformance checks on Windows or Wine (see tests/two_sided/windows_runner.h for the output).
#include "tests/two_sided/windows_runner.h"
#include "windows_world.h"

int main() {
    WindowsConformanceWorld world;
    const int failed = two_sided::RunChecks<ConformanceWorld>(world, "conformance");
    world.Clear();
    return failed;
}
