// The registry key wrapper: access modes, open and create, the type rules of its reads, what its writes
// store, and that it never leaves a key open.
#include "coinstaller/registry_key.h"
#include "coinstaller_test_support.h"

using namespace coinstaller_test;

namespace {

const std::u16string testKey = u"Software\\Orvale\\Registry Key Test";

class RegistryKeyTest : public SimulatedWindowsTest {
  protected:
    // Opens the test key as the code under test would, expecting success.
    void OpenTestKey(CRegistryKey& key, RegistryAccessMode mode = AccessAll) {
        winsim::CreateKey(HKEY_CURRENT_USER, testKey);
        ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, WideString(testKey.c_str()), mode))
            << "opening an existing key failed with " << key.LastError();
    }
};

TEST(RegistryAccessMaskTest, ModesRequestTheirMasksAndAnythingElseNone) {
    EXPECT_EQ(0x20019u, RegistryAccessMask(AccessRead));
    EXPECT_EQ(0x20006u, RegistryAccessMask(AccessWrite));
    EXPECT_EQ(0xF003Fu, RegistryAccessMask(AccessAll));
    EXPECT_EQ(0u, RegistryAccessMask(static_cast<RegistryAccessMode>(3)));
    EXPECT_EQ(0u, RegistryAccessMask(static_cast<RegistryAccessMode>(-1)));
}

TEST_F(RegistryKeyTest, OpeningAMissingKeyFailsAndEveryOperationThenFailsWithoutARegistryCall) {
    CRegistryKey key;
    EXPECT_FALSE(key.Open(HKEY_CURRENT_USER, WideString(testKey.c_str()), AccessAll));
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), key.LastError());
    EXPECT_FALSE(winsim::KeyExists(HKEY_CURRENT_USER, testKey)) << "a plain open must not create the key";

    DWORD value = 0;
    WideString text;
    EXPECT_FALSE(key.ReadDword(u"Value", value));
    EXPECT_FALSE(key.ReadString(u"Value", text));
    EXPECT_FALSE(key.WriteDword(u"Value", 1));
    EXPECT_FALSE(key.WriteString(u"Value", u"text"));
    EXPECT_FALSE(key.DeleteValue(u"Value"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), key.LastError())
        << "operations on no key changed the status";
    EXPECT_EQ(0u, winsim::CallCount("RegQueryValueExW") + winsim::CallCount("RegSetValueExW") +
                      winsim::CallCount("RegDeleteValueW"))
        << "a value operation reached the registry without a key";
}

TEST_F(RegistryKeyTest, CreateTellsANewKeyFromAnExistingOne) {
    CRegistryKey created;
    EXPECT_TRUE(created.Open(HKEY_CURRENT_USER, WideString(testKey.c_str()), AccessAll, true));
    EXPECT_TRUE(created.WasCreated()) << "a missing key was created but not reported as new";
    EXPECT_TRUE(winsim::KeyExists(HKEY_CURRENT_USER, testKey));
    created.Close();

    CRegistryKey opened;
    EXPECT_TRUE(opened.Open(HKEY_CURRENT_USER, WideString(testKey.c_str()), AccessAll, true));
    EXPECT_FALSE(opened.WasCreated()) << "an existing key was reported as newly created";
}

TEST_F(RegistryKeyTest, ModesGrantTheirAccessAndNoMore) {
    CRegistryKey writer;
    OpenTestKey(writer, AccessWrite);
    DWORD value = 0;
    EXPECT_TRUE(writer.WriteDword(u"Value", 7))
        << "write access could not write, status " << writer.LastError();
    EXPECT_FALSE(writer.ReadDword(u"Value", value)) << "write access could read";
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), writer.LastError());
    writer.Close();

    CRegistryKey reader;
    OpenTestKey(reader, AccessRead);
    EXPECT_TRUE(reader.ReadDword(u"Value", value));
    EXPECT_EQ(7u, value);
    EXPECT_FALSE(reader.DeleteValue(u"Value")) << "read access could delete";
    reader.Close();

    // A mode outside the three asks for no rights: the key may open, but nothing can be done with it.
    CRegistryKey none;
    if (none.Open(HKEY_CURRENT_USER, WideString(testKey.c_str()), static_cast<RegistryAccessMode>(5))) {
        EXPECT_FALSE(none.ReadDword(u"Value", value)) << "a mode outside the three could read";
        EXPECT_FALSE(none.WriteDword(u"Value", 1)) << "a mode outside the three could write";
    }
}

TEST_F(RegistryKeyTest, FullAccessIsRefusedOnAKeyThatGrantsOnlyReading) {
    winsim::CreateKey(HKEY_CURRENT_USER, testKey);
    winsim::RestrictKeyAccess(HKEY_CURRENT_USER, testKey, KEY_READ);
    CRegistryKey key;
    EXPECT_FALSE(key.Open(HKEY_CURRENT_USER, WideString(testKey.c_str()), AccessAll));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), key.LastError());
    EXPECT_TRUE(key.Open(HKEY_CURRENT_USER, WideString(testKey.c_str()), AccessRead));
}

TEST_F(RegistryKeyTest, AnIncompletePathIsNeverOpened) {
    CRegistryKey key;
    EXPECT_FALSE(key.Open(HKEY_CURRENT_USER, InvalidString(), AccessAll, true));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), key.LastError());
    EXPECT_EQ(0u, winsim::CallCount("RegCreateKeyExW") + winsim::CallCount("RegOpenKeyExW"));
}

TEST_F(RegistryKeyTest, ReadDwordAcceptsBothDwordTypesWithTheBytesAsStored) {
    winsim::SetDwordValue(HKEY_CURRENT_USER, testKey, u"Little", 0x01020304);
    winsim::SetValue(HKEY_CURRENT_USER, testKey, u"Big", REG_DWORD_BIG_ENDIAN, {0x00, 0x00, 0x00, 0x02});
    CRegistryKey key;
    OpenTestKey(key, AccessRead);
    DWORD value = 0;
    EXPECT_TRUE(key.ReadDword(u"Little", value));
    EXPECT_EQ(0x01020304u, value);
    EXPECT_TRUE(key.ReadDword(u"Big", value));
    EXPECT_EQ(33554432u, value) << "big-endian data must be delivered as stored, not swapped";
}

TEST_F(RegistryKeyTest, ReadDwordRejectsOtherTypesButAShortValueLeavesItsBytes) {
    winsim::SetValue(HKEY_CURRENT_USER, testKey, u"Binary", REG_BINARY, {0x11, 0x22, 0x33, 0x44});
    winsim::SetValue(HKEY_CURRENT_USER, testKey, u"Qword", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0});
    winsim::SetStringValue(HKEY_CURRENT_USER, testKey, u"Text", u"");
    CRegistryKey key;
    OpenTestKey(key, AccessRead);

    DWORD value = 0;
    EXPECT_FALSE(key.ReadDword(u"Binary", value)) << "REG_BINARY was accepted as a DWORD";
    EXPECT_EQ(0x44332211u, value) << "the query's bytes should stay in the output";

    EXPECT_FALSE(key.ReadDword(u"Qword", value)) << "REG_QWORD was accepted as a DWORD";
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), key.LastError());

    EXPECT_FALSE(key.ReadDword(u"Text", value)) << "REG_SZ was accepted as a DWORD";
    EXPECT_FALSE(key.ReadDword(u"Missing", value));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), key.LastError());
}

TEST_F(RegistryKeyTest, ReadStringTakesTextUpToItsFirstNulWithoutExpanding) {
    winsim::SetStringValue(HKEY_CURRENT_USER, testKey, u"Plain", u"Alpha 100");
    winsim::SetStringValue(HKEY_CURRENT_USER, testKey, u"Expand", u"%SystemRoot%\\queue", REG_EXPAND_SZ);
    winsim::SetValue(HKEY_CURRENT_USER, testKey, u"Embedded", REG_SZ,
                     winsim::StringBytes(std::u16string(u"ab\0cd", 5)));
    winsim::SetValue(HKEY_CURRENT_USER, testKey, u"Unterminated", REG_SZ,
                     winsim::StringBytes(u"open", false));
    winsim::SetValue(HKEY_CURRENT_USER, testKey, u"OnlyNul", REG_SZ, winsim::StringBytes(u""));
    CRegistryKey key;
    OpenTestKey(key, AccessRead);

    const struct {
        const char16_t* name;
        const char16_t* expected;
    } cases[] = {{u"Plain", u"Alpha 100"},
                 {u"Expand", u"%SystemRoot%\\queue"},
                 {u"Embedded", u"ab"},
                 {u"Unterminated", u"open"},
                 {u"OnlyNul", u""}};
    for (const auto& c : cases) {
        WideString text(u"previous");
        EXPECT_TRUE(key.ReadString(c.name, text))
            << "value " << Utf8(c.name) << ", status " << key.LastError();
        EXPECT_EQ(std::u16string(c.expected), Text(text)) << "value " << Utf8(c.name);
    }
}

TEST_F(RegistryKeyTest, ReadStringRejectsNonTextAndEmptyDataLeavingTheTargetAlone) {
    winsim::SetValue(HKEY_CURRENT_USER, testKey, u"Multi", REG_MULTI_SZ,
                     winsim::StringBytes(std::u16string(u"a\0b\0", 4)));
    winsim::SetDwordValue(HKEY_CURRENT_USER, testKey, u"Dword", 5);
    winsim::SetValue(HKEY_CURRENT_USER, testKey, u"ZeroBytes", REG_SZ, {});
    CRegistryKey key;
    OpenTestKey(key, AccessRead);

    for (const char16_t* name : {u"Multi", u"Dword", u"ZeroBytes", u"Missing"}) {
        WideString text(u"previous");
        EXPECT_FALSE(key.ReadString(name, text)) << "value " << Utf8(name) << " was read as text";
        EXPECT_EQ(u"previous", Text(text)) << "a failed read of " << Utf8(name) << " changed the target";
    }
}

TEST_F(RegistryKeyTest, WriteStringStoresTheTerminatingNul) {
    CRegistryKey key;
    OpenTestKey(key, AccessAll);
    ASSERT_TRUE(key.WriteString(u"Empty", u""));
    ASSERT_TRUE(key.WriteString(WideString(u"Name"), WideString(u"USB001")));
    ASSERT_TRUE(key.WriteDword(u"Number", 0xA1B2C3D4));

    DWORD type = 0;
    winsim::Bytes data;
    ASSERT_TRUE(winsim::GetValue(HKEY_CURRENT_USER, testKey, u"Empty", &type, &data));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(winsim::Bytes({0, 0}), data) << "the empty text must be stored as one NUL character";
    ASSERT_TRUE(winsim::GetValue(HKEY_CURRENT_USER, testKey, u"Name", &type, &data));
    EXPECT_EQ(winsim::StringBytes(u"USB001"), data);
    ASSERT_TRUE(winsim::GetValue(HKEY_CURRENT_USER, testKey, u"Number", &type, &data));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(winsim::DwordBytes(0xA1B2C3D4), data);
}

TEST_F(RegistryKeyTest, AnIncompleteNameOrTextIsNeverWritten) {
    CRegistryKey key;
    OpenTestKey(key, AccessAll);
    EXPECT_FALSE(key.WriteString(WideString(u"Name"), InvalidString()));
    EXPECT_FALSE(key.WriteString(InvalidString(), WideString(u"text")));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), key.LastError());
    EXPECT_TRUE(winsim::ValueNames(HKEY_CURRENT_USER, testKey).empty()) << "something was written";
}

TEST_F(RegistryKeyTest, DeleteValueReportsAMissingValue) {
    winsim::SetDwordValue(HKEY_CURRENT_USER, testKey, u"Value", 1);
    CRegistryKey key;
    OpenTestKey(key, AccessAll);
    EXPECT_TRUE(key.DeleteValue(WideString(u"Value")));
    EXPECT_FALSE(winsim::ValueExists(HKEY_CURRENT_USER, testKey, u"Value"));
    EXPECT_FALSE(key.DeleteValue(u"Value"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), key.LastError());
}

TEST_F(RegistryKeyTest, AttachOpensAHandleOfItsOwnAndLeavesTheCallersOpen) {
    winsim::CreateKey(HKEY_CURRENT_USER, testKey);
    HKEY writeOnly = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, testKey.c_str(), 0, KEY_WRITE, &writeOnly));
    {
        CRegistryKey attached;
        EXPECT_TRUE(attached.Attach(writeOnly, AccessAll)) << "status " << attached.LastError();
        EXPECT_TRUE(attached.WriteString(u"PortName", u"USB001"));
        WideString text;
        EXPECT_TRUE(attached.ReadString(u"PortName", text)) << "the attached handle lacks read access";
        EXPECT_EQ(2u, winsim::OpenKeyCount()) << "the wrapper should hold a handle of its own";
    }
    EXPECT_EQ(1u, winsim::OpenKeyCount()) << "the wrapper closed the caller's handle, or kept its own";
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExW(writeOnly, u"Still", 0, REG_DWORD, winsim::DwordBytes(1).data(), 4))
        << "the caller's handle no longer works after the wrapper closed";
    RegCloseKey(writeOnly);
}

TEST_F(RegistryKeyTest, CloseIsIdempotentAndTheDestructorCloses) {
    {
        CRegistryKey key;
        OpenTestKey(key, AccessRead);
        key.Close();
        key.Close();
        EXPECT_EQ(1u, winsim::CallCount("RegCloseKey")) << "a second Close reached the registry";
        EXPECT_FALSE(key.IsOpen());
        OpenTestKey(key, AccessRead);
    }
    EXPECT_EQ(0u, winsim::OpenKeyCount()) << "the destructor left the key open";
}

} // namespace
