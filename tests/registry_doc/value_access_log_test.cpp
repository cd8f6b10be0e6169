// The simulated registry's log of value accesses, on which the comparison with the document rests: it
// holds every read, write and deletion through a handle with the type involved, absent values included,
// and nothing of what a test seeds or of calls refused for want of rights.
#include "winsim/control/all.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

namespace {

const std::u16string key = u"Software\\Orvale\\Log Test";

std::string Describe(const winsim::ValueAccess& access) {
    return winsim::ToUtf8(access.keyPath) + "\\" + winsim::ToUtf8(access.name) + " op " +
           std::to_string(access.operation) + " type " + std::to_string(access.type) +
           (access.existed ? " existed" : " absent");
}

class ValueAccessLogTest : public ::testing::Test {
  protected:
    void SetUp() override { winsim::Reset(); }
    void TearDown() override { winsim::Reset(); }
};

TEST_F(ValueAccessLogTest, HoldsReadsWritesAndDeletionsWithTheirTypes) {
    winsim::SetStringValue(HKEY_CURRENT_USER, key, u"Seeded", u"text", REG_EXPAND_SZ);
    EXPECT_TRUE(winsim::ValueAccessLog().empty()) << "seeding through the control API was logged";

    HKEY handle = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_ALL_ACCESS, &handle));
    DWORD size = 0;
    RegQueryValueExW(handle, u"Seeded", nullptr, nullptr, nullptr, &size);
    RegQueryValueExW(handle, u"Missing", nullptr, nullptr, nullptr, &size);
    DWORD number = 7;
    RegSetValueExW(handle, u"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    RegSetValueExA(handle, "Narrow", 0, REG_BINARY, reinterpret_cast<const BYTE*>("ab"), 2);
    RegDeleteValueW(handle, u"Seeded");
    RegCloseKey(handle);

    std::vector<winsim::ValueAccess> log = winsim::ValueAccessLog();
    ASSERT_EQ(5u, log.size());
    struct Expected {
        const char16_t* name;
        winsim::ValueAccess::Operation operation;
        DWORD type;
        bool existed;
    };
    const Expected expected[] = {
        {u"Seeded", winsim::ValueAccess::Read, REG_EXPAND_SZ, true},
        {u"Missing", winsim::ValueAccess::Read, 0, false},
        {u"Number", winsim::ValueAccess::Write, REG_DWORD, false},
        {u"Narrow", winsim::ValueAccess::Write, REG_BINARY, false},
        {u"Seeded", winsim::ValueAccess::Delete, REG_EXPAND_SZ, true},
    };
    for (size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(u"HKCU\\" + key, log[i].keyPath) << Describe(log[i]);
        EXPECT_EQ(expected[i].name, log[i].name) << Describe(log[i]);
        EXPECT_EQ(expected[i].operation, log[i].operation) << Describe(log[i]);
        EXPECT_EQ(expected[i].type, log[i].type) << Describe(log[i]);
        EXPECT_EQ(expected[i].existed, log[i].existed) << Describe(log[i]);
    }
}

TEST_F(ValueAccessLogTest, LeavesOutCallsRefusedForWantOfRightsAndStartsAfreshAtReset) {
    winsim::SetDwordValue(HKEY_LOCAL_MACHINE, key, u"Value", 1);
    HKEY handle = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueW(handle, u"Value"));
    DWORD size = 0;
    RegQueryValueExW(handle, u"Value", nullptr, nullptr, nullptr, &size);
    RegCloseKey(handle);
    std::vector<winsim::ValueAccess> log = winsim::ValueAccessLog();
    ASSERT_EQ(1u, log.size()) << "only the read reached the value";
    EXPECT_EQ(winsim::ValueAccess::Read, log[0].operation) << Describe(log[0]);

    winsim::Reset();
    EXPECT_TRUE(winsim::ValueAccessLog().empty()) << "Reset kept the log";
}

} // namespace
