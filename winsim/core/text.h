// Text helpers of the simulation: the ASCII-only letter-case rules by which it compares registry,
// device and printer names, and conversions between UTF-8 and UTF-16. Internal to winsim.
#pragma once

#include "winsim/core/malloc_containers.h"
#include "winsim/kernel/types.h"

#include <string>

namespace winsim_detail {

char16_t FoldCase(char16_t unit);
// The text with ASCII letters upper-cased: a key under which names that Windows treats as equal meet.
SimWString Folded(const SimWString& text);
bool EqualsIgnoringCase(const SimWString& left, const SimWString& right);

// A NUL-terminated UTF-16 text; null gives the empty text.
SimWString FromWide(const WCHAR* text);
// A NUL-terminated narrow text, read as UTF-8 (the simulation's stand-in for the ANSI code page).
SimWString FromNarrow(const char* text);
SimWString FromUtf8Bytes(const char* text, size_t length);
SimWString ToSim(const std::u16string& text);
std::u16string FromSim(const SimWString& text);

} // namespace winsim_detail
