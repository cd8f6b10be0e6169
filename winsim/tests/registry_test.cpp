// Conformance of the simulated registry with the Win32 behaviour the co-installer relies on: statuses,
// access rights carried by handles, the size protocol of RegQueryValueExW, letter case of names.
#include "simulated_world.h"

#include <cstring>

namespace {

const std::u16string kSettings = u"Software\\Orvale\\OV Print Settings";

class Registry : public SimulatedWorld {
  protected:
    HKEY Open(HKEY root, const WCHAR* path, REGSAM access) {
        HKEY key = nullptr;
        LSTATUS status = RegOpenKeyExW(root, path, 0, access, &key);
        EXPECT_EQ(ERROR_SUCCESS, status) << "opening " << Utf8(path) << " with access " << std::hex << access;
        return key;
    }
};

TEST_F(Registry, OpeningAMissingKeyFailsWithFileNotFoundAndANullHandle) {
    HKEY key = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));
    LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, W("Software\\Missing"), 0, KEY_READ, &key);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, status);
    EXPECT_EQ(nullptr, key) << "a failed open must leave no handle behind";
    EXPECT_EQ(0u, winsim::OpenKeyCount());
}

TEST_F(Registry, CreateMakesEveryMissingLevelAndReportsTheDisposition) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_CURRENT_USER, W("Software\\Orvale\\OV Print Settings"), 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    EXPECT_TRUE(winsim::KeyExists(HKEY_CURRENT_USER, u"Software\\Orvale"))
        << "the middle level was not created";
    EXPECT_FALSE(winsim::KeyExists(HKEY_LOCAL_MACHINE, kSettings)) << "HKCU and HKLM must be distinct trees";
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));

    disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_CURRENT_USER, W("Software\\Orvale\\OV Print Settings"), 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(Registry, KeyAndValueNamesIgnoreLetterCaseAndKeepTheirCreatedForm) {
    winsim::SetDwordValue(HKEY_CURRENT_USER, kSettings, u"InstallContext", 2);
    HKEY key = Open(HKEY_CURRENT_USER, W("SOFTWARE\\orvale\\ov print settings"), KEY_READ);
    DWORD value = 0;
    DWORD size = sizeof(value);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, W("INSTALLCONTEXT"), nullptr, nullptr,
                                              reinterpret_cast<BYTE*>(&value), &size));
    EXPECT_EQ(2u, value);
    RegCloseKey(key);
    std::vector<std::u16string> log = winsim::OpenedKeyLog();
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ("HKCU\\Software\\Orvale\\OV Print Settings", Utf8(log[0]));
}

TEST_F(Registry, AnEmptyOrNullSubkeyOpensANewHandleToTheSameKey) {
    winsim::CreateKey(HKEY_LOCAL_MACHINE, kSettings);
    HKEY first = Open(HKEY_LOCAL_MACHINE, W("Software\\Orvale\\OV Print Settings"), KEY_WRITE);
    HKEY second = Open(first, nullptr, KEY_ALL_ACCESS);
    HKEY third = Open(first, W(""), KEY_READ);
    EXPECT_NE(first, second);
    EXPECT_NE(second, third);
    EXPECT_EQ(3u, winsim::OpenKeyCount());
    DWORD value = 7;
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(second, W("PortName"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4));
    EXPECT_TRUE(winsim::ValueExists(HKEY_LOCAL_MACHINE, kSettings, u"PortName"));
    RegCloseKey(first);
    RegCloseKey(second);
    RegCloseKey(third);
    EXPECT_EQ(0u, winsim::OpenKeyCount());
}

TEST_F(Registry, HandlesCarryTheirAccessRights) {
    winsim::SetDwordValue(HKEY_CURRENT_USER, kSettings, u"InstallContext", 2);
    const DWORD value = 3;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
    DWORD size = 4;
    DWORD read = 0;

    HKEY writer = Open(HKEY_CURRENT_USER, W("Software\\Orvale\\OV Print Settings"), KEY_WRITE);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExW(writer, W("InstallContext"), nullptr, nullptr,
                                                    reinterpret_cast<BYTE*>(&read), &size))
        << "KEY_WRITE does not include KEY_QUERY_VALUE";
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(writer, W("InstallContext"), 0, REG_DWORD, bytes, 4));

    HKEY reader = Open(HKEY_CURRENT_USER, W("Software\\Orvale\\OV Print Settings"), KEY_READ);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExW(reader, W("InstallContext"), 0, REG_DWORD, bytes, 4));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueW(reader, W("InstallContext")));

    HKEY none = Open(HKEY_CURRENT_USER, W("Software\\Orvale\\OV Print Settings"), 0);
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegQueryValueExW(none, W("InstallContext"), nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExW(none, W("InstallContext"), 0, REG_DWORD, bytes, 4));

    DWORD stored = 0;
    winsim::Bytes data;
    ASSERT_TRUE(winsim::GetValue(HKEY_CURRENT_USER, kSettings, u"InstallContext", &stored, &data));
    EXPECT_EQ(winsim::DwordBytes(3), data) << "only the KEY_WRITE handle may have changed the value";
    RegCloseKey(writer);
    RegCloseKey(reader);
    RegCloseKey(none);
}

TEST_F(Registry, QueryWithoutABufferReportsTypeAndSizeOnly) {
    winsim::SetStringValue(HKEY_CURRENT_USER, kSettings, u"InstallContextOriginalPrinterName", u"Queue");
    HKEY key = Open(HKEY_CURRENT_USER, W("Software\\Orvale\\OV Print Settings"), KEY_READ);
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(ERROR_SUCCESS,
              RegQueryValueExW(key, W("InstallContextOriginalPrinterName"), nullptr, &type, nullptr, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(12u, size) << "five characters and the NUL, in bytes";
    RegCloseKey(key);
}

TEST_F(Registry, ATooSmallBufferGetsMoreDataAndTheNeededSizeWithoutBeingWritten) {
    winsim::SetValue(HKEY_CURRENT_USER, kSettings, u"Wide", REG_QWORD, winsim::Bytes{1, 2, 3, 4, 5, 6, 7, 8});
    HKEY key = Open(HKEY_CURRENT_USER, W("Software\\Orvale\\OV Print Settings"), KEY_READ);
    BYTE buffer[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    DWORD size = sizeof(buffer);
    DWORD type = 0;
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExW(key, W("Wide"), nullptr, &type, buffer, &size));
    EXPECT_EQ(8u, size);
    EXPECT_EQ(static_cast<DWORD>(REG_QWORD), type);
    for (BYTE byte : buffer) {
        EXPECT_EQ(0xAA, byte) << "the buffer must not be written when the data does not fit";
    }
    RegCloseKey(key);
}

TEST_F(Registry, AFourByteBinaryValueReadsIntoADwordWithItsBytes) {
    winsim::SetValue(HKEY_CURRENT_USER, kSettings, u"InstallContext", REG_BINARY, winsim::Bytes{0, 0, 0, 2});
    HKEY key = Open(HKEY_CURRENT_USER, W("Software\\Orvale\\OV Print Settings"), KEY_READ);
    DWORD value = 0;
    DWORD size = sizeof(value);
    DWORD type = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, W("InstallContext"), nullptr, &type,
                                              reinterpret_cast<BYTE*>(&value), &size));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    EXPECT_EQ(4u, size);
    BYTE expected[4] = {0, 0, 0, 2};
    EXPECT_EQ(0, std::memcmp(expected, &value, 4)) << "the bytes are delivered as stored";
    RegCloseKey(key);
}

TEST_F(Registry, MissingValuesAreFileNotFoundForQueryAndDelete) {
    winsim::CreateKey(HKEY_CURRENT_USER, kSettings);
    HKEY key = Open(HKEY_CURRENT_USER, W("Software\\Orvale\\OV Print Settings"), KEY_ALL_ACCESS);
    DWORD size = 0;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegQueryValueExW(key, W("InstallContext"), nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueW(key, W("InstallContext")));
    RegCloseKey(key);
}

TEST_F(Registry, DeletingAValueRemovesItWhateverTheLetterCaseOfItsName) {
    winsim::SetDwordValue(HKEY_LOCAL_MACHINE, kSettings, u"CurrentDeviceType", 1);
    HKEY key = Open(HKEY_LOCAL_MACHINE, W("Software\\Orvale\\OV Print Settings"), KEY_ALL_ACCESS);
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueW(key, W("currentdevicetype")));
    EXPECT_FALSE(winsim::ValueExists(HKEY_LOCAL_MACHINE, kSettings, u"CurrentDeviceType"));
    RegCloseKey(key);
}

TEST_F(Registry, ValuesKeepTypeAndBytesExactlyAsWritten) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, W("Software\\Orvale\\OV Print Settings"), 0,
                                             nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
    const WCHAR text[] = W("USB001");
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key, W("PortName"), 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                             static_cast<DWORD>(sizeof(text))));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, W("Empty"), 0, REG_SZ, nullptr, 0));
    RegCloseKey(key);
    DWORD type = 0;
    winsim::Bytes data;
    ASSERT_TRUE(winsim::GetValue(HKEY_CURRENT_USER, kSettings, u"PortName", &type, &data));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(winsim::StringBytes(u"USB001"), data);
    ASSERT_TRUE(winsim::GetValue(HKEY_CURRENT_USER, kSettings, u"Empty", &type, &data));
    EXPECT_TRUE(data.empty()) << "a zero-byte value stays zero bytes";
}

TEST_F(Registry, NarrowFormsStoreNamesAsTextAndConvertOnlyStringData) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orvale\\DIZadaridi", 0, nullptr,
                                             0, KEY_ALL_ACCESS, nullptr, &key, &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "TrackMemoryLogLocation", 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>("C:\\x"), 5));
    const BYTE raw[3] = {1, 2, 3};
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Raw", 0, REG_BINARY, raw, 3));
    RegCloseKey(key);

    std::u16string text;
    ASSERT_TRUE(winsim::GetStringValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Orvale\\DIZadaridi",
                                       u"TrackMemoryLogLocation", &text));
    EXPECT_EQ("C:\\x", Utf8(text));
    winsim::Bytes data;
    ASSERT_TRUE(
        winsim::GetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Orvale\\DIZadaridi", u"Raw", nullptr, &data));
    EXPECT_EQ((winsim::Bytes{1, 2, 3}), data);

    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\orvale\\dizadaridi", 0, KEY_READ, &key));
    RegCloseKey(key);
}

TEST_F(Registry, RestrictedKeysRefuseOpensForMoreThanTheirLimit) {
    winsim::CreateKey(HKEY_LOCAL_MACHINE, kSettings);
    winsim::RestrictKeyAccess(HKEY_LOCAL_MACHINE, kSettings, KEY_READ);
    HKEY key = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExW(HKEY_LOCAL_MACHINE, W("Software\\Orvale\\OV Print Settings"),
                                                 0, KEY_ALL_ACCESS, &key));
    EXPECT_EQ(nullptr, key);
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, W("Software\\Orvale\\OV Print Settings"), 0, nullptr, 0,
                              KEY_WRITE, nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, W("Software\\Orvale\\OV Print Settings\\Sub"), 0, nullptr,
                              0, KEY_READ, nullptr, &key, nullptr))
        << "KEY_READ lacks KEY_CREATE_SUB_KEY, so no subkey may be created below the key";
    EXPECT_FALSE(winsim::KeyExists(HKEY_LOCAL_MACHINE, kSettings + u"\\Sub"));
    key = Open(HKEY_LOCAL_MACHINE, W("Software\\Orvale\\OV Print Settings"), KEY_READ);
    RegCloseKey(key);
    EXPECT_EQ(0u, winsim::OpenKeyCount());
}

TEST_F(Registry, HandlesOfDeletedKeysAnswerKeyDeletedAndStillClose) {
    winsim::SetDwordValue(HKEY_CURRENT_USER, kSettings, u"InstallContext", 2);
    HKEY key = Open(HKEY_CURRENT_USER, W("Software\\Orvale\\OV Print Settings"), KEY_ALL_ACCESS);
    winsim::DeleteKeyTree(HKEY_CURRENT_USER, u"Software\\Orvale");
    DWORD size = 0;
    EXPECT_EQ(ERROR_KEY_DELETED,
              RegQueryValueExW(key, W("InstallContext"), nullptr, nullptr, nullptr, &size));
    DWORD value = 1;
    EXPECT_EQ(ERROR_KEY_DELETED, RegSetValueExW(key, W("InstallContext"), 0, REG_DWORD,
                                                reinterpret_cast<const BYTE*>(&value), 4));
    EXPECT_FALSE(winsim::KeyExists(HKEY_CURRENT_USER, kSettings)) << "a write must not revive a deleted key";
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(0u, winsim::OpenKeyCount());
}

TEST_F(Registry, ClosingUnknownHandlesFailsAndPredefinedKeysCloseQuietly) {
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x5678))));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, W("Software"), 0, nullptr, 0, KEY_READ,
                                             nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key)) << "a closed handle is no longer valid";
}

} // namespace
