#include "memtrack/debug_text.h"

#include "platform/portability.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool formatBounded(char* destination, size_t capacity, const char* format, ...) {
    if (destination == nullptr || capacity == 0) {
        return false;
    }
    if (format == nullptr) {
        destination[0] = 0;
        return false;
    }
    va_list arguments;
    va_start(arguments, format);
    int written = std::vsnprintf(destination, capacity, format, arguments);
    va_end(arguments);
    // A negative count is an encoding failure; a count of capacity or more means the text was cut.
    if (written < 0 || static_cast<size_t>(written) >= capacity) {
        destination[0] = 0;
        return false;
    }
    return true;
}

bool copyTextBounded(char* destination, size_t capacity, const char* source) {
    if (destination == nullptr || capacity == 0) {
        return false;
    }
    if (source == nullptr) {
        destination[0] = 0;
        return false;
    }
    size_t length = strnlen(source, capacity);
    if (length == capacity) {
        destination[0] = 0;
        return false;
    }
    std::memcpy(destination, source, length + 1);
    return true;
}

bool copyBytesBounded(void* destination, size_t capacity, const void* source, size_t count) {
    if (count == 0) {
        return true;
    }
    if (destination == nullptr) {
        return false;
    }
    if (source == nullptr || count > capacity) {
        std::memset(destination, 0, capacity);
        return false;
    }
    std::memcpy(destination, source, count);
    return true;
}

HRESULT safeFormat(char* destination, size_t capacity, const char* format, ...) {
    if (capacity == 0 || capacity > safeFormatMaxCapacity || destination == nullptr || format == nullptr) {
        return E_INVALIDARG;
    }
    va_list arguments;
    va_start(arguments, format);
    // vsnprintf writes at most capacity - 1 characters and a terminator, and returns the length the whole
    // text would have: more than capacity - 1 means it was cut.
    int length = vsnprintf(destination, capacity, format, arguments);
    va_end(arguments);
    if (length < 0 || static_cast<size_t>(length) > capacity - 1) {
        destination[capacity - 1] = '\0';
        return safeFormatInsufficientBuffer;
    }
    destination[length] = '\0';
    return S_OK;
}

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

void breakIntoDebugger() {
    if (IsDebuggerPresent()) {
        VRA_BREAKPOINT();
    }
}

void writeFaultNotice(const char* notice) {
    writeDebugString(notice);
    breakIntoDebugger();
}
