// The way into the simulated world (entry.h): the world lock, and the failure injection and call
// accounting that every platform call passes. Tests arm a failure for a platform function by its Win32
// name, optionally after a number of successful calls, for one or more calls or for good. Each call
// consults only the oldest armed failure of its function; later ones wait their turn.
#include "winsim/control/world.h"
#include "winsim/core/entry.h"
#include "winsim/core/malloc_containers.h"

namespace winsim_detail {
namespace {

struct ArmedFailure {
    DWORD error;
    unsigned skip;
    unsigned remaining; // 0: every later call
};

struct FailureState {
    SimMap<SimString, SimVector<ArmedFailure>> armed;
    SimMap<SimString, unsigned> calls;
};

// Built on first use and never destroyed: shared objects may call into the simulation while they are
// being initialised or torn down, in any order relative to this library.
FailureState& Failures() {
    static FailureState* state = new (std::malloc(sizeof(FailureState))) FailureState();
    return *state;
}

thread_local int platformDepth = 0;

} // namespace

std::recursive_mutex& WorldLock() {
    static std::recursive_mutex* lock =
        new (std::malloc(sizeof(std::recursive_mutex))) std::recursive_mutex();
    return *lock;
}

PlatformDepth::PlatformDepth() {
    ++platformDepth;
}
PlatformDepth::~PlatformDepth() {
    --platformDepth;
}

PlatformCall::PlatformCall(const char* name) : guard_(WorldLock()) {
    FailureState& state = Failures();
    SimString key(name);
    ++state.calls[key];
    auto found = state.armed.find(key);
    if (found == state.armed.end() || found->second.empty()) {
        return;
    }
    ArmedFailure& next = found->second.front();
    if (next.skip > 0) {
        --next.skip;
        return;
    }
    fails_ = true;
    error_ = next.error;
    if (next.remaining > 0 && --next.remaining == 0) {
        found->second.erase(found->second.begin());
    }
}

ControlCall::ControlCall() : guard_(WorldLock()) {}

void ResetFailures() {
    Failures().armed.clear();
    Failures().calls.clear();
}

} // namespace winsim_detail

namespace winsim {

using namespace winsim_detail;

void FailCall(const char* name, DWORD error, unsigned skip, unsigned times) {
    ControlCall call;
    Failures().armed[SimString(name)].push_back(ArmedFailure{error, skip, times});
}

void ClearFailures() {
    ControlCall call;
    Failures().armed.clear();
}

unsigned CallCount(const char* name) {
    ControlCall call;
    auto found = Failures().calls.find(SimString(name));
    return found == Failures().calls.end() ? 0 : found->second;
}

std::map<std::string, unsigned> CallCounts() {
    // Copied under the lock into the simulation's own storage first: the map handed out allocates through
    // the program's operator new, which may itself make platform calls and so change the counts.
    SimVector<std::pair<SimString, unsigned>> counted;
    {
        ControlCall call;
        counted.assign(Failures().calls.begin(), Failures().calls.end());
    }
    std::map<std::string, unsigned> counts;
    for (const auto& entry : counted) {
        counts[std::string(entry.first.c_str())] = entry.second;
    }
    return counts;
}

void ClearCallCounts() {
    ControlCall call;
    Failures().calls.clear();
}

bool InPlatformCall() {
    return platformDepth > 0;
}

} // namespace winsim
