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
    EXPECT_TRUE(status == ERROR_SUCCESS)
        << Formatted("creating the settings key: status %ld", static_cast<long>(status));
    return key;
}

void SetDword(HKEY key, const WCHAR* name, DWORD value) {
    LSTATUS status = RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    EXPECT_TRUE(status == ERROR_SUCCESS)
        << Formatted("writing %s: status %ld", Narrow(name).c_str(), static_cast<long>(status));
}

} // namespace

TEST_F(ConformanceCheck, OpeningAMissingKeyFailsWithFileNotFoundAndNoHandle) {
    world.Clear();
    HKEY key = kBogusKey;
    LSTATUS status =
        RegOpenKeyExW(HKEY_CURRENT_USER, W("Software\\VracoinsConformance\\Missing"), 0, KEY_READ, &key);
    EXPECT_TRUE(status == ERROR_FILE_NOT_FOUND) << Formatted("got status %ld", static_cast<long>(status));
    EXPECT_TRUE(key == nullptr) << Formatted("got handle %p", static_cast<void*>(key));
}

TEST_F(ConformanceCheck, CreateReportsANewKeyThenAnExistingOne) {
    world.Clear();
    HKEY key = nullptr;
    DWORD disposition = 0;
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, kSettings, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_ALL_ACCESS, nullptr, &key, &disposition);
    EXPECT_TRUE(status == ERROR_SUCCESS) << Formatted("got status %ld", static_cast<long>(status));
    EXPECT_TRUE(disposition == REG_CREATED_NEW_KEY)
        << Formatted("got disposition %lu", static_cast<unsigned long>(disposition));
    RegCloseKey(key);
    status = RegCreateKeyExW(HKEY_CURRENT_USER, kSettings, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &key, &disposition);
    EXPECT_TRUE(status == ERROR_SUCCESS) << Formatted("got status %ld", static_cast<long>(status));
    EXPECT_TRUE(disposition == REG_OPENED_EXISTING_KEY)
        << Formatted("got disposition %lu", static_cast<unsigned long>(disposition));
    RegCloseKey(key);
    status = RegOpenKeyExW(HKEY_CURRENT_USER, kRoot, 0, KEY_READ, &key);
    EXPECT_TRUE(status == ERROR_SUCCESS)
        << Formatted("the middle level must exist too: status %ld", static_cast<long>(status));
    RegCloseKey(key);
    key = kBogusKey;
    status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettings, 0, KEY_READ, &key);
    EXPECT_TRUE(status == ERROR_FILE_NOT_FOUND && key == nullptr)
        << Formatted("HKEY_LOCAL_MACHINE is another tree: status %ld, handle %p", static_cast<long>(status),
                     static_cast<void*>(key));
}

TEST_F(ConformanceCheck, KeyAndValueNamesIgnoreLetterCase) {
    world.Clear();
    HKEY key = CreateSettings(KEY_ALL_ACCESS);
    SetDword(key, W("InstallContext"), 2);
    RegCloseKey(key);
    LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, W("SOFTWARE\\VRACOINSCONFORMANCE\\ov print settings"),
                                   0, KEY_READ | KEY_SET_VALUE, &key);
    EXPECT_TRUE(status == ERROR_SUCCESS) << Formatted("got status %ld", static_cast<long>(status));
    DWORD value = 0;
    DWORD size = sizeof(value);
    status =
        RegQueryValueExW(key, W("installcontext"), nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    EXPECT_TRUE(status == ERROR_SUCCESS && value == 2) << Formatted(
        "got status %ld, value %lu", static_cast<long>(status), static_cast<unsigned long>(value));
    status = RegDeleteValueW(key, W("INSTALLCONTEXT"));
    EXPECT_TRUE(status == ERROR_SUCCESS) << Formatted("delete: status %ld", static_cast<long>(status));
    status = RegQueryValueExW(key, W("InstallContext"), nullptr, nullptr, nullptr, &size);
    EXPECT_TRUE(status == ERROR_FILE_NOT_FOUND)
        << Formatted("query after the delete: status %ld", static_cast<long>(status));
    RegCloseKey(key);
}

TEST_F(ConformanceCheck, AnEmptyOrNullSubkeyOpensAnotherHandleToTheSameKey) {
    world.Clear();
    HKEY writer = CreateSettings(KEY_WRITE);
    HKEY all = nullptr;
    LSTATUS status = RegOpenKeyExW(writer, nullptr, 0, KEY_ALL_ACCESS, &all);
    EXPECT_TRUE(status == ERROR_SUCCESS && all != nullptr && all != writer) << Formatted(
        "null subkey: status %ld, handle %p", static_cast<long>(status), static_cast<void*>(all));
    HKEY reader = nullptr;
    status = RegOpenKeyExW(writer, W(""), 0, KEY_READ, &reader);
    EXPECT_TRUE(status == ERROR_SUCCESS && reader != nullptr && reader != writer && reader != all)
        << Formatted("empty subkey: status %ld", static_cast<long>(status));
    SetDword(all, W("PortName"), 7);
    DWORD value = 0;
    DWORD size = sizeof(value);
    status =
        RegQueryValueExW(reader, W("PortName"), nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    EXPECT_TRUE(status == ERROR_SUCCESS && value == 7) << Formatted(
        "got status %ld, value %lu", static_cast<long>(status), static_cast<unsigned long>(value));
    RegCloseKey(writer);
    RegCloseKey(all);
    RegCloseKey(reader);
}

TEST_F(ConformanceCheck, HandlesAreLimitedToTheirAccessRights) {
    world.Clear();
    HKEY all = CreateSettings(KEY_ALL_ACCESS);
    SetDword(all, W("InstallContext"), 2);
    HKEY writer = nullptr;
    HKEY reader = nullptr;
    HKEY none = nullptr;
    RegOpenKeyExW(HKEY_CURRENT_USER, kSettings, 0, KEY_WRITE, &writer);
    RegOpenKeyExW(HKEY_CURRENT_USER, kSettings, 0, KEY_READ, &reader);
    LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, kSettings, 0, 0, &none);
    EXPECT_TRUE(status == ERROR_SUCCESS)
        << Formatted("opening with no rights: status %ld", static_cast<long>(status));
    DWORD value = 3;
    DWORD size = sizeof(value);
    status = RegQueryValueExW(writer, W("InstallContext"), nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                              &size);
    EXPECT_TRUE(status == ERROR_ACCESS_DENIED)
        << Formatted("query through KEY_WRITE: status %ld", static_cast<long>(status));
    status =
        RegSetValueExW(reader, W("InstallContext"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    EXPECT_TRUE(status == ERROR_ACCESS_DENIED)
        << Formatted("write through KEY_READ: status %ld", static_cast<long>(status));
    status = RegDeleteValueW(reader, W("InstallContext"));
    EXPECT_TRUE(status == ERROR_ACCESS_DENIED)
        << Formatted("delete through KEY_READ: status %ld", static_cast<long>(status));
    status = RegQueryValueExW(none, W("InstallContext"), nullptr, nullptr, nullptr, &size);
    EXPECT_TRUE(status == ERROR_ACCESS_DENIED)
        << Formatted("query through no rights: status %ld", static_cast<long>(status));
    status =
        RegSetValueExW(none, W("InstallContext"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    EXPECT_TRUE(status == ERROR_ACCESS_DENIED)
        << Formatted("write through no rights: status %ld", static_cast<long>(status));
    status =
        RegSetValueExW(writer, W("InstallContext"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    EXPECT_TRUE(status == ERROR_SUCCESS)
        << Formatted("write through KEY_WRITE: status %ld", static_cast<long>(status));
    DWORD stored = 0;
    size = sizeof(stored);
    status = RegQueryValueExW(reader, W("InstallContext"), nullptr, nullptr, reinterpret_cast<BYTE*>(&stored),
                              &size);
    EXPECT_TRUE(status == ERROR_SUCCESS && stored == 3)
        << Formatted("only the KEY_WRITE handle changed the value: status %ld, value %lu",
                     static_cast<long>(status), static_cast<unsigned long>(stored));
    RegCloseKey(all);
    RegCloseKey(writer);
    RegCloseKey(reader);
    RegCloseKey(none);
}

TEST_F(ConformanceCheck, QueriesReportTypeAndSizeAndTheBytesAsWritten) {
    world.Clear();
    HKEY key = CreateSettings(KEY_ALL_ACCESS);
    const WCHAR text[] = W("Queue");
    RegSetValueExW(key, W("Name"), 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof(text));
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, W("Name"), nullptr, &type, nullptr, &size);
    EXPECT_TRUE(status == ERROR_SUCCESS) << Formatted("got status %ld", static_cast<long>(status));
    EXPECT_TRUE(type == REG_SZ && size == sizeof(text)) << Formatted(
        "got type %lu, size %lu", static_cast<unsigned long>(type), static_cast<unsigned long>(size));
    BYTE read[sizeof(text)] = {};
    size = sizeof(read);
    status = RegQueryValueExW(key, W("Name"), nullptr, &type, read, &size);
    EXPECT_TRUE(status == ERROR_SUCCESS && type == REG_SZ && size == sizeof(text) &&
                std::memcmp(read, text, sizeof(text)) == 0)
        << Formatted("read: status %ld, type %lu, size %lu", static_cast<long>(status),
                     static_cast<unsigned long>(type), static_cast<unsigned long>(size));
    RegCloseKey(key);
}

TEST_F(ConformanceCheck, ATooSmallBufferGetsMoreDataAndTheNeededSize) {
    world.Clear();
    HKEY key = CreateSettings(KEY_ALL_ACCESS);
    const BYTE wide[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    RegSetValueExW(key, W("Wide"), 0, REG_QWORD, wide, 8);
    BYTE buffer[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    DWORD size = sizeof(buffer);
    DWORD type = 0;
    LSTATUS status = RegQueryValueExW(key, W("Wide"), nullptr, &type, buffer, &size);
    EXPECT_TRUE(status == ERROR_MORE_DATA) << Formatted("got status %ld", static_cast<long>(status));
    EXPECT_TRUE(size == 8 && type == REG_QWORD) << Formatted(
        "got size %lu, type %lu", static_cast<unsigned long>(size), static_cast<unsigned long>(type));
    RegCloseKey(key);
}

TEST_F(ConformanceCheck, AFourByteBinaryValueFillsADword) {
    world.Clear();
    HKEY key = CreateSettings(KEY_ALL_ACCESS);
    const BYTE bytes[4] = {0, 0, 0, 2};
    RegSetValueExW(key, W("InstallContext"), 0, REG_BINARY, bytes, 4);
    DWORD value = 0;
    DWORD size = sizeof(value);
    DWORD type = 0;
    LSTATUS status =
        RegQueryValueExW(key, W("InstallContext"), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    EXPECT_TRUE(status == ERROR_SUCCESS && type == REG_BINARY && size == 4)
        << Formatted("got status %ld, type %lu, size %lu", static_cast<long>(status),
                     static_cast<unsigned long>(type), static_cast<unsigned long>(size));
    EXPECT_TRUE(std::memcmp(&value, bytes, 4) == 0)
        << Formatted("got value %#lx", static_cast<unsigned long>(value));
    RegCloseKey(key);
}

TEST_F(ConformanceCheck, MissingValuesAreFileNotFound) {
    world.Clear();
    HKEY key = CreateSettings(KEY_ALL_ACCESS);
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, W("Missing"), nullptr, nullptr, nullptr, &size);
    EXPECT_TRUE(status == ERROR_FILE_NOT_FOUND) << Formatted("query: status %ld", static_cast<long>(status));
    status = RegDeleteValueW(key, W("Missing"));
    EXPECT_TRUE(status == ERROR_FILE_NOT_FOUND) << Formatted("delete: status %ld", static_cast<long>(status));
    RegCloseKey(key);
}

TEST_F(ConformanceCheck, EmptyStringsAndZeroByteValuesKeepTheirSize) {
    world.Clear();
    HKEY key = CreateSettings(KEY_ALL_ACCESS);
    const WCHAR empty[] = W("");
    RegSetValueExW(key, W("OnlyNul"), 0, REG_SZ, reinterpret_cast<const BYTE*>(empty), sizeof(empty));
    RegSetValueExW(key, W("NoBytes"), 0, REG_SZ, nullptr, 0);
    DWORD size = 99;
    LSTATUS status = RegQueryValueExW(key, W("OnlyNul"), nullptr, nullptr, nullptr, &size);
    EXPECT_TRUE(status == ERROR_SUCCESS && size == sizeof(WCHAR)) << Formatted(
        "one NUL: status %ld, size %lu", static_cast<long>(status), static_cast<unsigned long>(size));
    size = 99;
    status = RegQueryValueExW(key, W("NoBytes"), nullptr, nullptr, nullptr, &size);
    EXPECT_TRUE(status == ERROR_SUCCESS && size == 0) << Formatted(
        "no bytes: status %ld, size %lu", static_cast<long>(status), static_cast<unsigned long>(size));
    RegCloseKey(key);
}

TEST_F(ConformanceCheck, HandlesOfDeletedKeysAnswerKeyDeleted) {
    world.Clear();
    HKEY key = CreateSettings(KEY_ALL_ACCESS);
    SetDword(key, W("InstallContext"), 2);
    world.DeleteKeyTree(HKEY_CURRENT_USER, kRoot);
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, W("InstallContext"), nullptr, nullptr, nullptr, &size);
    EXPECT_TRUE(status == ERROR_KEY_DELETED) << Formatted("query: status %ld", static_cast<long>(status));
    DWORD value = 1;
    status = RegSetValueExW(key, W("InstallContext"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    EXPECT_TRUE(status == ERROR_KEY_DELETED) << Formatted("write: status %ld", static_cast<long>(status));
    HKEY reopened = kBogusKey;
    status = RegOpenKeyExW(HKEY_CURRENT_USER, kSettings, 0, KEY_READ, &reopened);
    EXPECT_TRUE(status == ERROR_FILE_NOT_FOUND)
        << Formatted("the write must not revive the key: status %ld", static_cast<long>(status));
    status = RegCloseKey(key);
    EXPECT_TRUE(status == ERROR_SUCCESS) << Formatted("close: status %ld", static_cast<long>(status));
}

TEST_F(ConformanceCheck, AClosedHandleIsInvalid) {
    world.Clear();
    HKEY key = CreateSettings(KEY_READ);
    LSTATUS status = RegCloseKey(key);
    EXPECT_TRUE(status == ERROR_SUCCESS) << Formatted("first close: status %ld", static_cast<long>(status));
    DWORD size = 0;
    status = RegQueryValueExW(key, W("Any"), nullptr, nullptr, nullptr, &size);
    EXPECT_TRUE(status == ERROR_INVALID_HANDLE)
        << Formatted("query through a closed handle: status %ld", static_cast<long>(status));
    status = RegCloseKey(key);
    EXPECT_TRUE(status == ERROR_INVALID_HANDLE)
        << Formatted("closing it again: status %ld", static_cast<long>(status));
    status = RegCloseKey(HKEY_CURRENT_USER);
    EXPECT_TRUE(status == ERROR_SUCCESS)
        << Formatted("closing a predefined key: status %ld", static_cast<long>(status));
}

TEST_F(ConformanceCheck, RestrictedKeysRefuseOpensForMoreRights) {
    world.Clear();
    HKEY key = CreateSettings(KEY_ALL_ACCESS);
    RegCloseKey(key);
    SKIP_UNLESS_PREPARED(world.RestrictKeyAccess(HKEY_CURRENT_USER, kSettings, KEY_READ));
    key = kBogusKey;
    LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, kSettings, 0, KEY_WRITE, &key);
    EXPECT_TRUE(status == ERROR_ACCESS_DENIED) << Formatted("got status %ld", static_cast<long>(status));
    EXPECT_TRUE(key == nullptr) << Formatted("got handle %p", static_cast<void*>(key));
    status = RegCreateKeyExW(HKEY_CURRENT_USER, kSettings, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    EXPECT_TRUE(status == ERROR_ACCESS_DENIED)
        << Formatted("creating it for KEY_WRITE: status %ld", static_cast<long>(status));
    const WCHAR* const below = W("Software\\VracoinsConformance\\OV Print Settings\\Sub");
    status = RegCreateKeyExW(HKEY_CURRENT_USER, below, 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr);
    EXPECT_TRUE(status == ERROR_ACCESS_DENIED) << Formatted(
        "a subkey below a key without KEY_CREATE_SUB_KEY: status %ld", static_cast<long>(status));
    status = RegOpenKeyExW(HKEY_CURRENT_USER, below, 0, KEY_READ, &key);
    EXPECT_TRUE(status == ERROR_FILE_NOT_FOUND)
        << Formatted("the subkey must not exist: status %ld", static_cast<long>(status));
    status = RegOpenKeyExW(HKEY_CURRENT_USER, kSettings, 0, KEY_READ, &key);
    EXPECT_TRUE(status == ERROR_SUCCESS)
        << Formatted("KEY_READ is still granted: status %ld", static_cast<long>(status));
    RegCloseKey(key);
}

TEST_F(ConformanceCheck, MalformedCallsAreRefusedWithTheirOwnStatuses) {
    world.Clear();
    HKEY key = CreateSettings(KEY_ALL_ACCESS);
    HKEY other = kBogusKey;
    LSTATUS status =
        RegOpenKeyExW(HKEY_CURRENT_USER, W("\\Software\\VracoinsConformance"), 0, KEY_READ, &other);
    EXPECT_TRUE(status == 161 /* ERROR_BAD_PATHNAME */ && other == nullptr)
        << Formatted("leading backslash: status %ld", static_cast<long>(status));
    status = RegSetValueExW(key, W("Value"), 0, REG_BINARY, nullptr, 4);
    EXPECT_TRUE(status == 998 /* ERROR_NOACCESS */)
        << Formatted("no data for 4 bytes: status %ld", static_cast<long>(status));
    const BYTE bytes[4] = {1, 2, 3, 4};
    RegSetValueExW(key, W("Value"), 0, REG_BINARY, bytes, 4);
    BYTE buffer[4];
    status = RegQueryValueExW(key, W("Value"), nullptr, nullptr, buffer, nullptr);
    EXPECT_TRUE(status == ERROR_INVALID_PARAMETER)
        << Formatted("a buffer without its size: status %ld", static_cast<long>(status));
    status = RegQueryValueExW(key, W("Value"), nullptr, nullptr, nullptr, nullptr);
    EXPECT_TRUE(status == ERROR_SUCCESS)
        << Formatted("neither buffer nor size: status %ld", static_cast<long>(status));
    RegCloseKey(key);
}
