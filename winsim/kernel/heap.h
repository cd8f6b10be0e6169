// The process heap of the simulation (kernel32).
// Modelled: one heap, the process heap, whose blocks carry a hidden header so that HeapFree and HeapSize
// recognise what HeapAlloc handed out (anything else ends the process, as a corrupted heap does on
// Windows). None of these functions allocates through operator new.
// Not modelled: private heaps (HeapCreate), heap flags other than HEAP_ZERO_MEMORY.
#pragma once

#include "winsim/kernel/types.h"

#define HEAP_NO_SERIALIZE 0x00000001
#define HEAP_GENERATE_EXCEPTIONS 0x00000004
#define HEAP_ZERO_MEMORY 0x00000008

// The process heap; never null.
HANDLE WINAPI GetProcessHeap();
// Only the process heap exists. Null when the memory cannot be had (or an armed failure applies); the
// last error is not set, as on Windows without HEAP_GENERATE_EXCEPTIONS. Blocks are 16-byte aligned;
// HEAP_ZERO_MEMORY zero-fills them, otherwise they hold whatever the host's allocator gave.
LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes);
// lpMem null: TRUE. A block HeapAlloc did not hand out, or one already freed, ends the process with a
// message naming the fault.
BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem);
// The requested size of a live block; (SIZE_T)-1 for null.
SIZE_T WINAPI HeapSize(HANDLE hHeap, DWORD dwFlags, LPCVOID lpMem);
