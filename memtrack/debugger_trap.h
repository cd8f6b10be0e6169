// Breakpoint traps of the tracker.
#pragma once

// Stops in the debugger when one is attached. Without a debugger a breakpoint trap would end the host
// process (the device-installation service), which a developer's aid must never do, so it is then
// skipped; the caller's own handling of the fault goes on either way.
void breakIntoDebugger();
