// The frame-pointer walk behind RtlCaptureStackBackTrace.
#include "winsim/kernel/stack_trace.h"

#include "winsim/core/entry.h"

#include <pthread.h>

#include <cstdint>

namespace {

struct StackBounds {
    uintptr_t low;
    uintptr_t high;
};

// The calling thread's stack, asked once per thread: for the main thread the answer comes from the
// process's memory map, far too slow to ask at every trace.
StackBounds threadStack() {
    thread_local StackBounds bounds = [] {
        StackBounds found = {0, 0};
        pthread_attr_t attributes;
        if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
            void* base = nullptr;
            size_t size = 0;
            if (pthread_attr_getstack(&attributes, &base, &size) == 0) {
                found.low = reinterpret_cast<uintptr_t>(base);
                found.high = found.low + size;
            }
            pthread_attr_destroy(&attributes);
        }
        return found;
    }();
    return bounds;
}

} // namespace

__attribute__((noinline)) WORD WINAPI RtlCaptureStackBackTrace(DWORD FramesToSkip, DWORD FramesToCapture,
                                                               PVOID* BackTrace, PDWORD BackTraceHash) {
    winsim_detail::PlatformCall call("RtlCaptureStackBackTrace");
    DWORD error = 0;
    if (call.Fails(&error)) {
        // Windows sets no last error here: a trace that cannot be taken has no frames.
        return 0;
    }
    const StackBounds stack = threadStack();
    // Each frame holds the caller's frame pointer, then the return address into the caller.
    auto* frame = static_cast<uintptr_t*>(__builtin_frame_address(0));
    DWORD skipped = 0;
    WORD captured = 0;
    DWORD hash = 0;
    while (captured < FramesToCapture && BackTrace != nullptr) {
        const auto at = reinterpret_cast<uintptr_t>(frame);
        if (at < stack.low || at + 2 * sizeof(uintptr_t) > stack.high || at % sizeof(uintptr_t) != 0) {
            break;
        }
        const uintptr_t returnAddress = frame[1];
        if (returnAddress == 0) {
            break;
        }
        if (skipped < FramesToSkip) {
            ++skipped;
        } else {
            BackTrace[captured++] = reinterpret_cast<PVOID>(returnAddress);
            hash += static_cast<DWORD>(returnAddress);
        }
        // The caller's frame lies above this one; anything else is no frame of this walk.
        auto* next = reinterpret_cast<uintptr_t*>(frame[0]);
        if (next <= frame) {
            break;
        }
        frame = next;
    }
    if (BackTraceHash != nullptr) {
        *BackTraceHash = hash;
    }
    return captured;
}
