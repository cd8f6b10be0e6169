// The tracker's text: bounded copies and formatting for its fixed-size buffers, and its way onto the
// debugger output (every report line, banner and total goes through here), with the breakpoint trap.
#pragma once

#include "platform/platform.h"

#include <cstddef>

// Bounded copies and formatting. They keep the contracts of the CRT's sprintf_s, strcpy_s and memcpy_s
// (all or nothing: on failure the destination holds an empty text or zeros), but report a failure to the
// caller instead of raising the CRT's invalid-parameter handler, which by default ends the host process.
// The tracker runs inside a service's process and must never do that over a name that does not fit.

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

// Bounded printf-style formatting with the contract of the Windows SDK's StringCchPrintfA: the text is
// cut to fit and always terminated, and the result says whether it was cut. The tracker composes its
// symbol search path with it.

// HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), strsafe's STRSAFE_E_INSUFFICIENT_BUFFER.
constexpr HRESULT safeFormatInsufficientBuffer = static_cast<HRESULT>(0x8007007AUL);
// strsafe's STRSAFE_MAX_CCH: the largest capacity accepted.
constexpr size_t safeFormatMaxCapacity = 2147483647;

// Formats into destination[capacity] (capacity in bytes, terminator included).
// S_OK: the whole text fits. safeFormatInsufficientBuffer: the text was cut to capacity - 1 characters and
// terminated (also when the format cannot be printed). E_INVALIDARG, with destination untouched: capacity is
// 0 or above safeFormatMaxCapacity, or destination or format is missing.
HRESULT safeFormat(char* destination, size_t capacity, const char* format, ...);

// The longest text that is sent: 0x7FFDEEFF bytes. Longer texts are not sent at all.
constexpr DWORD maxDebugTextLength = 2147348223;

// Sends exactly `length` bytes of text to the debugger output as one zero-terminated string, from a copy
// on the run-time heap. Nothing is sent when the length is over maxDebugTextLength, the copy cannot be
// had, or text is missing while length is not 0.
void writeDebugText(const char* text, DWORD length);

// writeDebugText() of a zero-terminated text.
void writeDebugString(const char* text);

// A banner of the tracker's reports, in five writes: "\r\n", a rule of stars and exclamation marks, the
// title (with its own leading and trailing blank), the rule again, "\r\n". On a debugger it reads as one
// framed line.
void writeDebugBanner(const char* title);

// Stops in the debugger when one is attached. Without a debugger a breakpoint trap would end the host
// process (the device-installation service), which a developer's aid must never do, so it is then
// skipped; the caller's own handling of the fault goes on either way.
void breakIntoDebugger();

// A fault that the release path finds in what it is given: its notice on the debugger output, then
// breakIntoDebugger(). Without a debugger the line is all there is.
void writeFaultNotice(const char* notice);
