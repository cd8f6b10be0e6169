// Folding the final report's leaks by call stack, and the summary of the distinct stacks.
#include "memtrack/leak_stacks.h"

#include "memtrack/debug_text.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr uint64_t firstCapacity = 64;
// "    stack of id="<id>": count=<count> bytes=<bytes>\r\n" with two 20-digit numbers.
constexpr size_t summaryLineCapacity = 96;

LeakStack* findSlot(LeakStack* slots, uint64_t capacity, const CallStack* stack) {
    uint64_t mask = capacity - 1;
    for (uint64_t slot = stack->hash & mask;; slot = (slot + 1) & mask) {
        if (slots[slot].stack == nullptr || sameCallStack(slots[slot].stack, stack)) {
            return &slots[slot];
        }
    }
}

bool reserveSlot(LeakStacks* stacks) {
    if ((stacks->count + 1) * 2 <= stacks->capacity) {
        return true;
    }
    uint64_t capacity = stacks->capacity == 0 ? firstCapacity : stacks->capacity * 2;
    auto* slots = static_cast<LeakStack*>(calloc(static_cast<size_t>(capacity), sizeof(LeakStack)));
    if (slots == nullptr) {
        return false;
    }
    for (uint64_t slot = 0; slot < stacks->capacity; ++slot) {
        if (stacks->slots[slot].stack != nullptr) {
            *findSlot(slots, capacity, stacks->slots[slot].stack) = stacks->slots[slot];
        }
    }
    free(stacks->slots);
    stacks->slots = slots;
    stacks->capacity = capacity;
    return true;
}

int byLargestTotal(const void* left, const void* right) {
    const auto* a = static_cast<const LeakStack*>(left);
    const auto* b = static_cast<const LeakStack*>(right);
    if (a->bytes != b->bytes) {
        return a->bytes > b->bytes ? -1 : 1;
    }
    if (a->count != b->count) {
        return a->count > b->count ? -1 : 1;
    }
    return a->firstId < b->firstId ? -1 : (a->firstId > b->firstId ? 1 : 0);
}

} // namespace

uint32_t countLeakStack(LeakStacks* stacks, const CallStack* stack, uint32_t id, uint64_t size) {
    if (stack == nullptr || stacks->failed) {
        return 0;
    }
    if (!reserveSlot(stacks)) {
        stacks->failed = true;
        return 0;
    }
    LeakStack* entry = findSlot(stacks->slots, stacks->capacity, stack);
    if (entry->stack == nullptr) {
        *entry = LeakStack{stack, id, 0, 0};
        ++stacks->count;
    }
    ++entry->count;
    entry->bytes += size;
    return entry->firstId != id ? entry->firstId : 0;
}

char* formatLeakStackSummary(const LeakStacks* stacks) {
    if (stacks->count == 0) {
        return nullptr;
    }
    auto* sorted = static_cast<LeakStack*>(malloc(static_cast<size_t>(stacks->count) * sizeof(LeakStack)));
    size_t capacity = 80 + static_cast<size_t>(stacks->count) * summaryLineCapacity;
    auto* text = static_cast<char*>(calloc(capacity, 1));
    if (sorted == nullptr || text == nullptr) {
        free(sorted);
        free(text);
        return nullptr;
    }
    uint64_t taken = 0;
    for (uint64_t slot = 0; slot < stacks->capacity; ++slot) {
        if (stacks->slots[slot].stack != nullptr) {
            sorted[taken++] = stacks->slots[slot];
        }
    }
    qsort(sorted, static_cast<size_t>(taken), sizeof(LeakStack), byLargestTotal);
    size_t length = 0;
    formatBounded(text, capacity, "Leaked blocks by call stack, largest total first: %llu stacks\r\n",
                  static_cast<unsigned long long>(taken));
    length = strlen(text);
    for (uint64_t i = 0; i < taken; ++i) {
        formatBounded(text + length, capacity - length, "    stack of id=\"%d\": count=%llu bytes=%llu\r\n",
                      static_cast<int>(sorted[i].firstId), static_cast<unsigned long long>(sorted[i].count),
                      static_cast<unsigned long long>(sorted[i].bytes));
        length += strlen(text + length);
    }
    free(sorted);
    return text;
}

void freeLeakStacks(LeakStacks* stacks) {
    free(stacks->slots);
    *stacks = LeakStacks{};
}
