#include "memtrack/debugger_trap.h"

#include "platform/platform.h"
#include "platform/portability.h"

void breakIntoDebugger() {
    if (IsDebuggerPresent()) {
        VRA_BREAKPOINT();
    }
}
