// Stack back traces of the simulation (kernel32's RtlCaptureStackBackTrace). Modelled: the return
// addresses of the calling thread's frames, innermost first, the first being the one into the caller of
// RtlCaptureStackBackTrace; the skip, the count, and the hash as the sum of the captured addresses' low 32
// bits. Walked along the frame pointers, which the host build keeps in every function, and only within
// the thread's own stack: a frame of code built without them ends the trace early, never outside it.
// Not modelled: the limit of 63 frames for skip and count together that older Windows has.
#pragma once

#include "winsim/kernel/types.h"

WORD WINAPI RtlCaptureStackBackTrace(DWORD FramesToSkip, DWORD FramesToCapture, PVOID* BackTrace,
                                     PDWORD BackTraceHash);
