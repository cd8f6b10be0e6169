#include "memtrack/debug_text.h"

#include "memtrack/bounded_text.h"

#include <cstdlib>
#include <cstring>

void writeDebugText(const char* text, DWORD length) {
    if (length > maxDebugTextLength) {
        return;
    }
    size_t capacity = static_cast<size_t>(length) + 1;
    char* copy = static_cast<char*>(calloc(capacity, 1));
    if (copy == nullptr) {
        return;
    }
    if (copyBytesBounded(copy, capacity, text, length)) {
        OutputDebugStringA(copy);
    }
    free(copy);
}

void writeDebugString(const char* text) {
    if (text == nullptr) {
        return;
    }
    size_t length = strlen(text);
    // A text too long for a 32-bit count is too long to send; keep it above the limit rather than cut it.
    writeDebugText(text, length > maxDebugTextLength ? maxDebugTextLength + 1 : static_cast<DWORD>(length));
}

void writeDebugBanner(const char* title) {
    static const char rule[] = "****!!!!****!!!!****!!!!****";
    writeDebugString("\r\n");
    writeDebugString(rule);
    writeDebugString(title);
    writeDebugString(rule);
    writeDebugString("\r\n");
}
