// Giving a block's underlying allocation back to where it came from.
#pragma once

#include "memtrack/mem_header.h"

// Frees the block's allocPtr by its source: HeapFree on trackHeap (nothing when there is no trackHeap),
// free, or VirtualFree of the pages. Pages that cannot be released run the in-use dump; an unknown
// source stops in the debugger and frees nothing. False when nothing was freed.
bool freeBlockMemory(const OVMemHdr* header);
