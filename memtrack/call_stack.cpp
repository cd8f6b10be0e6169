// Capturing, comparing and freeing call stacks.
#include "memtrack/call_stack.h"

#include "memtrack/track_config.h"
#include "platform/platform.h"

#include <cstdlib>
#include <cstring>

namespace {

// Frames between the capture and the operator's caller: this function, the tracked allocation, the hooks
// and the operator, some of them inlined or left by a tail call. More than enough, and few enough that
// skip and count together stay within the 63 frames that older Windows allows.
constexpr uint32_t trackerFrames = 16;

uint32_t hashFrames(void* const* frames, uint32_t depth) {
    // FNV-1a over the addresses.
    uint32_t hash = 2166136261u;
    for (uint32_t i = 0; i < depth; ++i) {
        uint64_t address = reinterpret_cast<uintptr_t>(frames[i]);
        for (int byte = 0; byte < 8; ++byte) {
            hash = (hash ^ static_cast<uint8_t>(address >> (8 * byte))) * 16777619u;
        }
    }
    return hash;
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
    const uint32_t captured = RtlCaptureStackBackTrace(0, wanted + trackerFrames, frames, nullptr);
    // The operator's caller is where the module's own frames begin.
    uint32_t first = 0;
    while (first < captured && frames[first] != caller) {
        ++first;
    }
    void* const* kept = &frames[first];
    uint32_t depth = captured - first;
    if (first == captured) {
        kept = &caller;
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
    std::memcpy(stack->frames, kept, depth * sizeof(void*));
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
