// What every fuzz target over the simulation does around one input: start in an empty simulated
// Windows, arm at most one platform failure that the input chooses, and check afterwards that nothing was
// left open.
#pragma once

#include "fuzz_expect.h"
#include "fuzz_input.h"
#include "platform/platform.h"
#include "tests/two_sided/utf16_text.h"
#include "winsim/control/all.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace fuzz {

// A registry value as the input describes it: whether it is there, its type and its bytes.
struct SeededValue {
    bool present = false;
    DWORD type = 0;
    winsim::Bytes data;
};

// The type and bytes come from the input; whether the value is there, from the caller.
inline SeededValue ReadSeededValue(FuzzInput& input, bool present) {
    SeededValue value;
    value.present = present;
    value.type = input.Dword();
    std::vector<uint8_t> bytes = input.Blob();
    value.data.assign(bytes.begin(), bytes.end());
    return value;
}

inline void StartInput() {
    winsim::Reset();
}

// The input chooses one of `calls` to fail (or none), after how many successful calls, and with which
// error. Functions whose failure would leave a handle open by design (RegCloseKey, ClosePrinter,
// SetupDiDestroyDeviceInfoList, GlobalFree) do not belong in `calls`. Returns whether a failure is armed.
inline bool ArmFailure(FuzzInput& input, std::initializer_list<const char*> calls) {
    static const DWORD errors[] = {ERROR_ACCESS_DENIED,       ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA,
                                   ERROR_NOT_ENOUGH_MEMORY,   ERROR_INVALID_HANDLE, ERROR_NO_MORE_ITEMS,
                                   ERROR_INSUFFICIENT_BUFFER, ERROR_PATH_NOT_FOUND, ERROR_INVALID_DATA,
                                   ERROR_GEN_FAILURE};
    size_t choice = input.Byte();
    unsigned skip = input.Byte() % 8;
    DWORD error = errors[input.Byte() % (sizeof errors / sizeof errors[0])];
    if (choice >= calls.size()) {
        return false;
    }
    winsim::FailCall(*(calls.begin() + choice), error, skip);
    return true;
}

// Handles the code under test opened and must have closed; the caller first gives back what it holds.
inline void ExpectNothingLeftOpen(const char* after) {
    std::string context = std::string(" after ") + after;
    Expect(winsim::OpenKeyCount() == 0, "registry keys left open" + context);
    Expect(winsim::OpenDeviceSetCount() == 0, "device information sets left open" + context);
    Expect(winsim::OpenPrinterCount() == 0, "printer handles left open" + context);
    Expect(winsim::GlobalBlockCount() == 0, "GlobalAlloc blocks left" + context);
    Expect(winsim::HeapBlockCount() == 0, "process heap blocks left" + context);
}

// Names as the registry and the spooler compare them (the simulation folds ASCII letters only).
inline bool SameName(const std::u16string& left, const std::u16string& right) {
    auto fold = [](char16_t unit) { return unit >= u'a' && unit <= u'z' ? char16_t(unit - 32) : unit; };
    if (left.size() != right.size()) {
        return false;
    }
    for (size_t i = 0; i < left.size(); ++i) {
        if (fold(left[i]) != fold(right[i])) {
            return false;
        }
    }
    return true;
}

inline bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

} // namespace fuzz
