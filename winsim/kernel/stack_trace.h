// Stack back traces of the simulation (kernel32's RtlCaptureStackBackTrace). Modelled: the return
// addresses of the calling thread's frames, innermost first, the first being the one into the caller of
// RtlCaptureStackBackTrace; the skip, the count, and a hash of the captured addresses (their low 32 bits
// summed: Windows documents only that equal traces have equal hashes, and Wine computes another). Walked
// along the frame pointers, which the host build keeps in every function, and only within the thread's
// own stack: a frame of code built without them ends the trace early, never outside it. A failure armed
// with winsim::FailCall gives no frames. Not modelled: the limit of 63 frames for skip and count together
// that older Windows has.
#pragma once

#include "winsim/kernel/types.h"

WORD WINAPI RtlCaptureStackBackTrace(DWORD FramesToSkip, DWORD FramesToCapture, PVOID* BackTrace,
                                     PDWORD BackTraceHash);
