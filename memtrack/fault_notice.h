// Faults that the release path finds in what it is given (a pointer that is not a block of this module, a
// block released with the other form of delete, a block header whose source names no allocator): a line
// on the debugger output naming the pointer, then a breakpoint trap when a debugger is attached. Without a
// debugger the trap would end the host process, so the line is all there is.
#pragma once

#include <cstdint>

// "...: release of 0x<pointer> refused: not a block of this module\r\n" and the like.
void reportForeignRelease(const void* pointer);
void reportMismatchedRelease(const void* pointer, int32_t allocKind, int32_t releaseKind);
void reportUnknownSource(const void* userPtr, int32_t source);
