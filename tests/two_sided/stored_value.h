// A registry value as the checks of both sides read it back: the status of the key's open or of the
// query, the value's type and its bytes.
#pragma once

#include "tests/two_sided/utf16_text.h"

#include "platform/platform.h"

#include <string>
#include <vector>

struct StoredValue {
    LONG status = ERROR_FILE_NOT_FOUND;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;

    bool Exists() const { return status == ERROR_SUCCESS; }
    // The data as a DWORD; 0 unless it holds exactly four bytes.
    DWORD AsDword() const {
        DWORD value = 0;
        if (data.size() == sizeof(value)) {
            value = static_cast<DWORD>(data[0] | data[1] << 8 | data[2] << 16 |
                                       static_cast<DWORD>(data[3]) << 24);
        }
        return value;
    }
    // The data as UTF-16 text up to its first NUL.
    std::basic_string<WCHAR> AsText() const { return Utf16Text(data); }
};
