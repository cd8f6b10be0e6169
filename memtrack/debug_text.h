// The tracker's way onto the debugger output: every report line, banner and total goes through here.
#pragma once

#include "platform/platform.h"

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
