#include "memtrack/safe_format.h"

#include <cstdarg>
#include <cstdio>

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
