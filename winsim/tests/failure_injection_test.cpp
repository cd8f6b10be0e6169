// The simulation's failure injection and call accounting: armed failures make a named platform call
// fail with its documented failure value, after the asked number of successes and for the asked number
// of calls; and the simulated world stays consistent when several threads use it at once.
#include "simulated_world.h"

#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using FailureInjection = SimulatedWorld;

TEST_F(FailureInjection, AnArmedRegistryCallReturnsTheErrorAndNoHandleOnce) {
    winsim::CreateKey(HKEY_CURRENT_USER, u"Software\\Orvale");
    winsim::FailCall("RegOpenKeyExW", ERROR_ACCESS_DENIED);
    HKEY key = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegOpenKeyExW(HKEY_CURRENT_USER, W("Software\\Orvale"), 0, KEY_READ, &key));
    EXPECT_EQ(nullptr, key);
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, W("Software\\Orvale"), 0, KEY_READ, &key))
        << "the failure was armed for one call only";
    RegCloseKey(key);
    EXPECT_EQ(2u, winsim::CallCount("RegOpenKeyExW"));
    EXPECT_EQ(1u, winsim::CallCount("RegCloseKey"));
    EXPECT_EQ(0u, winsim::CallCount("RegCreateKeyExW"));
}

TEST_F(FailureInjection, SkippedCallsSucceedBeforeTheArmedOnesFail) {
    winsim::AddPrinter(u"Queue", u"Driver", u"USB001");
    winsim::FailCall("OpenPrinterW", ERROR_ACCESS_DENIED, 1, 2);
    std::vector<BOOL> results;
    for (int i = 0; i < 4; ++i) {
        HANDLE printer = nullptr;
        results.push_back(OpenPrinterW(const_cast<LPWSTR>(W("Queue")), &printer, nullptr));
        if (printer != nullptr) {
            ClosePrinter(printer);
        } else {
            EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
        }
    }
    EXPECT_EQ((std::vector<BOOL>{TRUE, FALSE, FALSE, TRUE}), results);
}

TEST_F(FailureInjection, ZeroTimesFailsEveryLaterCallUntilCleared) {
    const GUID cls = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    winsim::FailCall("SetupDiGetClassDevsW", ERROR_NOT_ENOUGH_MEMORY, 0, 0);
    for (int i = 0; i < 3; ++i) {
        SetLastError(0);
        EXPECT_EQ(INVALID_HANDLE_VALUE,
                  SetupDiGetClassDevsW(&cls, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
        EXPECT_EQ(ERROR_NOT_ENOUGH_MEMORY, GetLastError());
    }
    winsim::ClearFailures();
    HDEVINFO list = SetupDiGetClassDevsW(&cls, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_NE(INVALID_HANDLE_VALUE, list);
    SetupDiDestroyDeviceInfoList(list);
    EXPECT_EQ(0u, winsim::OpenDeviceSetCount());
}

TEST_F(FailureInjection, StatusReturningCallsReturnTheArmedStatus) {
    winsim::AddPrinter(u"Queue", u"Driver", u"USB001");
    winsim::SetPrinterStringData(u"Queue", u"USB001", u"Alpha");
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(W("Queue")), &printer, nullptr));
    winsim::FailCall("GetPrinterDataW", ERROR_MORE_DATA);
    BYTE data[64];
    DWORD needed = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), GetPrinterDataW(printer, const_cast<LPWSTR>(W("USB001")),
                                                                   nullptr, data, sizeof(data), &needed));
    winsim::FailCall("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(nullptr, GlobalAlloc(GPTR, 16));
    EXPECT_EQ(ERROR_NOT_ENOUGH_MEMORY, GetLastError());
    EXPECT_EQ(0u, winsim::GlobalBlockCount());
    ClosePrinter(printer);
}

TEST_F(FailureInjection, ResetForgetsArmedFailuresAndCounts) {
    winsim::FailCall("RegCloseKey", ERROR_INVALID_HANDLE, 0, 0);
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(HKEY_CURRENT_USER));
    winsim::Reset();
    EXPECT_EQ(0u, winsim::CallCount("RegCloseKey"));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_CURRENT_USER));
}

TEST_F(FailureInjection, CallCountsNameEveryFunctionCalledAndClearingThemKeepsArmedFailures) {
    winsim::FailCall("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY, 1, 1);
    GlobalFree(GlobalAlloc(GPTR, 8));
    RegCloseKey(HKEY_CURRENT_USER);
    EXPECT_EQ((std::map<std::string, unsigned>{{"GlobalAlloc", 1}, {"GlobalFree", 1}, {"RegCloseKey", 1}}),
              winsim::CallCounts());
    winsim::ClearCallCounts();
    EXPECT_TRUE(winsim::CallCounts().empty());
    EXPECT_EQ(nullptr, GlobalAlloc(GPTR, 8)) << "clearing the counts disarmed the failure";
    EXPECT_EQ(1u, winsim::CallCount("GlobalAlloc"));
}

TEST_F(FailureInjection, TheCallingThreadIsOutsideThePlatformBetweenCalls) {
    EXPECT_FALSE(winsim::InPlatformCall());
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, W("Software"), 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr);
    RegCloseKey(key);
    EXPECT_FALSE(winsim::InPlatformCall()) << "every simulated call must leave the platform on return";
}

TEST_F(FailureInjection, LastErrorBelongsToTheCallingThread) {
    SetLastError(1234);
    DWORD seenByOther = 0xFFFFFFFF;
    std::thread other([&seenByOther] {
        seenByOther = GetLastError();
        SetLastError(99);
    });
    other.join();
    EXPECT_EQ(0u, seenByOther) << "a new thread starts with last error 0";
    EXPECT_EQ(1234u, GetLastError());
}

TEST_F(FailureInjection, ConcurrentUseKeepsTheWorldConsistent) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            std::u16string path = u"Software\\Thread" + std::u16string(1, static_cast<char16_t>(u'A' + t));
            for (int i = 0; i < kRounds; ++i) {
                HKEY key = nullptr;
                if (RegCreateKeyExW(HKEY_CURRENT_USER, reinterpret_cast<const WCHAR*>(path.c_str()), 0,
                                    nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
                    continue;
                }
                DWORD value = static_cast<DWORD>(i);
                RegSetValueExW(key, W("Round"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
                RegCloseKey(key);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(0u, winsim::OpenKeyCount());
    EXPECT_EQ(static_cast<unsigned>(kThreads * kRounds), winsim::CallCount("RegCreateKeyExW"));
    for (int t = 0; t < kThreads; ++t) {
        std::u16string path = u"Software\\Thread" + std::u16string(1, static_cast<char16_t>(u'A' + t));
        DWORD type = 0;
        winsim::Bytes data;
        ASSERT_TRUE(winsim::GetValue(HKEY_CURRENT_USER, path, u"Round", &type, &data)) << Utf8(path);
        EXPECT_EQ(winsim::DwordBytes(kRounds - 1), data) << Utf8(path);
    }
}

} // namespace
