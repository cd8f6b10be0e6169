// Call-site symbol resolution: turns a code address into function name, source file and line with the
// debug-help library's symbol handler for this process. The resolver object holds nothing; the handler's
// state is module-wide, and lookups share one symbol buffer, so they must not run on two threads at once.
#pragma once

#include "platform/platform.h"

#include <cstddef>

// SYMBOL_INFO as SymFromAddr fills it: the fixed part, then room for a name of up to
// symbolNameCapacity characters.
constexpr size_t symbolInfoBufferSize = 4088;
constexpr ULONG symbolNameCapacity = 2000;
static_assert(sizeof(SYMBOL_INFO) + symbolNameCapacity <= symbolInfoBufferSize,
              "the symbol buffer holds the record and the name it offers");

// The process handle under which the symbol handler is initialised; null while it is not.
extern HANDLE symbolProcess;
// The one SYMBOL_INFO record of the module, 8-byte aligned.
extern unsigned char symbolInfoBuffer[symbolInfoBufferSize];

class CDbgHelp {
  public:
    CDbgHelp() = default;
    CDbgHelp(const CDbgHelp&) = delete;
    CDbgHelp& operator=(const CDbgHelp&) = delete;
    // Ends the symbol handler and closes its process handle.
    virtual ~CDbgHelp();

    // Storage from the run-time heap, not through the module's allocation hooks, so that the tracker
    // never tracks itself. Null when none can be had.
    static void* operator new(size_t size) noexcept;
    static void operator delete(void* storage) noexcept;

    // True when this call initialised the symbol handler; false when it was initialised already (nothing
    // changes) or cannot be initialised (no handle is kept).
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
