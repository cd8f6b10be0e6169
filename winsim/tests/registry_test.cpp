// What only the host shows of the simulated registry: the control API's log and count of key handles,
// too small buffers left as they were, the narrow forms, and handles that were never issued. The Win32
// behaviour that Windows and Wine show as well is checked on both sides by conformance/registry_checks.cpp.
#include "simulated_world.h"

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

TEST_F(Registry, OpenedKeysAreLoggedInTheLetterCaseTheyWereCreatedWith) {
    winsim::SetDwordValue(HKEY_CURRENT_USER, kSettings, u"InstallContext", 2);
    HKEY key = Open(HKEY_CURRENT_USER, W("SOFTWARE\\orvale\\ov print settings"), KEY_READ);
    RegCloseKey(key);
    std::vector<std::u16string> log = winsim::OpenedKeyLog();
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ("HKCU\\Software\\Orvale\\OV Print Settings", Utf8(log[0]));
}

TEST_F(Registry, EveryOpenKeyHandleIsCountedUntilItIsClosed) {
    winsim::CreateKey(HKEY_LOCAL_MACHINE, kSettings);
    HKEY first = Open(HKEY_LOCAL_MACHINE, W("Software\\Orvale\\OV Print Settings"), KEY_WRITE);
    HKEY second = Open(first, nullptr, KEY_ALL_ACCESS);
    HKEY third = Open(first, W(""), KEY_READ);
    EXPECT_EQ(3u, winsim::OpenKeyCount());
    RegCloseKey(first);
    RegCloseKey(second);
    RegCloseKey(third);
    EXPECT_EQ(0u, winsim::OpenKeyCount());
}

// Windows leaves the buffer's contents undefined here; the simulation does not write it at all.
TEST_F(Registry, ATooSmallBufferIsLeftAsItWas) {
    winsim::SetValue(HKEY_CURRENT_USER, kSettings, u"Wide", REG_QWORD, winsim::Bytes{1, 2, 3, 4, 5, 6, 7, 8});
    HKEY key = Open(HKEY_CURRENT_USER, W("Software\\Orvale\\OV Print Settings"), KEY_READ);
    BYTE buffer[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    DWORD size = sizeof(buffer);
    ASSERT_EQ(ERROR_MORE_DATA, RegQueryValueExW(key, W("Wide"), nullptr, nullptr, buffer, &size));
    for (BYTE byte : buffer) {
        EXPECT_EQ(0xAA, byte) << "the buffer must not be written when the data does not fit";
    }
    RegCloseKey(key);
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

TEST_F(Registry, ClosingAHandleThatWasNeverIssuedFails) {
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x5678))));
}

} // namespace
