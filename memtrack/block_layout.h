// Size arithmetic shared by the block allocators. Every sum is checked: a request so large that its
// block's size does not fit in 64 bits must fail like any other request that memory cannot satisfy.
#pragma once

#include "memtrack/mem_header.h"

#include <cstdint>

// size + overhead, raised to the next multiple of 16 (a multiple stays as it is), plus 16: the room for
// aligning the user block wherever the underlying allocation begins. False when it does not fit.
inline bool paddedBlockTotal(uint64_t size, uint64_t overhead, uint64_t* total) {
    const uint64_t largest = UINT64_MAX;
    if (size > largest - overhead) {
        return false;
    }
    uint64_t raw = size + overhead;
    if (raw > largest - (userBlockAlignment - 1) - userBlockAlignment) {
        return false;
    }
    *total = (raw + userBlockAlignment - 1) / userBlockAlignment * userBlockAlignment + userBlockAlignment;
    return true;
}

// Places a user block of `size` bytes followed by at least `tailGuardLeast` bytes so that the tail ends
// exactly at `end`, moved down to the user-block alignment. Returns the user block; *slack receives how
// far it was moved (0 to 15), which lengthens the tail.
inline uintptr_t placeUserBlock(uintptr_t end, uint64_t size, uint64_t tailGuardLeast, uint64_t* slack) {
    uintptr_t provisional = end - size - tailGuardLeast;
    *slack = provisional % userBlockAlignment;
    return provisional - *slack;
}
