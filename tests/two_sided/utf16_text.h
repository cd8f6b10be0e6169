// UTF-16 text as the checks of both sides, their Windows fixtures and the fuzz targets handle it: the text
// that the bytes of a registry string value stand for, its ASCII rendering for messages, comparison and
// length.
#pragma once

#include "platform/platform.h"

#include <string>
#include <vector>

// The UTF-16LE units of `data` up to the first NUL or the end of the data (an odd last byte holds no whole
// unit).
inline std::basic_string<WCHAR> Utf16Text(const std::vector<BYTE>& data) {
    std::basic_string<WCHAR> text;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        const WCHAR unit = static_cast<WCHAR>(data[i] | data[i + 1] << 8);
        if (unit == 0) {
            break;
        }
        text.push_back(unit);
    }
    return text;
}

// ASCII rendering of UTF-16 text for messages (other characters as '?').
inline std::string Narrow(const WCHAR* text) {
    if (text == nullptr) {
        return "(null)";
    }
    std::string out;
    for (; *text != 0; ++text) {
        out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
    }
    return out;
}

inline std::string Narrow(const std::basic_string<WCHAR>& text) {
    return Narrow(text.c_str());
}

inline bool SameText(const WCHAR* left, const WCHAR* right) {
    if (left == nullptr || right == nullptr) {
        return left == right;
    }
    for (; *left != 0 && *left == *right; ++left, ++right) {
    }
    return *left == *right;
}

inline size_t TextLength(const WCHAR* text) {
    size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return length;
}
