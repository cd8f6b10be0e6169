// Compiler-specific pieces, kept in one place: UTF-16 literals, the caller's return address and the
// breakpoint trap.
#pragma once

#include "platform.h"

#ifdef _WIN32
#define W(s) L##s
#else
#define W(s) u##s
#endif

#if defined(_MSC_VER)
#include <intrin.h>
#define VRA_RETURN_ADDRESS() _ReturnAddress()
#else
#define VRA_RETURN_ADDRESS() __builtin_extract_return_addr(__builtin_return_address(0))
#endif

// A breakpoint trap in the calling function itself, so that a debugger stops at the code that found the
// fault. Elsewhere the simulation's DebugBreak stands in for it.
#if defined(_WIN32)
#include <intrin.h>
#define VRA_BREAKPOINT() __debugbreak()
#else
#define VRA_BREAKPOINT() DebugBreak()
#endif
