// The in-use dump: lists every live block on the debugger output, one "MemoryInUse" record each, and a
// summary line with their count and total size, so that a developer sees what was live when an allocation
// failed for the first time, when an allocation reached breakOnAllocId, or when pages could not be
// released. It stops in the debugger first when one is attached. Nothing goes to the log files.
//
// It takes collectorLock (setting it up if needed) and then the record writer lock for its whole walk:
// never call it while holding either. Without a collector (after its teardown) it deletes both when done.
#pragma once

void dumpInUse();
