// What the records name: call-site symbol resolution (function name, source file and line of a code
// address, through the debug-help library's symbol handler for this process) and the paths of the modules
// involved (the process executable, the module that holds a call site, the tracker's own module).
//
// The debug-help library (dbghelp.dll) is not imported: it is no Known DLL, so a copy beside the host
// program would be taken in its place. The resolver loads it from the system directory when the symbol
// handler is first set up, which only tracking does, and frees it when it ends.
//
// The resolver's lookups share one symbol buffer and the module paths are cached in module-wide state:
// callers hold the record writer lock (leak_log.h) around them. All buffers come from the run-time heap,
// never through the module's allocation hooks.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <cstdint>

// SYMBOL_INFO as SymFromAddr fills it: the fixed part, then room for a name of up to
// symbolNameCapacity characters.
constexpr size_t symbolInfoBufferSize = 4088;
constexpr ULONG symbolNameCapacity = 2000;
static_assert(sizeof(SYMBOL_INFO) + symbolNameCapacity <= symbolInfoBufferSize,
              "the symbol buffer holds the record and the name it offers");

// The process handle under which the symbol handler is initialised; null while it is not.
extern HANDLE symbolProcess;
// The debug-help library loaded from the system directory, while the resolver holds it; otherwise null.
extern HMODULE debugHelpLibrary;
// The one SYMBOL_INFO record of the module, 8-byte aligned.
extern unsigned char symbolInfoBuffer[symbolInfoBufferSize];

// The resolver object holds nothing; the handler's state is module-wide.
class CDbgHelp {
  public:
    CDbgHelp() = default;
    CDbgHelp(const CDbgHelp&) = delete;
    CDbgHelp& operator=(const CDbgHelp&) = delete;
    // Ends the symbol handler, closes its process handle and frees the debug-help library.
    virtual ~CDbgHelp();

    // Storage from the run-time heap, not through the module's allocation hooks, so that the tracker
    // never tracks itself. Null when none can be had.
    static void* operator new(size_t size) noexcept;
    static void operator delete(void* storage) noexcept;

    // True when this call initialised the symbol handler; false when it was initialised already (nothing
    // changes) or cannot be initialised (no handle is kept): the debug-help library cannot be loaded from
    // the system directory, lacks one of the functions the resolver calls, or the handler fails. The
    // library, once loaded, stays until the resolver is deleted.
    bool initialize();

    // Function name, source file path and line of a code address, into the caller's buffers (the caller
    // empties function beforehand). True only when all three were found; the outputs are filled as far as
    // the lookup got. A name or path that does not fit whole is not copied at all. Initialises the handler
    // when needed; when that fails, or an output is missing, returns false with the outputs untouched.
    bool lookup(DWORD64 address, char* function, size_t functionCapacity, char* file, size_t fileCapacity,
                DWORD* line);

    // Appends the organisation's symbol server to the handler's search path. True when the search path
    // now ends with it; false, with the path unchanged, when the handler is not initialised, the path
    // cannot be read or set, or the combined path would not fit 511 characters.
    bool appendSymbolServerPath();
};

// The one symbol resolver, or none (tracking off, or it could not be set up).
extern CDbgHelp* symbolResolver;

// The call site that returns to `returnAddress`, through symbolResolver (nothing without one), as
// CDbgHelp::lookup fills the outputs. A return address may already belong to the next statement in
// optimised code: the byte before it lies in the call itself, whose line is the one that made the call.
void lookupCallSite(const void* returnAddress, char* function, size_t functionCapacity, char* file,
                    size_t fileCapacity, DWORD* line);

// Sets up symbolResolver unless there is one, with the symbol server appended when its switch is on;
// leaves none when the handler cannot be initialised.
void setUpSymbolResolver();
// Deletes symbolResolver, ending the symbol handler (the collector's teardown).
void endSymbolResolver();

// Size of every module path buffer: MAX_PATH, the longest path GetModuleFileNameA hands back whole.
constexpr DWORD modulePathCapacity = MAX_PATH;
constexpr size_t collectorModulePathCapacity = 512;

// Full path of the process executable, or none; filled on first need, freed by the collector's teardown.
extern char* processPath;
// Allocation base and region size of the last successful VirtualQuery; never reset.
extern void* callerModuleBase;
extern SIZE_T callerModuleSize;
// Full path of the module whose allocation base is callerModuleBase, or none.
extern char* callerModulePath;
// This module's own full path, empty until captureCollectorModuleName() fills it.
extern char collectorModulePath[collectorModulePathCapacity];

// A new zero-filled modulePathCapacity-byte buffer (free it) with the full path of `module` (none: the
// process executable), or none when the path cannot be had or was cut (259 characters is the longest
// accepted).
char* getModuleFileNameCopy(HMODULE module);

// processPath, filled first when it is none; none when the path cannot be had.
const char* captureProcessPath();

// This module's own path, found afresh from one of its own code addresses, in a new buffer as
// getModuleFileNameCopy() gives it; none when it cannot be had.
char* ownModulePathCopy();

// Fills collectorModulePath with this module's own path; false when it cannot be found or does not fit.
bool captureCollectorModuleName();

// Keeps callerModuleBase and callerModuleSize on the region that holds `address`; an address inside the
// current range costs no query, and a failed query changes nothing.
void refreshModuleRange(const void* address);

// The full path of the module that holds the code address, from the cache (asked for again when the
// address lies in another module or the teardown released it); falls back to a copy of
// collectorModulePath when the address lies in no module. No address: the cache as it stands (possibly
// none). Do not free the result. It stays valid until the next call or the teardown; a caller that keeps
// it across other record writes holds the record writer lock meanwhile.
const char* moduleNameForAddress(const void* address);

// The file name (after the last backslash) of the module that holds `address`, into name[capacity], and
// the module's base address; false, with both untouched, when the address lies in no module or the name
// cannot be had whole. Leaves the module-name cache alone.
bool moduleFileNameOf(const void* address, char* name, size_t capacity, uintptr_t* base);

// Frees processPath and callerModulePath and resets them to none (the collector's teardown); both are
// rebuilt on the next need.
void releaseCachedModulePaths();
