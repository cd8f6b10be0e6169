// The in-use dump: stops in the debugger so that a developer sees what was live when an allocation
// failed for the first time, when an allocation reached breakOnAllocId, or when pages could not be
// released.
#pragma once

void dumpInUse();
