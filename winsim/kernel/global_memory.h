// Global memory of the simulation (kernel32), the blocks in which the spooler records are handed over.
// Modelled: fixed global blocks, zero-filled with GMEM_ZEROINIT and otherwise filled with 0xBE so that
// code relying on zeroed memory shows itself; GlobalFree of an unknown block (also a second free) fails
// with ERROR_INVALID_HANDLE and answers the block; a count of the blocks still held
// (winsim::GlobalBlockCount).
// Not modelled: moveable blocks (GMEM_MOVEABLE fails with ERROR_INVALID_PARAMETER) and the other Global*
// functions.
#pragma once

#include "winsim/kernel/types.h"

#define GMEM_FIXED 0x0000
#define GMEM_ZEROINIT 0x0040
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)

// Fixed blocks only (no moveable handles). Returns null and sets the last error on failure.
HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes);
// Returns null on success, the handle on failure (as Windows does).
HGLOBAL WINAPI GlobalFree(HGLOBAL hMem);
