// A clean leak log for each test: the log writer's module-wide state reset, drive C: mapped to a fresh
// host directory with C:\Temp\ as the temporary directory and C:\Logs\ ready for a log location, the
// executable named C:\Tools\host.exe and the simulation's library standing in for vracoins.dll, the module
// that holds the call sites of the blocks the tests build.
#pragma once

#include "memtrack/collector.h"
#include "memtrack/leak_log.h"
#include "memtrack/mem_header.h"
#include "memtrack/symbols.h"
#include "memtrack/track_config.h"
#include "winsim/control/all.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace leak_log_test {

inline const std::string executablePath = "C:\\Tools\\host.exe";
inline const std::string libraryPath = "C:\\Program Files\\Orvale\\vracoins.dll";

// Code addresses in the module that plays vracoins.dll.
inline const void* libraryCode() {
    return reinterpret_cast<const void*>(&GetTempPathA);
}

inline HMODULE moduleOf(const void* address) {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCSTR>(address), &module);
    return module;
}

inline void resetLeakLogState() {
    closeLogFiles();
    rawLogFile = nullptr; // an invalid-handle value survives closeLogFiles()
    textLogFile = nullptr;
    std::memset(&createdLogPair, 0, sizeof createdLogPair);
    releaseCachedModulePaths();
    callerModuleBase = nullptr;
    callerModuleSize = 0;
    std::memset(collectorModulePath, 0, sizeof collectorModulePath);
    std::memset(logDir, 0, sizeof logDir);
    moduleCollector = nullptr;
    setCollectorRegistered(false);
    symbolResolver = nullptr;
}

inline std::vector<uint8_t> readHostFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline std::string readHostText(const std::filesystem::path& path) {
    std::vector<uint8_t> bytes = readHostFile(path);
    return std::string(bytes.begin(), bytes.end());
}

class LeakLogFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        winsim::Reset();
        winsim::ResetKernelServices();
        winsim::ResetModulesAndSymbols();
        resetLeakLogState();
        root = std::filesystem::temp_directory_path() /
               ("leaklog_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root / "Temp");
        std::filesystem::create_directories(root / "Logs");
        winsim::MapDrive('C', root.string());
        winsim::SetTempPath("C:\\Temp\\");
        winsim::OverrideModulePath(nullptr, executablePath);
        winsim::OverrideModulePath(moduleOf(libraryCode()), libraryPath);
        winsim::ClearDebugOutput();
    }

    void TearDown() override {
        resetLeakLogState();
        winsim::ResetModulesAndSymbols();
        winsim::ResetKernelServices();
        std::filesystem::remove_all(root);
    }

    // A block header as the tracker builds it, for an undamaged block allocated in vracoins.dll.
    OVMemHdr* makeHeader(uint32_t id, uint64_t size) {
        headers.emplace_back(new HeaderStorage());
        OVMemHdr* header = reinterpret_cast<OVMemHdr*>(headers.back()->bytes);
        std::memset(header, 0, sizeof(OVMemHdr));
        header->magic = 0xAA;
        header->id = id;
        header->size = size;
        header->caller = const_cast<void*>(libraryCode());
        header->headGuardSize = 384;
        header->userPtr = reinterpret_cast<uint8_t*>(header) + sizeof(OVMemHdr);
        header->allocPtr = reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(header) - 8);
        std::memset(header->headGuard, 0xD0, sizeof header->headGuard);
        return header;
    }

    // Names of the regular files in a directory under the mapped drive, sorted.
    std::vector<std::string> filesIn(const std::string& directory) const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(root / directory)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::filesystem::path hostPath(const std::string& directory, const std::string& name) const {
        return root / directory / name;
    }

    std::filesystem::path root;

  private:
    struct HeaderStorage {
        alignas(16) unsigned char bytes[sizeof(OVMemHdr) + 16];
    };
    std::vector<std::unique_ptr<HeaderStorage>> headers;
};

} // namespace leak_log_test
