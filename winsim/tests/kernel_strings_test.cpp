// WideCharToMultiByte of the simulation, whose ANSI code page is UTF-8.
#include "simulated_world.h"

#include <cstring>
#include <string>

namespace {

class KernelStringsTest : public SimulatedWorld {};

TEST_F(KernelStringsTest, ConvertsWithAndWithoutTerminator) {
    char buffer[32] = {};
    EXPECT_EQ(8, WideCharToMultiByte(CP_ACP, WC_COMPOSITECHECK, W("C:\\Logs"), -1, buffer, sizeof buffer,
                                     nullptr, nullptr))
        << "-1 converts the terminator as well";
    EXPECT_STREQ("C:\\Logs", buffer);
    char unterminated[8];
    std::memset(unterminated, 'x', sizeof unterminated);
    EXPECT_EQ(
        3, WideCharToMultiByte(CP_ACP, 0, W("abc"), 3, unterminated, sizeof unterminated, nullptr, nullptr));
    EXPECT_EQ('x', unterminated[3]) << "an explicit length writes no terminator";
}

TEST_F(KernelStringsTest, AnsiCodePageIsUtf8) {
    char buffer[16] = {};
    const WCHAR text[] = {0x00E9, 0x20AC, 0xD83D, 0xDE00, 0};
    EXPECT_EQ(10, WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr));
    EXPECT_STREQ("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", buffer);
    EXPECT_EQ(10, WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr))
        << "size-only query";
}

TEST_F(KernelStringsTest, TooSmallBufferFails) {
    char buffer[4];
    EXPECT_EQ(0, WideCharToMultiByte(CP_ACP, 0, W("toolong"), -1, buffer, sizeof buffer, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
}

TEST_F(KernelStringsTest, UnpairedSurrogatesAreReplacedOrRefused) {
    const WCHAR lone[] = {u'a', 0xD800, u'b', 0};
    char buffer[16] = {};
    EXPECT_EQ(6, WideCharToMultiByte(CP_UTF8, 0, lone, -1, buffer, sizeof buffer, nullptr, nullptr));
    EXPECT_STREQ("a\xEF\xBF\xBD"
                 "b",
                 buffer);
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, -1, buffer, sizeof buffer, nullptr,
                                     nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION), GetLastError());
}

TEST_F(KernelStringsTest, ExplicitUtf8RefusesWhatWindowsRefuses) {
    char buffer[16];
    BOOL used = FALSE;
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, WC_COMPOSITECHECK, W("a"), -1, buffer, sizeof buffer, nullptr,
                                     nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FLAGS), GetLastError());
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, W("a"), -1, buffer, sizeof buffer, nullptr, &used));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(0, WideCharToMultiByte(1252, 0, W("a"), -1, buffer, sizeof buffer, nullptr, nullptr))
        << "other code pages are not modelled";
    EXPECT_EQ(0, WideCharToMultiByte(CP_ACP, 0, W("a"), 0, buffer, sizeof buffer, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

} // namespace
