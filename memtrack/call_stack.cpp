// Capturing, comparing and freeing call stacks.
#include "memtrack/call_stack.h"

#include "memtrack/track_config.h"
#include "platform/platform.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

// Frames between the capture and the operator's caller: this function, the tracked allocation, the hooks
// and the operator, some of them inlined or left by a tail call. More than enough, and few enough that
// skip and count together stay within the 63 frames that older Windows allows.
constexpr uint32_t trackerFrames = 16;

// How many frames lay before the operator's caller at a capture that found it. Later captures skip as
// many and check that they begin at their caller, capturing from the start again when they do not.
std::atomic<uint32_t> learnedSkip{0};

// One multiply per frame: the hash only sorts stacks into buckets; equal hashes are compared frame by frame.
uint32_t hashFrames(void* const* frames, uint32_t depth) {
    uint64_t hash = depth;
    for (uint32_t i = 0; i < depth; ++i) {
        hash = (hash ^ reinterpret_cast<uintptr_t>(frames[i])) * 0x9E3779B97F4A7C15ull;
        hash ^= hash >> 29;
    }
    return static_cast<uint32_t>(hash ^ (hash >> 32));
}

// The frames from the operator's caller outwards into `frames`, at most `wanted` of them; 0 when the
// caller is not among them.
uint32_t captureFromCaller(void* caller, uint32_t wanted, void** frames) {
    const uint32_t skip = learnedSkip.load(std::memory_order_relaxed);
    if (skip != 0) {
        const uint32_t captured = RtlCaptureStackBackTrace(skip, wanted, frames, nullptr);
        if (captured != 0 && frames[0] == caller) {
            return captured;
        }
    }
    const uint32_t captured = RtlCaptureStackBackTrace(0, wanted + trackerFrames, frames, nullptr);
    uint32_t first = 0;
    while (first < captured && frames[first] != caller) {
        ++first;
    }
    if (first == captured) {
        return 0;
    }
    learnedSkip.store(first, std::memory_order_relaxed);
    std::memmove(frames, &frames[first], (captured - first) * sizeof(void*));
    return captured - first;
}

} // namespace

size_t callStackBytes(uint32_t depth) {
    return offsetof(CallStack, frames) + depth * sizeof(void*);
}

CallStack* captureCallStack(void* caller) {
    const uint32_t wanted = stackDepth;
    if (wanted == 0 || caller == nullptr) {
        return nullptr;
    }
    void* frames[maxStackDepth + trackerFrames];
    uint32_t depth = captureFromCaller(caller, wanted, frames);
    if (depth == 0) {
        // The frames above the caller cannot be found: the caller alone.
        frames[0] = caller;
        depth = 1;
    }
    if (depth > wanted) {
        depth = wanted;
    }
    auto* stack = static_cast<CallStack*>(malloc(callStackBytes(depth)));
    if (stack == nullptr) {
        return nullptr;
    }
    stack->depth = depth;
    std::memcpy(stack->frames, frames, depth * sizeof(void*));
    stack->hash = hashFrames(stack->frames, depth);
    return stack;
}

bool sameCallStack(const CallStack* left, const CallStack* right) {
    if (left == nullptr || right == nullptr) {
        return left == right;
    }
    return left->hash == right->hash && left->depth == right->depth &&
           std::memcmp(left->frames, right->frames, left->depth * sizeof(void*)) == 0;
}

void freeCallStack(CallStack* stack) {
    free(stack);
}
