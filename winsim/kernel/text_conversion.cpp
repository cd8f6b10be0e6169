// Text conversion of the simulation; see text_conversion.h for what is modelled.
#include "winsim/core/entry.h"
#include "winsim/kernel/last_error.h"
#include "winsim/kernel/text_conversion.h"

#include <cstring>

using namespace winsim_detail;

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Encodes one code point; returns the bytes it takes.
int EncodeUtf8(char32_t point, char* out) {
    if (point < 0x80) {
        out[0] = static_cast<char>(point);
        return 1;
    }
    if (point < 0x800) {
        out[0] = static_cast<char>(0xC0 | (point >> 6));
        out[1] = static_cast<char>(0x80 | (point & 0x3F));
        return 2;
    }
    if (point < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (point >> 12));
        out[1] = static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (point & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (point >> 18));
    out[1] = static_cast<char>(0x80 | ((point >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (point & 0x3F));
    return 4;
}

} // namespace

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                               LPBOOL lpUsedDefaultChar) {
    PlatformCall call("WideCharToMultiByte");
    if (call.FailsWithLastError()) {
        return 0;
    }
    if (lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && lpMultiByteStr == nullptr) ||
        (lpMultiByteStr != nullptr &&
         static_cast<const void*>(lpMultiByteStr) == static_cast<const void*>(lpWideCharStr))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (CodePage == CP_UTF8) {
        if ((dwFlags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS)) != 0) {
            SetLastError(ERROR_INVALID_FLAGS);
            return 0;
        }
        if (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
    } else if (CodePage != CP_ACP) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (lpUsedDefaultChar != nullptr) {
        *lpUsedDefaultChar = FALSE;
    }
    size_t units = cchWideChar == -1 ? 0 : static_cast<size_t>(cchWideChar);
    if (cchWideChar == -1) {
        while (lpWideCharStr[units] != 0) {
            ++units;
        }
        ++units; // the terminator is converted too
    }
    size_t produced = 0;
    for (size_t i = 0; i < units; ++i) {
        char32_t point = lpWideCharStr[i];
        if (point >= 0xD800 && point <= 0xDBFF && i + 1 < units && lpWideCharStr[i + 1] >= 0xDC00 &&
            lpWideCharStr[i + 1] <= 0xDFFF) {
            point = 0x10000 + ((point - 0xD800) << 10) + (lpWideCharStr[i + 1] - 0xDC00);
            ++i;
        } else if (point >= 0xD800 && point <= 0xDFFF) {
            if ((dwFlags & WC_ERR_INVALID_CHARS) != 0) {
                SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                return 0;
            }
            point = kReplacement;
        }
        char encoded[4];
        int length = EncodeUtf8(point, encoded);
        if (cbMultiByte != 0) {
            if (produced + static_cast<size_t>(length) > static_cast<size_t>(cbMultiByte)) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            std::memcpy(lpMultiByteStr + produced, encoded, static_cast<size_t>(length));
        }
        produced += static_cast<size_t>(length);
        if (produced > 0x7FFFFFFF) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
    }
    return static_cast<int>(produced);
}
