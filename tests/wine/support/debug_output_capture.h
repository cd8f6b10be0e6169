// Catches, inside the test program, what the module writes on the debugger output and the breakpoint
// traps it raises, as a debugger would see them: OutputDebugStringA raises DBG_PRINTEXCEPTION_C, which a
// vectored exception handler sees before anyone else; a breakpoint trap is counted and stepped over, so
// that the program goes on as it would after a debugger's "continue".
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace winetest {

class DebugOutputCapture {
  public:
    // Starts capturing; only one capture may be active at a time.
    DebugOutputCapture();
    ~DebugOutputCapture();
    DebugOutputCapture(const DebugOutputCapture&) = delete;
    DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

    bool IsActive() const { return handler != nullptr; }

    // Every piece of text in the order written (one entry per OutputDebugStringA call).
    const std::vector<std::string>& Pieces() const { return pieces; }
    // All of it joined.
    std::string Text() const;
    unsigned Breakpoints() const { return breakpoints; }
    void Clear();

  private:
    static LONG CALLBACK Handle(EXCEPTION_POINTERS* exception);

    void* handler = nullptr;
    std::vector<std::string> pieces;
    unsigned breakpoints = 0;
};

} // namespace winetest
