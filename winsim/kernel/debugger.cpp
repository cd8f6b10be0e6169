// Debugger services of the simulation; see debugger.h for what is modelled. The debugger output is
// kept in a malloc'd buffer (the tracker writes to it while it serves operator new). Setting the host
// environment variable WINSIM_DEBUG_OUTPUT echoes it to the standard error stream as well.
#include "winsim/control/kernel.h"
#include "winsim/core/entry.h"
#include "winsim/core/malloc_containers.h"
#include "winsim/kernel/debugger.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace winsim_detail;

namespace {

struct DebuggerState {
    SimString output;
    SimVector<size_t> pieceEnds; // where each OutputDebugStringA call's text ends in `output`
    size_t traps = 0;            // breakpoint traps a debugger stopped at
};

// Never destroyed: modules report on the debugger output while they are unloaded at process exit.
DebuggerState& Debugger() {
    static DebuggerState* state = new (std::malloc(sizeof(DebuggerState))) DebuggerState();
    return *state;
}

std::atomic<bool> debuggerPresent{false};

bool EchoToStandardError() {
    static const bool echo = std::getenv("WINSIM_DEBUG_OUTPUT") != nullptr;
    return echo;
}

} // namespace

void WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
    PlatformCall call("OutputDebugStringA");
    if (lpOutputString == nullptr) {
        return;
    }
    Debugger().output.append(lpOutputString);
    Debugger().pieceEnds.push_back(Debugger().output.size());
    if (EchoToStandardError()) {
        std::fputs(lpOutputString, stderr);
    }
}

void WINAPI DebugBreak() {
    {
        PlatformCall call("DebugBreak");
        if (debuggerPresent.load()) {
            // The debugger stops here; the developer lets the program go on.
            ++Debugger().traps;
            return;
        }
    }
    std::fputs("winsim: breakpoint trap with no debugger attached: the process ends, as on Windows.\n",
               stderr);
    std::raise(SIGTRAP);
    std::abort();
}

BOOL WINAPI IsDebuggerPresent() {
    PlatformCall call("IsDebuggerPresent");
    return debuggerPresent.load() ? TRUE : FALSE;
}

namespace winsim {

void SetDebuggerPresent(bool present) {
    debuggerPresent.store(present);
}

std::string DebugOutput() {
    ControlCall call;
    return std::string(Debugger().output.c_str(), Debugger().output.size());
}

size_t DebugOutputCallCount() {
    ControlCall call;
    return Debugger().pieceEnds.size();
}

std::vector<std::string> DebugOutputPieces() {
    ControlCall call;
    std::vector<std::string> pieces;
    size_t start = 0;
    for (size_t end : Debugger().pieceEnds) {
        pieces.emplace_back(Debugger().output.c_str() + start, end - start);
        start = end;
    }
    return pieces;
}

size_t BreakpointTrapCount() {
    ControlCall call;
    return Debugger().traps;
}

void ClearDebugOutput() {
    ControlCall call;
    Debugger().output.clear();
    Debugger().pieceEnds.clear();
    Debugger().traps = 0;
}

} // namespace winsim
