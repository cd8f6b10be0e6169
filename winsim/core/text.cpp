// Name comparison and text conversion of the simulation. Windows compares registry, device-instance and
// printer names with its own Unicode upper-case table; only ASCII letters are folded here, which covers
// every name this project uses. Invalid UTF-8 bytes become U+FFFD.
#include "winsim/core/text.h"

#include "winsim/control/world.h"
#include "winsim/core/entry.h"

namespace winsim_detail {

char16_t FoldCase(char16_t unit) {
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 32) : unit;
}

SimWString Folded(const SimWString& text) {
    SimWString folded(text);
    for (char16_t& unit : folded) {
        unit = FoldCase(unit);
    }
    return folded;
}

bool EqualsIgnoringCase(const SimWString& left, const SimWString& right) {
    if (left.size() != right.size()) {
        return false;
    }
    for (size_t i = 0; i < left.size(); ++i) {
        if (FoldCase(left[i]) != FoldCase(right[i])) {
            return false;
        }
    }
    return true;
}

SimWString FromWide(const WCHAR* text) {
    return text == nullptr ? SimWString() : SimWString(text);
}

SimWString FromUtf8Bytes(const char* text, size_t length) {
    SimWString out;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < length) {
        unsigned char lead = bytes[i];
        char32_t point = 0xFFFD;
        size_t extra = 0;
        if (lead < 0x80) {
            point = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            point = lead & 0x1F;
            extra = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            point = lead & 0x0F;
            extra = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            point = lead & 0x07;
            extra = 3;
        }
        ++i;
        for (size_t k = 0; k < extra; ++k, ++i) {
            if (i >= length || (bytes[i] & 0xC0) != 0x80) {
                point = 0xFFFD;
                break;
            }
            point = (point << 6) | (bytes[i] & 0x3F);
        }
        if (point >= 0x10000 && point <= 0x10FFFF) {
            point -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (point >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (point & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(point > 0x10FFFF ? 0xFFFD : point));
        }
    }
    return out;
}

SimWString FromNarrow(const char* text) {
    if (text == nullptr) {
        return SimWString();
    }
    size_t length = 0;
    while (text[length] != '\0') {
        ++length;
    }
    return FromUtf8Bytes(text, length);
}

SimWString ToSim(const std::u16string& text) {
    return SimWString(text.data(), text.size());
}
std::u16string FromSim(const SimWString& text) {
    return std::u16string(text.data(), text.size());
}

} // namespace winsim_detail

namespace winsim {

using namespace winsim_detail;

Bytes StringBytes(const std::u16string& text, bool withNul) {
    ControlCall call;
    const auto* first = reinterpret_cast<const BYTE*>(text.data());
    Bytes bytes(first, first + text.size() * sizeof(char16_t));
    if (withNul) {
        bytes.push_back(0);
        bytes.push_back(0);
    }
    return bytes;
}

Bytes DwordBytes(DWORD value) {
    ControlCall call;
    return Bytes{static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
                 static_cast<BYTE>(value >> 24)};
}

std::u16string FromUtf8(const std::string& text) {
    ControlCall call;
    return FromSim(FromUtf8Bytes(text.data(), text.size()));
}

std::string ToUtf8(const std::u16string& text) {
    ControlCall call;
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t point = text[i];
        if (point >= 0xD800 && point <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            point = 0x10000 + ((point - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (point >= 0xD800 && point <= 0xDFFF) {
            point = 0xFFFD;
        }
        if (point < 0x80) {
            out.push_back(static_cast<char>(point));
        } else if (point < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (point >> 6)));
            out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
        } else if (point < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (point >> 12)));
            out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (point >> 18)));
            out.push_back(static_cast<char>(0x80 | ((point >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
        }
    }
    return out;
}

} // namespace winsim
