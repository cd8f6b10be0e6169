#include "memtrack/bounded_text.h"

#include <cstdarg>
#include <cstdio>
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
