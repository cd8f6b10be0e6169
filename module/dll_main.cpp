// Process attach and detach handler. The module keeps no per-process or per-thread state of its own, so
// there is nothing to set up or tear down here.
#include "platform/platform.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
