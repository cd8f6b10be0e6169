// Built into the module only with ThreadSanitizer (VRACOINS_SANITIZE_THREAD). The sanitizer's run-time
// takes atexit() over for the whole process and runs what a shared library registers there at process
// exit, when the library has long been unloaded: the module's exit list (the collector's destruction,
// which writes the final report) would never run at unload, and then jump into unmapped code at exit.
// This definition is local to the module (its version script exports nothing else) and puts the module's
// registrations on the C++ run-time's per-library list instead, which dlclose runs, as glibc's own atexit
// does for a shared library and as a DLL's exit list runs at FreeLibrary.
#include <cstdint>

extern "C" {

extern void* __dso_handle;
int __cxa_atexit(void (*function)(void*), void* argument, void* library);

namespace {

void callRegistered(void* function) {
    reinterpret_cast<void (*)()>(reinterpret_cast<uintptr_t>(function))();
}

} // namespace

int atexit(void (*function)()) noexcept {
    return __cxa_atexit(callRegistered, reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(function)),
                        &__dso_handle);
}

} // extern "C"
