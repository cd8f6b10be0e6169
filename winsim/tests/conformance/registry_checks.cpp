// Registry behaviour the co-installer relies on: statuses of opens and creates, access rights carried by
// handles, RegQueryValueExW's size protocol, letter case of names, deleted keys and closed handles.
#include "conformance.h"

#include <cstring>

namespace {

const WCHAR* const kRoot = W("Software\\VracoinsConformance");
const WCHAR* const kSettings = W("Software\\VracoinsConformance\\OV Print Settings");
const HKEY kBogusKey = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));

HKEY CreateSettings(REGSAM access) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, kSettings, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     access, nullptr, &key, nullptr);
    CHECK(status == ERROR_SUCCESS, "creating the settings key: status %ld", static_cast<long>(status));
    return key;
}

void SetDword(HKEY key, const WCHAR* name, DWORD value) {
    LSTATUS status = RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    CHECK(status == ERROR_SUCCESS, "writing %s: status %ld", Narrow(name).c_str(), static_cast<long>(status));
}

} // namespace

CONFORMANCE_CHECK(OpeningAMissingKeyFailsWithFileNotFoundAndNoHandle) {
    world.Clear();
    HKEY key = kBogusKey;
    LSTATUS status =
        RegOpenKeyExW(HKEY_CURRENT_USER, W("Software\\VracoinsConformance\\Missing"), 0, KEY_READ, &key);
    CHECK(status == ERROR_FILE_NOT_FOUND, "got status %ld", static_cast<long>(status));
    CHECK(key == nullptr, "got handle %p", static_cast<void*>(key));
}

CONFORMANCE_CHECK(CreateReportsANewKeyThenAnExistingOne) {
    world.Clear();
    HKEY key = nullptr;
    DWORD disposition = 0;
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, kSettings, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_ALL_ACCESS, nullptr, &key, &disposition);
    CHECK(status == ERROR_SUCCESS, "got status %ld", static_cast<long>(status));
    CHECK(disposition == REG_CREATED_NEW_KEY, "got disposition %lu", static_cast<unsigned long>(disposition));
    RegCloseKey(key);
    status = RegCreateKeyExW(HKEY_CURRENT_USER, kSettings, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &key, &disposition);
    CHECK(status == ERROR_SUCCESS, "got status %ld", static_cast<long>(status));
    CHECK(disposition == REG_OPENED_EXISTING_KEY, "got disposition %lu",
          static_cast<unsigned long>(disposition));
    RegCloseKey(key);
    status = RegOpenKeyExW(HKEY_CURRENT_USER, kRoot, 0, KEY_READ, &key);
    CHECK(status == ERROR_SUCCESS, "the middle level must exist too: status %ld", static_cast<long>(status));
    RegCloseKey(key);
    key = kBogusKey;
    status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettings, 0, KEY_READ, &key);
    CHECK(status == ERROR_FILE_NOT_FOUND && key == nullptr,
          "HKEY_LOCAL_MACHINE is another tree: status %ld, handle %p", static_cast<long>(status),
          static_cast<void*>(key));
}

CONFORMANCE_CHECK(KeyAndValueNamesIgnoreLetterCase) {
    world.Clear();
    HKEY key = CreateSettings(KEY_ALL_ACCESS);
    SetDword(key, W("InstallContext"), 2);
    RegCloseKey(key);
    LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, W("SOFTWARE\\VRACOINSCONFORMANCE\\ov print settings"),
                                   0, KEY_READ | KEY_SET_VALUE, &key);
    CHECK(status == ERROR_SUCCESS, "got status %ld", static_cast<long>(status));
    DWORD value = 0;
    DWORD size = sizeof(value);
    status =
        RegQueryValueExW(key, W("installcontext"), nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    CHECK(status == ERROR_SUCCESS && value == 2, "got status %ld, value %lu", static_cast<long>(status),
          static_cast<unsigned long>(value));
    status = RegDeleteValueW(key, W("INSTALLCONTEXT"));
    CHECK(status == ERROR_SUCCESS, "delete: status %ld", static_cast<long>(status));
    status = RegQueryValueExW(key, W("InstallContext"), nullptr, nullptr, nullptr, &size);
    CHECK(status == ERROR_FILE_NOT_FOUND, "query after the delete: status %ld", static_cast<long>(status));
    RegCloseKey(key);
}

CONFORMANCE_CHECK(AnEmptyOrNullSubkeyOpensAnotherHandleToTheSameKey) {
    world.Clear();
    HKEY writer = CreateSettings(KEY_WRITE);
    HKEY all = nullptr;
    LSTATUS status = RegOpenKeyExW(writer, nullptr, 0, KEY_ALL_ACCESS, &all);
    CHECK(status == ERROR_SUCCESS && all != nullptr && all != writer, "null subkey: status %ld, handle %p",
          static_cast<long>(status), static_cast<void*>(all));
    HKEY reader = nullptr;
    status = RegOpenKeyExW(writer, W(""), 0, KEY_READ, &reader);
    CHECK(status == ERROR_SUCCESS && reader != nullptr && reader != writer && reader != all,
          "empty subkey: status %ld", static_cast<long>(status));
    SetDword(all, W("PortName"), 7);
    DWORD value = 0;
    DWORD size = sizeof(value);
    status =
        RegQueryValueExW(reader, W("PortName"), nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    CHECK(status == ERROR_SUCCESS && value == 7, "got status %ld, value %lu", static_cast<long>(status),
          static_cast<unsigned long>(value));
    RegCloseKey(writer);
    RegCloseKey(all);
    RegCloseKey(reader);
}

CONFORMANCE_CHECK(HandlesAreLimitedToTheirAccessRights) {
    world.Clear();
    HKEY all = CreateSettings(KEY_ALL_ACCESS);
    SetDword(all, W("InstallContext"), 2);
    HKEY writer = nullptr;
    HKEY reader = nullptr;
    HKEY none = nullptr;
    RegOpenKeyExW(HKEY_CURRENT_USER, kSettings, 0, KEY_WRITE, &writer);
    RegOpenKeyExW(HKEY_CURRENT_USER, kSettings, 0, KEY_READ, &reader);
    LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, kSettings, 0, 0, &none);
    CHECK(status == ERROR_SUCCESS, "opening with no rights: status %ld", static_cast<long>(status));
    DWORD value = 3;
    DWORD size = sizeof(value);
    status = RegQueryValueExW(writer, W("InstallContext"), nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                              &size);
    CHECK(status == ERROR_ACCESS_DENIED, "query through KEY_WRITE: status %ld", static_cast<long>(status));
    status =
        RegSetValueExW(reader, W("InstallContext"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    CHECK(status == ERROR_ACCESS_DENIED, "write through KEY_READ: status %ld", static_cast<long>(status));
    status = RegDeleteValueW(reader, W("InstallContext"));
    CHECK(status == ERROR_ACCESS_DENIED, "delete through KEY_READ: status %ld", static_cast<long>(status));
    status = RegQueryValueExW(none, W("InstallContext"), nullptr, nullptr, nullptr, &size);
    CHECK(status == ERROR_ACCESS_DENIED, "query through no rights: status %ld", static_cast<long>(status));
    status =
        RegSetValueExW(none, W("InstallContext"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    CHECK(status == ERROR_ACCESS_DENIED, "write through no rights: status %ld", static_cast<long>(status));
    status =
        RegSetValueExW(writer, W("InstallContext"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    CHECK(status == ERROR_SUCCESS, "write through KEY_WRITE: status %ld", static_cast<long>(status));
    DWORD stored = 0;
    size = sizeof(stored);
    status = RegQueryValueExW(reader, W("InstallContext"), nullptr, nullptr, reinterpret_cast<BYTE*>(&stored),
                              &size);
    CHECK(status == ERROR_SUCCESS && stored == 3,
          "only the KEY_WRITE handle changed the value: status %ld, value %lu", static_cast<long>(status),
          static_cast<unsigned long>(stored));
    RegCloseKey(all);
    RegCloseKey(writer);
    RegCloseKey(reader);
    RegCloseKey(none);
}

CONFORMANCE_CHECK(QueriesReportTypeAndSizeAndTheBytesAsWritten) {
    world.Clear();
    HKEY key = CreateSettings(KEY_ALL_ACCESS);
    const WCHAR text[] = W("Queue");
    RegSetValueExW(key, W("Name"), 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof(text));
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, W("Name"), nullptr, &type, nullptr, &size);
    CHECK(status == ERROR_SUCCESS, "got status %ld", static_cast<long>(status));
    CHECK(type == REG_SZ && size == sizeof(text), "got type %lu, size %lu", static_cast<unsigned long>(type),
          static_cast<unsigned long>(size));
    BYTE read[sizeof(text)] = {};
    size = sizeof(read);
    status = RegQueryValueExW(key, W("Name"), nullptr, &type, read, &size);
    CHECK(status == ERROR_SUCCESS && type == REG_SZ && size == sizeof(text) &&
              std::memcmp(read, text, sizeof(text)) == 0,
          "read: status %ld, type %lu, size %lu", static_cast<long>(status), static_cast<unsigned long>(type),
          static_cast<unsigned long>(size));
    RegCloseKey(key);
}

CONFORMANCE_CHECK(ATooSmallBufferGetsMoreDataAndTheNeededSize) {
    world.Clear();
    HKEY key = CreateSettings(KEY_ALL_ACCESS);
    const BYTE wide[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    RegSetValueExW(key, W("Wide"), 0, REG_QWORD, wide, 8);
    BYTE buffer[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    DWORD size = sizeof(buffer);
    DWORD type = 0;
    LSTATUS status = RegQueryValueExW(key, W("Wide"), nullptr, &type, buffer, &size);
    CHECK(status == ERROR_MORE_DATA, "got status %ld", static_cast<long>(status));
    CHECK(size == 8 && type == REG_QWORD, "got size %lu, type %lu", static_cast<unsigned long>(size),
          static_cast<unsigned long>(type));
    RegCloseKey(key);
}

CONFORMANCE_CHECK(AFourByteBinaryValueFillsADword) {
    world.Clear();
    HKEY key = CreateSettings(KEY_ALL_ACCESS);
    const BYTE bytes[4] = {0, 0, 0, 2};
    RegSetValueExW(key, W("InstallContext"), 0, REG_BINARY, bytes, 4);
    DWORD value = 0;
    DWORD size = sizeof(value);
    DWORD type = 0;
    LSTATUS status =
        RegQueryValueExW(key, W("InstallContext"), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    CHECK(status == ERROR_SUCCESS && type == REG_BINARY && size == 4, "got status %ld, type %lu, size %lu",
          static_cast<long>(status), static_cast<unsigned long>(type), static_cast<unsigned long>(size));
    CHECK(std::memcmp(&value, bytes, 4) == 0, "got value %#lx", static_cast<unsigned long>(value));
    RegCloseKey(key);
}

CONFORMANCE_CHECK(MissingValuesAreFileNotFound) {
    world.Clear();
    HKEY key = CreateSettings(KEY_ALL_ACCESS);
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, W("Missing"), nullptr, nullptr, nullptr, &size);
    CHECK(status == ERROR_FILE_NOT_FOUND, "query: status %ld", static_cast<long>(status));
    status = RegDeleteValueW(key, W("Missing"));
    CHECK(status == ERROR_FILE_NOT_FOUND, "delete: status %ld", static_cast<long>(status));
    RegCloseKey(key);
}

CONFORMANCE_CHECK(EmptyStringsAndZeroByteValuesKeepTheirSize) {
    world.Clear();
    HKEY key = CreateSettings(KEY_ALL_ACCESS);
    const WCHAR empty[] = W("");
    RegSetValueExW(key, W("OnlyNul"), 0, REG_SZ, reinterpret_cast<const BYTE*>(empty), sizeof(empty));
    RegSetValueExW(key, W("NoBytes"), 0, REG_SZ, nullptr, 0);
    DWORD size = 99;
    LSTATUS status = RegQueryValueExW(key, W("OnlyNul"), nullptr, nullptr, nullptr, &size);
    CHECK(status == ERROR_SUCCESS && size == sizeof(WCHAR), "one NUL: status %ld, size %lu",
          static_cast<long>(status), static_cast<unsigned long>(size));
    size = 99;
    status = RegQueryValueExW(key, W("NoBytes"), nullptr, nullptr, nullptr, &size);
    CHECK(status == ERROR_SUCCESS && size == 0, "no bytes: status %ld, size %lu", static_cast<long>(status),
          static_cast<unsigned long>(size));
    RegCloseKey(key);
}

CONFORMANCE_CHECK(HandlesOfDeletedKeysAnswerKeyDeleted) {
    world.Clear();
    HKEY key = CreateSettings(KEY_ALL_ACCESS);
    SetDword(key, W("InstallContext"), 2);
    world.DeleteKeyTree(HKEY_CURRENT_USER, kRoot);
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, W("InstallContext"), nullptr, nullptr, nullptr, &size);
    CHECK(status == ERROR_KEY_DELETED, "query: status %ld", static_cast<long>(status));
    DWORD value = 1;
    status = RegSetValueExW(key, W("InstallContext"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    CHECK(status == ERROR_KEY_DELETED, "write: status %ld", static_cast<long>(status));
    HKEY reopened = kBogusKey;
    status = RegOpenKeyExW(HKEY_CURRENT_USER, kSettings, 0, KEY_READ, &reopened);
    CHECK(status == ERROR_FILE_NOT_FOUND, "the write must not revive the key: status %ld",
          static_cast<long>(status));
    status = RegCloseKey(key);
    CHECK(status == ERROR_SUCCESS, "close: status %ld", static_cast<long>(status));
}

CONFORMANCE_CHECK(AClosedHandleIsInvalid) {
    world.Clear();
    HKEY key = CreateSettings(KEY_READ);
    LSTATUS status = RegCloseKey(key);
    CHECK(status == ERROR_SUCCESS, "first close: status %ld", static_cast<long>(status));
    DWORD size = 0;
    status = RegQueryValueExW(key, W("Any"), nullptr, nullptr, nullptr, &size);
    CHECK(status == ERROR_INVALID_HANDLE, "query through a closed handle: status %ld",
          static_cast<long>(status));
    status = RegCloseKey(key);
    CHECK(status == ERROR_INVALID_HANDLE, "closing it again: status %ld", static_cast<long>(status));
    status = RegCloseKey(HKEY_CURRENT_USER);
    CHECK(status == ERROR_SUCCESS, "closing a predefined key: status %ld", static_cast<long>(status));
}

CONFORMANCE_CHECK(RestrictedKeysRefuseOpensForMoreRights) {
    world.Clear();
    HKEY key = CreateSettings(KEY_ALL_ACCESS);
    RegCloseKey(key);
    SKIP_UNLESS_PREPARED(world.RestrictKeyAccess(HKEY_CURRENT_USER, kSettings, KEY_READ));
    key = kBogusKey;
    LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, kSettings, 0, KEY_WRITE, &key);
    CHECK(status == ERROR_ACCESS_DENIED, "got status %ld", static_cast<long>(status));
    CHECK(key == nullptr, "got handle %p", static_cast<void*>(key));
    status = RegCreateKeyExW(HKEY_CURRENT_USER, kSettings, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    CHECK(status == ERROR_ACCESS_DENIED, "creating it for KEY_WRITE: status %ld", static_cast<long>(status));
    const WCHAR* const below = W("Software\\VracoinsConformance\\OV Print Settings\\Sub");
    status = RegCreateKeyExW(HKEY_CURRENT_USER, below, 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr);
    CHECK(status == ERROR_ACCESS_DENIED, "a subkey below a key without KEY_CREATE_SUB_KEY: status %ld",
          static_cast<long>(status));
    status = RegOpenKeyExW(HKEY_CURRENT_USER, below, 0, KEY_READ, &key);
    CHECK(status == ERROR_FILE_NOT_FOUND, "the subkey must not exist: status %ld", static_cast<long>(status));
    status = RegOpenKeyExW(HKEY_CURRENT_USER, kSettings, 0, KEY_READ, &key);
    CHECK(status == ERROR_SUCCESS, "KEY_READ is still granted: status %ld", static_cast<long>(status));
    RegCloseKey(key);
}

CONFORMANCE_CHECK(MalformedCallsAreRefusedWithTheirOwnStatuses) {
    world.Clear();
    HKEY key = CreateSettings(KEY_ALL_ACCESS);
    HKEY other = kBogusKey;
    LSTATUS status =
        RegOpenKeyExW(HKEY_CURRENT_USER, W("\\Software\\VracoinsConformance"), 0, KEY_READ, &other);
    CHECK(status == 161 /* ERROR_BAD_PATHNAME */ && other == nullptr, "leading backslash: status %ld",
          static_cast<long>(status));
    status = RegSetValueExW(key, W("Value"), 0, REG_BINARY, nullptr, 4);
    CHECK(status == 998 /* ERROR_NOACCESS */, "no data for 4 bytes: status %ld", static_cast<long>(status));
    const BYTE bytes[4] = {1, 2, 3, 4};
    RegSetValueExW(key, W("Value"), 0, REG_BINARY, bytes, 4);
    BYTE buffer[4];
    status = RegQueryValueExW(key, W("Value"), nullptr, nullptr, buffer, nullptr);
    CHECK(status == ERROR_INVALID_PARAMETER, "a buffer without its size: status %ld",
          static_cast<long>(status));
    status = RegQueryValueExW(key, W("Value"), nullptr, nullptr, nullptr, nullptr);
    CHECK(status == ERROR_SUCCESS, "neither buffer nor size: status %ld", static_cast<long>(status));
    RegCloseKey(key);
}
