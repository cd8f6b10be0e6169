// Bounded copies and formatting for the tracker's fixed-size text buffers. They keep the contracts of the
// CRT's sprintf_s, strcpy_s and memcpy_s (all or nothing: on failure the destination holds an empty text
// or zeros), but report a failure to the caller instead of raising the CRT's invalid-parameter handler,
// which by default ends the host process. The tracker runs inside a service's process and must never do
// that over a name that does not fit.
#pragma once

#include <cstddef>

// printf-style formatting of the whole text and its terminator into destination[capacity].
// Returns false, with destination[0] = 0 when capacity > 0, when the text does not fit, the format fails,
// or destination or format is missing.
bool formatBounded(char* destination, size_t capacity, const char* format, ...);

// Copies source and its terminator into destination[capacity]. Returns false, with destination[0] = 0 when
// capacity > 0, when it does not fit or source is missing.
bool copyTextBounded(char* destination, size_t capacity, const char* source);

// Copies count bytes into destination[capacity]. Returns false, with all capacity bytes zeroed, when
// count exceeds capacity or source is missing (a count of 0 needs no source).
bool copyBytesBounded(void* destination, size_t capacity, const void* source, size_t count);
