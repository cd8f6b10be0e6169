// The module's lifecycle as a test program sees it: loading the module (or its test build, with its hooks)
// with dlopen and unloading it with dlclose over a simulated machine whose drive C: is a fresh host
// directory, with the tracker's switches seeded and its log files directed to C:\Logs\, and the texts of the
// final report.
#pragma once

#include "winsim/control/all.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

namespace lifecycle_test {

const std::u16string switchesKey = u"SOFTWARE\\Orvale\\DIZadaridi";
const std::u16string noteKey = u"Software\\Orvale\\ZID-Azo";

const std::string bannerRule = "****!!!!****!!!!****!!!!****";

inline std::string Banner(const std::string& title) {
    return "\r\n" + bannerRule + title + bannerRule + "\r\n";
}

inline const std::string reportOpening = Banner(" Starting memory allocation tracking reporting ");
inline const std::string reportClosing = Banner(" Completed memory allocation tracking reporting ");
inline const std::string teardownOpening =
    Banner(" Reporting releases after tear down of OVMemCollector Object ");
inline const std::string teardownClosing =
    Banner(" Completed reporting of releases after tear down of OVMemCollector Object ");
inline const std::string cleanVerdict = "\r\n********** Clean System **********\r\n";
inline const std::string leakVerdict = "\r\n********** Memory was leaked **********\r\n";

inline std::string RegexLiteral(const std::string& text) {
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}

inline std::string BaseName(const std::string& windowsPath) {
    size_t slash = windowsPath.find_last_of('\\');
    return slash == std::string::npos ? windowsPath : windowsPath.substr(slash + 1);
}

// The Windows path that GetModuleFileNameA reports for the module holding `address` (none: the process).
inline std::string WindowsModulePath(const void* address) {
    HMODULE module = nullptr;
    if (address != nullptr && !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                                      GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                                  static_cast<LPCSTR>(address), &module)) {
        return "";
    }
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    return std::string(path, length < MAX_PATH ? length : 0);
}

inline std::vector<uint8_t> ReadHostFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The module, loaded with dlopen and unloaded with dlclose.
class LoadedModule {
  public:
    explicit LoadedModule(const char* path) : path_(path) {
        handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(nullptr, handle_) << "the module did not load: " << dlerror();
    }
    ~LoadedModule() { Unload(); }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool Loaded() const { return handle_ != nullptr; }

    template <typename Function> Function Find(const char* name) const {
        void* found = handle_ != nullptr ? dlsym(handle_, name) : nullptr;
        EXPECT_NE(nullptr, found) << "the module does not export " << name;
        return reinterpret_cast<Function>(found);
    }

    // The module's file as the tracker names it.
    std::string WindowsPath() const {
        return handle_ != nullptr ? WindowsModulePath(dlsym(handle_, "VRACoInstallerEntryProc")) : "";
    }

    // dlclose: the module's exit list runs, the collector's destruction among it.
    void Unload() {
        if (handle_ == nullptr) {
            return;
        }
        dlclose(handle_);
        handle_ = nullptr;
        EXPECT_EQ(nullptr, dlopen(path_, RTLD_NOW | RTLD_NOLOAD)) << "the module stayed loaded after dlclose";
    }

  private:
    const char* path_;
    void* handle_ = nullptr;
};

typedef void* (*AllocateHook)(size_t, int);
typedef void (*ReleaseHook)(void*, int);
typedef int (*KeepHook)(void*, int);
typedef int (*FlagHook)();
typedef unsigned (*CountHook)();
typedef void (*BreakOnHook)(unsigned);

constexpr int scalarKind = 0;
constexpr int arrayKind = 1;

// The test build of the module and its hooks.
class TestModule : public LoadedModule {
  public:
    TestModule() : LoadedModule(VRACOINS_TEST_MODULE_PATH) {
        if (Loaded()) {
            allocate = Find<AllocateHook>("vracoinsTestHook_allocate");
            release = Find<ReleaseHook>("vracoinsTestHook_release");
            releaseAfterUnload = Find<KeepHook>("vracoinsTestHook_releaseAfterUnload");
            releasesFollowTheReport = Find<FlagHook>("vracoinsTestHook_releasesFollowTheReport");
            allocationCount = Find<CountHook>("vracoinsTestHook_allocationCount");
            trackMode = Find<FlagHook>("vracoinsTestHook_trackMode");
            setBreakOnAllocId = Find<BreakOnHook>("vracoinsTestHook_setBreakOnAllocId");
        }
    }
    bool Ready() const {
        return allocate != nullptr && release != nullptr && releaseAfterUnload != nullptr &&
               releasesFollowTheReport != nullptr && allocationCount != nullptr && trackMode != nullptr &&
               setBreakOnAllocId != nullptr;
    }

    unsigned char* Allocate(size_t size, int kind = scalarKind) {
        void* pointer = allocate(size, kind);
        EXPECT_NE(nullptr, pointer) << "the module could not allocate " << size << " bytes";
        return static_cast<unsigned char*>(pointer);
    }

    AllocateHook allocate = nullptr;
    ReleaseHook release = nullptr;
    KeepHook releaseAfterUnload = nullptr;
    FlagHook releasesFollowTheReport = nullptr;
    CountHook allocationCount = nullptr;
    FlagHook trackMode = nullptr;
    BreakOnHook setBreakOnAllocId = nullptr;
};

// A fresh machine: drive C: on a new host directory with C:\Temp\ as the temporary directory and the log
// location C:\Logs (created by the tracker), tracking in `mode`, no debugger, empty debugger output.
class ModuleLifecycleFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        winsim::Reset();
        winsim::ResetKernelServices();
        winsim::ResetModulesAndSymbols();
        root = std::filesystem::temp_directory_path() /
               ("lifecycle_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root / "Temp");
        winsim::MapDrive('C', root.string());
        winsim::SetTempPath("C:\\Temp\\");
        winsim::ClearDebugOutput();
    }

    void TearDown() override {
        winsim::ResetModulesAndSymbols();
        winsim::ResetKernelServices();
        std::filesystem::remove_all(root);
    }

    void SetSwitches(DWORD mode) {
        winsim::SetDwordValue(HKEY_LOCAL_MACHINE, switchesKey, u"TrackMemoryAllocation", mode);
        winsim::SetStringValue(HKEY_LOCAL_MACHINE, switchesKey, u"TrackMemoryLogLocation", u"C:\\Logs");
    }

    // Names of the files in a directory of drive C:, sorted; none when it does not exist.
    std::vector<std::string> FilesIn(const std::string& directory) const {
        std::vector<std::string> names;
        if (!std::filesystem::exists(root / directory)) {
            return names;
        }
        for (const auto& entry : std::filesystem::directory_iterator(root / directory)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::filesystem::path HostPath(const std::string& directory, const std::string& name) const {
        return root / directory / name;
    }

    bool NoteWritten() const { return winsim::ValueExists(HKEY_CURRENT_USER, noteKey, u"LeakedModule"); }

    // The report's header lines: opening banner and the two names.
    static std::string ReportHead(const std::string& modulePath) {
        return reportOpening + "Process Name: " + WindowsModulePath(nullptr) +
               "\r\nCurrent Module Name: " + modulePath + "\r\n";
    }

    static std::string CountLine(unsigned count) {
        return "Total number of allocations tracked: " + std::to_string(count) + "\n";
    }

    std::filesystem::path root;
};

} // namespace lifecycle_test
