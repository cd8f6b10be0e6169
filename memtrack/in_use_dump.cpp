// For now the dump is the breakpoint alone; the listing of the live blocks joins it with the live-block
// list.
#include "memtrack/in_use_dump.h"

#include "memtrack/debugger_trap.h"

void dumpInUse() {
    breakIntoDebugger();
}
