#include "memtrack/guard_check.h"

#include "memtrack/leak_log.h"
#include "memtrack/track_config.h"
#include "platform/platform.h"
#include "platform/portability.h"

std::atomic<bool> debuggerChecked{false};
std::atomic<bool> debuggerPresent{false};

namespace {

typedef BOOL(WINAPI* IsDebuggerPresentFunction)();

// Asked through kernel32's export, as a tool injected into any process would: the module may be loaded
// where the import cannot be bound statically. The answer is stored before debuggerChecked is set, so that
// a thread that finds the check done never reads "no debugger" before the answer is in.
bool debuggerAttached() {
    HMODULE kernel32 = GetModuleHandleW(W("kernel32.dll"));
    if (kernel32 == nullptr) {
        return false;
    }
    FARPROC found = GetProcAddress(kernel32, "IsDebuggerPresent");
    if (found == nullptr) {
        return false;
    }
    // Through void (*)() first: the compilers accept that type as a stand-in for any function type.
    auto isDebuggerPresent = reinterpret_cast<IsDebuggerPresentFunction>(reinterpret_cast<void (*)()>(found));
    return isDebuggerPresent() != FALSE;
}

void askForDebuggerOnce() {
    if (debuggerChecked.load()) {
        return;
    }
    if (debuggerAttached()) {
        debuggerPresent.store(true);
    }
    debuggerChecked.store(true);
}

// Index of the first byte that is not the guard fill, or `length` when there is none.
uint64_t firstChangedByte(const uint8_t* zone, uint64_t length) {
    for (uint64_t i = 0; i < length; ++i) {
        if (zone[i] != guardFill) {
            return i;
        }
    }
    return length;
}

// The tail guard's fields lie in the header just below the head guard, where a long underrun reaches
// them. They are followed only while they still describe this block's own tail guard (userPtr + size, 384
// bytes plus a slack below the 16-byte alignment); otherwise the header itself was overwritten, and the
// head guard in between tells of it.
bool tailGuardIntact(const OVMemHdr* header) {
    return header->tailGuard != nullptr &&
           header->tailGuard == static_cast<const uint8_t*>(header->userPtr) + header->size &&
           header->tailGuardSize >= guardZoneSize &&
           header->tailGuardSize < guardZoneSize + userBlockAlignment;
}

void stopWhenDebugged() {
    if (debuggerPresent.load()) {
        VRA_BREAKPOINT();
    }
}

} // namespace

void checkGuards(OVMemHdr* header) {
    if (header == nullptr || !isGuardedMode(trackMode)) {
        return;
    }
    askForDebuggerOnce();
    bool headChanged = false;
    uint64_t headLength = header->headGuardSize < guardZoneSize ? header->headGuardSize : guardZoneSize;
    if (firstChangedByte(header->headGuard, headLength) < headLength) {
        header->underrun = 1;
        headChanged = true;
        stopWhenDebugged();
    }
    if (header->tailGuard != nullptr && !tailGuardIntact(header) && !headChanged) {
        // Written over from below, past the head guard: an underrun all the same.
        header->underrun = 1;
        headChanged = true;
        stopWhenDebugged();
    }
    if (tailGuardIntact(header) &&
        firstChangedByte(header->tailGuard, header->tailGuardSize) < header->tailGuardSize) {
        header->overrun = 1;
        stopWhenDebugged();
        writeBlockRecord(header, MemoryAccessViolationRecord);
        return;
    }
    if (headChanged) {
        writeBlockRecord(header, MemoryAccessViolationRecord);
    }
}
