// CRegistryKey's reads of a value that the input makes: any type, any length, text with or without its
// terminating NUL, under a fixed, the default or any other name, through a key opened in any mode.
// Every read form is called, and the query they are built on is made with buffers of the sizes around
// the value's length, each exactly that large, so that a write past a buffer shows.
//
// Input: type (4 bytes), data (blob), name choice (byte: 0 fixed, 1 default value, 2 the next blob),
// access mode (byte), an armed failure (3 bytes), a further buffer size (2 bytes).
#include "coinstaller/registry_key.h"
#include "platform/portability.h"
#include "simulated_world.h"

#include <cstdlib>
#include <cstring>

using fuzz::Expect;

namespace {

const std::u16string keyPath = u"Software\\Orvale\\Fuzz";
const WCHAR* const absentName = W("AbsentValue");

struct Value {
    DWORD type = 0;
    winsim::Bytes data;
    std::u16string name;
};

bool IsDwordType(DWORD type) {
    return type == REG_DWORD || type == REG_DWORD_BIG_ENDIAN;
}

std::u16string Text(const WideString& text) {
    return std::u16string(text.c_str(), text.Length());
}

// Either read form of ReadDword, with what a sound read must and must not have done.
void CheckDwordRead(bool read, DWORD readValue, const CRegistryKey& key, const Value& value, bool exact) {
    const DWORD before = 0xA5A5A5A5;
    if (read) {
        Expect(IsDwordType(value.type), "ReadDword accepted type " + std::to_string(value.type));
        Expect(value.data.size() <= sizeof(DWORD),
               "ReadDword accepted " + std::to_string(value.data.size()) + " bytes");
        Expect(value.data.empty() || std::memcmp(&readValue, value.data.data(), value.data.size()) == 0,
               "ReadDword did not deliver the stored bytes");
    }
    if (exact) {
        Expect(read == (IsDwordType(value.type) && value.data.size() <= sizeof(DWORD)),
               "ReadDword answered " + std::to_string(read) + " for type " + std::to_string(value.type) +
                   " of " + std::to_string(value.data.size()) + " bytes");
        if (value.data.size() > sizeof(DWORD)) {
            Expect(key.LastError() == ERROR_MORE_DATA && readValue == before,
                   "ReadDword of a long value did not fail with ERROR_MORE_DATA, untouched");
        }
    }
}

// Either read form of ReadString.
void CheckStringRead(bool read, const WideString& text, const Value& value, bool exact) {
    if (read) {
        Expect(fuzz::IsStringType(value.type), "ReadString accepted type " + std::to_string(value.type));
        Expect(Text(text) == Utf16Text(value.data), "ReadString did not deliver the stored text");
    } else {
        Expect(Text(text) == u"unchanged", "a failed ReadString changed its result");
    }
    if (exact) {
        Expect(read == (fuzz::IsStringType(value.type) && !value.data.empty()),
               "ReadString answered " + std::to_string(read) + " for type " + std::to_string(value.type) +
                   " of " + std::to_string(value.data.size()) + " bytes");
    }
}

void ReadThroughWrapper(const Value& value, RegistryAccessMode mode, bool failureArmed) {
    CRegistryKey key;
    WideString path(keyPath.c_str(), keyPath.size());
    key.Open(HKEY_LOCAL_MACHINE, path, mode);
    // Without an armed failure the outcome is known exactly when the key grants the query right.
    bool exact = !failureArmed && key.IsOpen() && (mode == AccessRead || mode == AccessAll);
    WideString name(value.name.c_str(), value.name.size());

    DWORD number = 0xA5A5A5A5;
    CheckDwordRead(key.ReadDword(name.c_str(), number), number, key, value, exact);
    number = 0xA5A5A5A5;
    CheckDwordRead(key.ReadDword(name, number), number, key, value, exact);

    WideString text(W("unchanged"));
    CheckStringRead(key.ReadString(name.c_str(), text), text, value, exact);
    text.Assign(W("unchanged"));
    CheckStringRead(key.ReadString(name, text), text, value, exact);

    number = 0;
    text.Assign(W("unchanged"));
    bool readAbsent = key.ReadDword(absentName, number) || key.ReadString(absentName, text);
    bool namesAbsent = fuzz::SameName(value.name, u"AbsentValue");
    Expect(!readAbsent || namesAbsent, "a read of an absent value succeeded");
    if (exact && !namesAbsent) {
        Expect(key.LastError() == ERROR_FILE_NOT_FOUND,
               "an absent value did not read as ERROR_FILE_NOT_FOUND");
    }
    key.Close();
}

// The query under the wrapper, with a buffer of exactly `size` bytes.
void QueryWithBuffer(HKEY handle, const Value& value, size_t size) {
    BYTE* buffer = static_cast<BYTE*>(std::malloc(size == 0 ? 1 : size));
    if (buffer == nullptr) {
        return;
    }
    DWORD type = REG_NONE;
    DWORD returned = static_cast<DWORD>(size);
    LSTATUS status =
        RegQueryValueExW(handle, value.name.c_str(), nullptr, &type, size == 0 ? nullptr : buffer, &returned);
    if (status == ERROR_SUCCESS) {
        Expect(returned == value.data.size() && type == value.type, "the query reported another value");
        Expect(size == 0 || value.data.empty() ||
                   std::memcmp(buffer, value.data.data(), value.data.size()) == 0,
               "the query delivered other bytes");
    } else if (status == ERROR_MORE_DATA) {
        Expect(returned == value.data.size() && size < value.data.size(),
               "ERROR_MORE_DATA for a buffer that holds the value");
    }
    std::free(buffer);
}

void QueryWithBuffersAround(const Value& value, size_t extraSize) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return;
    }
    size_t length = value.data.size();
    const size_t sizes[] = {0,      1,          2,        3, 4, 5, 260, 520, length == 0 ? 0 : length - 1,
                            length, length + 1, extraSize};
    for (size_t size : sizes) {
        QueryWithBuffer(handle, value, size);
    }
    RegCloseKey(handle);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput input(data, size);
    fuzz::StartInput();

    Value value;
    value.type = input.Dword();
    std::vector<uint8_t> bytes = input.Blob();
    value.data.assign(bytes.begin(), bytes.end());
    switch (input.Byte() % 3) {
    case 0:
        value.name = u"Value";
        break;
    case 1:
        value.name = u""; // the key's default value
        break;
    default:
        value.name = input.Name();
        break;
    }
    auto mode = static_cast<RegistryAccessMode>(input.Byte() % 4);
    winsim::SetValue(HKEY_LOCAL_MACHINE, keyPath, value.name, value.type, value.data);

    bool failureArmed = fuzz::ArmFailure(input, {"RegOpenKeyExW", "RegQueryValueExW"});
    size_t extraSize = input.Word();
    ReadThroughWrapper(value, mode, failureArmed);
    winsim::ClearFailures();
    QueryWithBuffersAround(value, extraSize);
    fuzz::ExpectNothingLeftOpen("the reads");
    return 0;
}
