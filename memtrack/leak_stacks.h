// The final report's leaks by call stack: the first leak record of each stack prints its frames, later
// ones name that record's id; after the records, the distinct stacks with their count of leaked blocks and
// total bytes, largest total first. Its table lives on the run-time heap for the report's duration.
#pragma once

#include "memtrack/call_stack.h"

#include <cstdint>

struct LeakStack {
    const CallStack* stack;
    uint32_t firstId;
    uint64_t count;
    uint64_t bytes;
};

// Open addressing by the stacks' hashes, at most half full.
struct LeakStacks {
    LeakStack* slots;
    uint64_t capacity; // a power of two, or 0
    uint64_t count;
    bool failed; // memory ran out: the remaining leaks print their frames unfolded
};

// Counts a leaked block of `size` bytes with its stack (none: nothing is counted). 0 when its record is
// the first with this stack, the one that prints the frames; otherwise the id of that first record.
uint32_t countLeakStack(LeakStacks* stacks, const CallStack* stack, uint32_t id, uint64_t size);

// The summary in a new text from the run-time heap (free it), "\r\n"-ended lines: "Leaked blocks by call
// stack, largest total first: <n> stacks", then "    stack of id="<first id>": count=<blocks>
// bytes=<total>" for each; none when no stack was counted or no memory can be had.
char* formatLeakStackSummary(const LeakStacks* stacks);

// Frees the table; the stacks themselves belong to the live index.
void freeLeakStacks(LeakStacks* stacks);
