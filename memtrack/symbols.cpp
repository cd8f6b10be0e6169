// The symbol resolver and the module paths that the records name.
#include "memtrack/symbols.h"

#include "memtrack/debug_text.h"
#include "memtrack/track_config.h"
#include "platform/portability.h"
#include "platform/system_library.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#ifndef VRACOINS_SYMBOL_STORE_SHARE
#error "VRACOINS_SYMBOL_STORE_SHARE, the symbol store share, is set by memtrack/symbol_resolution.cmake"
#endif

HANDLE symbolProcess = nullptr;
HMODULE debugHelpLibrary = nullptr;
alignas(SYMBOL_INFO) unsigned char symbolInfoBuffer[symbolInfoBufferSize];
CDbgHelp* symbolResolver = nullptr;
char* processPath = nullptr;
void* callerModuleBase = nullptr;
SIZE_T callerModuleSize = 0;
char* callerModulePath = nullptr;
char collectorModulePath[collectorModulePathCapacity] = {};

namespace {

// A symbol server with the local download cache c:\localsymbols, in front of the organisation's store.
const char symbolServerElement[] = "srv*c:\\localsymbols*" VRACOINS_SYMBOL_STORE_SHARE;

// Undecorated names, symbols loaded on first use, and diagnostics on the debugger output. Line numbers
// must be asked for: without SYMOPT_LOAD_LINES dbghelp reports no file and line at all.
constexpr DWORD symbolOptions = SYMOPT_UNDNAME | SYMOPT_DEFERRED_LOADS | SYMOPT_LOAD_LINES | SYMOPT_DEBUG;
static_assert(symbolOptions == 0x80000016, "symbol options");

// Invading the process reads its list of loaded modules out of its memory.
constexpr DWORD symbolProcessAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

constexpr DWORD searchPathCapacity = 512;

// The functions of the debug-help library that the resolver calls, as debugHelpLibrary hands them out.
#define DEBUG_HELP_FUNCTIONS(F)                                                                              \
    F(SymGetOptions)                                                                                         \
    F(SymSetOptions)                                                                                         \
    F(SymInitialize)                                                                                         \
    F(SymCleanup) F(SymFromAddr) F(SymGetLineFromAddr64) F(SymGetSearchPath) F(SymSetSearchPath)
struct DebugHelpFunctions {
    DEBUG_HELP_FUNCTIONS(VRA_SYSTEM_FUNCTION)
};
DebugHelpFunctions debugHelp = {};

bool findDebugHelp(HMODULE library, DebugHelpFunctions* found) {
    return true DEBUG_HELP_FUNCTIONS(VRA_FIND_SYSTEM_FUNCTION);
}

// Loads the library from the system directory unless it is loaded.
bool loadDebugHelp() {
    if (debugHelpLibrary == nullptr) {
        debugHelpLibrary = LoadSystemFunctions(W("dbghelp.dll"), &debugHelp, findDebugHelp);
    }
    return debugHelpLibrary != nullptr;
}

void freeDebugHelp() {
    if (debugHelpLibrary != nullptr) {
        debugHelp = DebugHelpFunctions{};
        FreeLibrary(debugHelpLibrary);
        debugHelpLibrary = nullptr;
    }
}

// Copies text and its terminator only when the whole of it fits.
void copyWhole(char* destination, size_t capacity, const char* text) {
    size_t length = strlen(text);
    if (length < capacity) {
        memcpy(destination, text, length + 1);
    }
}

} // namespace

void* CDbgHelp::operator new(size_t size) noexcept {
    return malloc(size);
}

void CDbgHelp::operator delete(void* storage) noexcept {
    free(storage);
}

CDbgHelp::~CDbgHelp() {
    if (symbolProcess != nullptr) {
        debugHelp.SymCleanup(symbolProcess);
        CloseHandle(symbolProcess);
        symbolProcess = nullptr;
    }
    freeDebugHelp();
}

bool CDbgHelp::initialize() {
    if (symbolProcess != nullptr || !loadDebugHelp()) {
        return false;
    }
    debugHelp.SymSetOptions(debugHelp.SymGetOptions() | symbolOptions);
    symbolProcess = OpenProcess(symbolProcessAccess, FALSE, GetCurrentProcessId());
    if (symbolProcess == nullptr) {
        return false;
    }
    if (debugHelp.SymInitialize(symbolProcess, nullptr, TRUE)) {
        return true;
    }
    CloseHandle(symbolProcess);
    symbolProcess = nullptr;
    return false;
}

bool CDbgHelp::lookup(DWORD64 address, char* function, size_t functionCapacity, char* file,
                      size_t fileCapacity, DWORD* line) {
    if (symbolProcess == nullptr) {
        initialize();
        if (symbolProcess == nullptr) {
            return false;
        }
    }
    if (function == nullptr || file == nullptr || line == nullptr || functionCapacity == 0 ||
        fileCapacity == 0) {
        return false;
    }
    memset(symbolInfoBuffer, 0, sizeof(symbolInfoBuffer));
    SYMBOL_INFO* symbol = reinterpret_cast<SYMBOL_INFO*>(symbolInfoBuffer);
    symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
    symbol->MaxNameLen = symbolNameCapacity;
    *line = 0;
    DWORD64 symbolDisplacement = 0;
    file[0] = '\0';
    if (!debugHelp.SymFromAddr(symbolProcess, address, &symbolDisplacement, symbol)) {
        return false;
    }
    if (symbol->Name[0] != '\0') {
        copyWhole(function, functionCapacity, symbol->Name);
    }

    IMAGEHLP_LINE64 source;
    memset(&source, 0, sizeof(source));
    source.SizeOfStruct = sizeof(source);
    DWORD lineDisplacement = 0;
    if (debugHelp.SymGetLineFromAddr64(symbolProcess, address, &lineDisplacement, &source)) {
        *line = source.LineNumber;
        if (source.FileName != nullptr) {
            copyWhole(file, fileCapacity, source.FileName);
        }
    }
    return function[0] != '\0' && file[0] != '\0' && *line != 0;
}

bool CDbgHelp::appendSymbolServerPath() {
    if (symbolProcess == nullptr) {
        return false;
    }
    char* combinedPath = static_cast<char*>(malloc(searchPathCapacity));
    char* currentPath = static_cast<char*>(malloc(searchPathCapacity));
    bool appended = false;
    if (combinedPath != nullptr && currentPath != nullptr &&
        debugHelp.SymGetSearchPath(symbolProcess, currentPath, searchPathCapacity) &&
        safeFormat(combinedPath, searchPathCapacity, "%s;%s", currentPath, symbolServerElement) == S_OK) {
        appended = debugHelp.SymSetSearchPath(symbolProcess, combinedPath) != FALSE;
    }
    free(combinedPath);
    free(currentPath);
    return appended;
}

void lookupCallSite(const void* returnAddress, char* function, size_t functionCapacity, char* file,
                    size_t fileCapacity, DWORD* line) {
    if (symbolResolver != nullptr) {
        DWORD64 callSite = reinterpret_cast<DWORD64>(returnAddress);
        symbolResolver->lookup(callSite != 0 ? callSite - 1 : 0, function, functionCapacity, file,
                               fileCapacity, line);
    }
}

void setUpSymbolResolver() {
    if (symbolResolver != nullptr) {
        return;
    }
    symbolResolver = new CDbgHelp;
    if (symbolResolver == nullptr) {
        return;
    }
    if (!symbolResolver->initialize()) {
        delete symbolResolver;
        symbolResolver = nullptr;
        return;
    }
    if (readAppendSymbolServerPath() && symbolProcess != nullptr) {
        // Without the server the symbols of the local search path still serve.
        symbolResolver->appendSymbolServerPath();
    }
}

void endSymbolResolver() {
    if (symbolResolver != nullptr) {
        delete symbolResolver;
        symbolResolver = nullptr;
    }
}

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

bool moduleFileNameOf(const void* address, char* name, size_t capacity, uintptr_t* base) {
    MEMORY_BASIC_INFORMATION information;
    if (VirtualQuery(address, &information, sizeof information) != sizeof information ||
        information.Type != MEM_IMAGE || information.AllocationBase == nullptr) {
        return false;
    }
    char* path = getModuleFileNameCopy(static_cast<HMODULE>(information.AllocationBase));
    if (path == nullptr) {
        return false;
    }
    const char* separator = strrchr(path, '\\');
    const char* fileName = separator != nullptr ? separator + 1 : path;
    bool fits = strlen(fileName) < capacity;
    if (fits) {
        copyTextBounded(name, capacity, fileName);
        *base = reinterpret_cast<uintptr_t>(information.AllocationBase);
    }
    free(path);
    return fits;
}

const char* captureProcessPath() {
    if (processPath == nullptr) {
        processPath = getModuleFileNameCopy(nullptr);
    }
    return processPath;
}

char* ownModulePathCopy() {
    HMODULE module = nullptr;
    // Any address inside this module's code names the module.
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&ownModulePathCopy), &module)) {
        return nullptr;
    }
    return getModuleFileNameCopy(module);
}

bool captureCollectorModuleName() {
    char* path = ownModulePathCopy();
    if (path == nullptr) {
        return false;
    }
    bool copied = copyTextBounded(collectorModulePath, sizeof collectorModulePath, path);
    free(path);
    return copied;
}

void releaseCachedModulePaths() {
    free(processPath);
    processPath = nullptr;
    free(callerModulePath);
    callerModulePath = nullptr;
}
