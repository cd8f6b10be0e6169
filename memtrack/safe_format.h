// Bounded printf-style formatting with the contract of the Windows SDK's StringCchPrintfA: the text is
// cut to fit and always terminated, and the result says whether it was cut. The tracker composes its
// symbol search path with it.
#pragma once

#include "platform/platform.h"

#include <cstddef>

// HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), strsafe's STRSAFE_E_INSUFFICIENT_BUFFER.
constexpr HRESULT safeFormatInsufficientBuffer = static_cast<HRESULT>(0x8007007AUL);
// strsafe's STRSAFE_MAX_CCH: the largest capacity accepted.
constexpr size_t safeFormatMaxCapacity = 2147483647;

// Formats into destination[capacity] (capacity in bytes, terminator included).
// S_OK: the whole text fits. safeFormatInsufficientBuffer: the text was cut to capacity - 1 characters and
// terminated (also when the format cannot be printed). E_INVALIDARG, with destination untouched: capacity is
// 0 or above safeFormatMaxCapacity, or destination or format is missing.
HRESULT safeFormat(char* destination, size_t capacity, const char* format, ...);
