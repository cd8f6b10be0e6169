#include "memtrack/module_names.h"

#include "memtrack/bounded_text.h"
#include "memtrack/record_writer_lock.h"

#include <cstdint>
#include <cstdlib>

char* processPath = nullptr;
void* callerModuleBase = nullptr;
SIZE_T callerModuleSize = 0;
char* callerModulePath = nullptr;
char collectorModulePath[collectorModulePathCapacity] = {};

char* getModuleFileNameCopy(HMODULE module) {
    char* path = static_cast<char*>(calloc(modulePathCapacity, 1));
    if (path == nullptr) {
        return nullptr;
    }
    // A path that does not fit comes back cut, with the full capacity as the result.
    DWORD length = GetModuleFileNameA(module, path, modulePathCapacity);
    if (length == 0 || length >= modulePathCapacity) {
        free(path);
        return nullptr;
    }
    return path;
}

void refreshModuleRange(const void* address) {
    if (address == nullptr) {
        return;
    }
    uintptr_t at = reinterpret_cast<uintptr_t>(address);
    uintptr_t base = reinterpret_cast<uintptr_t>(callerModuleBase);
    if (base <= at && at - base < callerModuleSize) {
        return;
    }
    MEMORY_BASIC_INFORMATION information;
    if (VirtualQuery(address, &information, sizeof information) == sizeof information) {
        callerModuleBase = information.AllocationBase;
        callerModuleSize = information.RegionSize;
    }
}

const char* moduleNameForAddress(const void* address) {
    RecordWriterLockHolder lock;
    if (address == nullptr) {
        return callerModulePath;
    }
    void* previousBase = callerModuleBase;
    refreshModuleRange(address);
    // Also rebuilt when the teardown released the path while the range stayed: the records of releases
    // after teardown name the call site's own module, not whatever module the fallback below names.
    if (callerModuleBase != previousBase || (callerModulePath == nullptr && callerModuleBase != nullptr)) {
        free(callerModulePath);
        // A module's handle is its allocation base.
        callerModulePath = getModuleFileNameCopy(static_cast<HMODULE>(callerModuleBase));
    }
    if (callerModulePath == nullptr) {
        // Not a module (or its path could not be had): the records name the tracker's own module.
        callerModulePath = static_cast<char*>(calloc(modulePathCapacity, 1));
        if (callerModulePath != nullptr &&
            !copyTextBounded(callerModulePath, modulePathCapacity, collectorModulePath)) {
            free(callerModulePath);
            callerModulePath = nullptr;
        }
    }
    return callerModulePath;
}

bool captureCollectorModuleName() {
    HMODULE module = nullptr;
    // Any address inside this module's code names the module.
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&captureCollectorModuleName), &module)) {
        return false;
    }
    char* path = getModuleFileNameCopy(module);
    if (path == nullptr) {
        return false;
    }
    bool copied = copyTextBounded(collectorModulePath, sizeof collectorModulePath, path);
    free(path);
    return copied;
}

void releaseCachedModulePaths() {
    RecordWriterLockHolder lock;
    free(processPath);
    processPath = nullptr;
    free(callerModulePath);
    callerModulePath = nullptr;
}
