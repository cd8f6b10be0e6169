// A growable UTF-16 string whose storage comes from the module's ordinary allocation. Allocation failure
// never throws and never dereferences null: a failed growth leaves the text as it was and marks the
// string as failed, so that a caller can build a value with several steps and test once at the end.
#pragma once

#include "platform/platform.h"

#include <cstddef>

class WideString {
  public:
    WideString() = default;
    // Copies up to the first NUL. A failed copy yields an empty, failed string.
    explicit WideString(const WCHAR* text);
    WideString(const WCHAR* text, size_t length);
    WideString(const WideString& other);
    // Construction leaves the source empty and valid; it never allocates.
    WideString(WideString&& other) noexcept;
    WideString& operator=(const WideString& other);
    ~WideString();

    // Each returns false, and leaves the text unchanged, when storage cannot be had.
    bool Assign(const WCHAR* text);
    bool Assign(const WCHAR* text, size_t length);
    bool Assign(const WideString& other);
    bool Append(const WCHAR* text);
    bool Append(const WCHAR* text, size_t length);
    bool Append(const WideString& other);
    bool AppendUnsigned(unsigned long long value);
    void Clear();
    // Exchanges contents and validity; never allocates, so a value built in a temporary can replace
    // this one only once it is known to be complete.
    void Swap(WideString& other);

    // Always a valid NUL-terminated text, also for an empty string that owns no storage.
    const WCHAR* c_str() const;
    size_t Length() const { return length_; }
    bool IsEmpty() const { return length_ == 0; }
    // False once any operation on this string could not get storage (sticky until Clear or Assign).
    bool IsValid() const { return valid_; }

    // Exact comparison by UTF-16 code unit: the same length and the same units.
    bool Equals(const WCHAR* text) const;
    bool Equals(const WideString& other) const;
    bool Equals(const WCHAR* text, size_t length) const;
    // Exact substring search, letter case significant.
    bool Contains(const WCHAR* needle) const;

  private:
    bool Reserve(size_t capacity);
    // True when `text` points into this string's own storage.
    bool Holds(const WCHAR* text) const;

    WCHAR* data_ = nullptr;
    size_t length_ = 0;
    size_t capacity_ = 0;
    bool valid_ = true;
};

// Number of UTF-16 units before the first NUL.
size_t WideLength(const WCHAR* text);
// Number of units before the first NUL, reading at most `limit` units.
size_t WideLengthBounded(const WCHAR* text, size_t limit);
