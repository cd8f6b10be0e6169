#include "coinstaller/wide_string.h"
#include "platform/portability.h"

#include <cstring>
#include <new>

namespace {

// A string's storage is an ordinary (scalar) allocation of the module, released as one. The nothrow form
// says in its signature what the module's operator new does anyway: it answers failure with null.
WCHAR* AllocateText(size_t characters) {
    return static_cast<WCHAR*>(::operator new(characters * sizeof(WCHAR), std::nothrow));
}

void ReleaseText(WCHAR* text) {
    ::operator delete(text);
}

const WCHAR emptyText[1] = {0};
} // namespace

size_t WideLength(const WCHAR* text) {
    size_t length = 0;
    if (text != nullptr) {
        while (text[length] != 0) {
            ++length;
        }
    }
    return length;
}

size_t WideLengthBounded(const WCHAR* text, size_t limit) {
    size_t length = 0;
    if (text != nullptr) {
        while (length < limit && text[length] != 0) {
            ++length;
        }
    }
    return length;
}

WideString::WideString(const WCHAR* text) {
    Assign(text);
}

WideString::WideString(const WCHAR* text, size_t length) {
    Assign(text, length);
}

WideString::WideString(const WideString& other) {
    Assign(other);
}

WideString::WideString(WideString&& other) noexcept {
    Swap(other);
}

WideString& WideString::operator=(const WideString& other) {
    if (this != &other) {
        Assign(other);
    }
    return *this;
}

WideString::~WideString() {
    ReleaseText(data_);
}

bool WideString::Reserve(size_t capacity) {
    if (capacity <= capacity_) {
        return true;
    }
    if (capacity > static_cast<size_t>(-1) / sizeof(WCHAR) - 1) {
        valid_ = false;
        return false;
    }
    WCHAR* grown = AllocateText(capacity + 1);
    if (grown == nullptr) {
        valid_ = false;
        return false;
    }
    if (length_ != 0) {
        std::memcpy(grown, data_, length_ * sizeof(WCHAR));
    }
    grown[length_] = 0;
    ReleaseText(data_);
    data_ = grown;
    capacity_ = capacity;
    return true;
}

bool WideString::Holds(const WCHAR* text) const {
    return data_ != nullptr && text >= data_ && text <= data_ + length_;
}

bool WideString::Assign(const WCHAR* text) {
    return Assign(text, WideLength(text));
}

bool WideString::Assign(const WCHAR* text, size_t length) {
    if (text == nullptr) {
        length = 0;
    }
    if (Holds(text)) {
        // Assigning a part of this string to itself: take a copy first.
        WideString copy(text, length);
        if (!copy.IsValid()) {
            valid_ = false;
            return false;
        }
        return Assign(copy);
    }
    if (!Reserve(length)) {
        return false;
    }
    valid_ = true;
    length_ = 0;
    return Append(text, length);
}

bool WideString::Assign(const WideString& other) {
    if (this == &other) {
        return valid_;
    }
    if (!Assign(other.c_str(), other.Length())) {
        return false;
    }
    valid_ = other.valid_;
    return true;
}

bool WideString::Append(const WCHAR* text) {
    return Append(text, WideLength(text));
}

bool WideString::Append(const WCHAR* text, size_t length) {
    if (text == nullptr || length == 0) {
        return valid_;
    }
    if (length > static_cast<size_t>(-1) / sizeof(WCHAR) - 1 - length_) {
        valid_ = false;
        return false;
    }
    size_t needed = length_ + length;
    if (needed > capacity_) {
        if (Holds(text)) {
            // Growing gives back the storage that the text lies in: append a copy of it.
            return Append(WideString(text, length));
        }
        size_t doubled = capacity_ * 2;
        if (!Reserve(doubled > needed ? doubled : needed)) {
            return false;
        }
    }
    std::memmove(data_ + length_, text, length * sizeof(WCHAR));
    length_ = needed;
    data_[length_] = 0;
    return valid_;
}

bool WideString::Append(const WideString& other) {
    if (!other.valid_) {
        valid_ = false;
        return false;
    }
    return Append(other.c_str(), other.Length());
}

bool WideString::AppendUnsigned(unsigned long long value) {
    WCHAR digits[24];
    size_t count = 0;
    do {
        digits[count++] = static_cast<WCHAR>(W('0') + value % 10);
        value /= 10;
    } while (value != 0);
    WCHAR ordered[24];
    for (size_t i = 0; i < count; ++i) {
        ordered[i] = digits[count - 1 - i];
    }
    return Append(ordered, count);
}

void WideString::Clear() {
    ReleaseText(data_);
    data_ = nullptr;
    length_ = 0;
    capacity_ = 0;
    valid_ = true;
}

void WideString::Swap(WideString& other) {
    WCHAR* data = data_;
    size_t length = length_;
    size_t capacity = capacity_;
    bool valid = valid_;
    data_ = other.data_;
    length_ = other.length_;
    capacity_ = other.capacity_;
    valid_ = other.valid_;
    other.data_ = data;
    other.length_ = length;
    other.capacity_ = capacity;
    other.valid_ = valid;
}

const WCHAR* WideString::c_str() const {
    return data_ != nullptr ? data_ : emptyText;
}

bool WideString::Equals(const WCHAR* text) const {
    return Equals(text, WideLength(text));
}

bool WideString::Equals(const WideString& other) const {
    return Equals(other.c_str(), other.length_);
}

bool WideString::Equals(const WCHAR* text, size_t length) const {
    if (length != length_) {
        return false;
    }
    return length == 0 || (text != nullptr && std::memcmp(c_str(), text, length * sizeof(WCHAR)) == 0);
}

bool WideString::Contains(const WCHAR* needle) const {
    size_t needleLength = WideLength(needle);
    if (needleLength > length_) {
        return false;
    }
    const WCHAR* text = c_str();
    for (size_t start = 0; start + needleLength <= length_; ++start) {
        if (std::memcmp(text + start, needle, needleLength * sizeof(WCHAR)) == 0) {
            return true;
        }
    }
    return false;
}
