// Module paths for the records: the executable's path, the 259/260-character limit, the cache of the
// call site's module by allocation base, and the tracker's own path.
#include "memtrack/symbols.h"

#include "winsim/control/all.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const std::string executablePath = "C:\\Tools\\host.exe";
const std::string libraryPath = "C:\\Program Files\\Orvale\\vracoins.dll";

// Two code addresses in the simulation's library, a module other than this test executable.
const void* libraryCode() {
    return reinterpret_cast<const void*>(&GetTempPathA);
}
const void* moreLibraryCode() {
    return reinterpret_cast<const void*>(&CreateFileA);
}
// A code address in this test executable.
const void* executableCode() {
    return reinterpret_cast<const void*>(&captureCollectorModuleName);
}

HMODULE moduleOf(const void* address) {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCSTR>(address), &module);
    return module;
}

// A Windows path of exactly `length` characters.
std::string pathOfLength(size_t length) {
    std::string path = "C:\\Modules\\";
    path += std::string(length - path.size() - 4, 'm');
    path += ".dll";
    return path;
}

class ModuleNames : public ::testing::Test {
  protected:
    void SetUp() override {
        winsim::Reset();
        winsim::ResetModulesAndSymbols();
        resetModuleNameState();
        winsim::OverrideModulePath(nullptr, executablePath);
        winsim::OverrideModulePath(moduleOf(libraryCode()), libraryPath);
    }
    void TearDown() override { resetModuleNameState(); }

    static void resetModuleNameState() {
        releaseCachedModulePaths();
        callerModuleBase = nullptr;
        callerModuleSize = 0;
        std::memset(collectorModulePath, 0, sizeof collectorModulePath);
    }
};

TEST_F(ModuleNames, CopiesTheExecutablePathIntoANewBuffer) {
    char* path = getModuleFileNameCopy(nullptr);
    ASSERT_NE(nullptr, path) << "no path for the process executable";
    EXPECT_EQ(executablePath, path);
    free(path);
}

TEST_F(ModuleNames, AcceptsAPathOf259CharactersAndRefusesOneCutAt260) {
    std::string longest = pathOfLength(259);
    winsim::OverrideModulePath(nullptr, longest);
    char* path = getModuleFileNameCopy(nullptr);
    ASSERT_NE(nullptr, path) << "a 259-character path was refused";
    EXPECT_EQ(longest, path);
    free(path);

    winsim::OverrideModulePath(nullptr, pathOfLength(260));
    path = getModuleFileNameCopy(nullptr);
    EXPECT_EQ(nullptr, path) << "a path cut at 260 characters was accepted as \"" << (path ? path : "")
                             << "\"";
    free(path);
}

TEST_F(ModuleNames, RefusesAModuleWhosePathCannotBeHad) {
    EXPECT_EQ(nullptr, getModuleFileNameCopy(reinterpret_cast<HMODULE>(0x1000)))
        << "a module that does not exist";
    winsim::FailCall("GetModuleFileNameA", ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(nullptr, getModuleFileNameCopy(nullptr)) << "a failed GetModuleFileNameA";
}

TEST_F(ModuleNames, NamesTheModuleOfACallSiteAndCachesItByAllocationBase) {
    const char* first = moduleNameForAddress(libraryCode());
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(libraryPath, first);
    EXPECT_EQ(reinterpret_cast<void*>(moduleOf(libraryCode())), callerModuleBase)
        << "the cache must hold the module's allocation base";
    EXPECT_EQ(1u, winsim::CallCount("VirtualQuery"));

    const char* second = moduleNameForAddress(moreLibraryCode());
    EXPECT_EQ(first, second) << "a call site in the same module must reuse the cached path";
    EXPECT_EQ(1u, winsim::CallCount("VirtualQuery")) << "an address inside the cached range needs no query";
    EXPECT_EQ(1u, winsim::CallCount("GetModuleFileNameA"));
}

TEST_F(ModuleNames, FollowsACallSiteIntoAnotherModule) {
    ASSERT_NE(nullptr, moduleNameForAddress(libraryCode()));
    const char* path = moduleNameForAddress(executableCode());
    ASSERT_NE(nullptr, path);
    EXPECT_EQ(executablePath, path);
    EXPECT_EQ(2u, winsim::CallCount("VirtualQuery"));
}

TEST_F(ModuleNames, FallsBackToTheTrackersOwnPathOutsideAnyModule) {
    std::strcpy(collectorModulePath, "C:\\Program Files\\Orvale\\collector.dll");
    void* data = calloc(1, 64); // zeroed: GCC at -O2 takes the pointer for a read of the block
    const char* path = moduleNameForAddress(data);
    free(data);
    ASSERT_NE(nullptr, path);
    EXPECT_STREQ("C:\\Program Files\\Orvale\\collector.dll", path);
    EXPECT_NE(static_cast<const void*>(collectorModulePath), static_cast<const void*>(path))
        << "the fallback must be a copy, not the tracker's own buffer";
}

TEST_F(ModuleNames, AnswersNoAddressWithTheCacheAsItStands) {
    EXPECT_EQ(nullptr, moduleNameForAddress(nullptr)) << "nothing cached yet";
    const char* path = moduleNameForAddress(libraryCode());
    unsigned queries = winsim::CallCount("VirtualQuery");
    EXPECT_EQ(path, moduleNameForAddress(nullptr));
    EXPECT_EQ(queries, winsim::CallCount("VirtualQuery")) << "no address needs no query";
}

TEST_F(ModuleNames, KeepsTheRangeWhenTheQueryFails) {
    refreshModuleRange(libraryCode());
    void* base = callerModuleBase;
    SIZE_T size = callerModuleSize;
    ASSERT_NE(nullptr, base);
    ASSERT_NE(0u, size);
    // Above the highest application address: the query fails.
    refreshModuleRange(reinterpret_cast<const void*>(static_cast<uintptr_t>(0xFFFFFFFFFFFF0000ull)));
    ASSERT_EQ(2u, winsim::CallCount("VirtualQuery")) << "the address outside the range was not queried";
    EXPECT_EQ(base, callerModuleBase) << "a failed query must leave the base";
    EXPECT_EQ(size, callerModuleSize) << "a failed query must leave the size";
}

TEST_F(ModuleNames, CapturesTheTrackersOwnModulePath) {
    ASSERT_TRUE(captureCollectorModuleName());
    EXPECT_EQ(executablePath, collectorModulePath) << "the tracker is linked into this test executable";
}

TEST_F(ModuleNames, CaptureFailsWhenTheModuleOrItsPathCannotBeFound) {
    winsim::FailCall("GetModuleHandleExA", ERROR_MOD_NOT_FOUND);
    EXPECT_FALSE(captureCollectorModuleName());
    EXPECT_STREQ("", collectorModulePath);
    winsim::OverrideModulePath(nullptr, pathOfLength(260));
    EXPECT_FALSE(captureCollectorModuleName());
    EXPECT_STREQ("", collectorModulePath);
}

TEST_F(ModuleNames, ReleasedPathsAreRebuiltFromTheCachedRange) {
    processPath = getModuleFileNameCopy(nullptr);
    ASSERT_NE(nullptr, moduleNameForAddress(libraryCode()));
    releaseCachedModulePaths();
    EXPECT_EQ(nullptr, processPath);
    EXPECT_EQ(nullptr, callerModulePath);
    EXPECT_NE(nullptr, callerModuleBase) << "the range is never reset";

    std::strcpy(collectorModulePath, "C:\\Program Files\\Orvale\\collector.dll");
    const char* path = moduleNameForAddress(moreLibraryCode());
    ASSERT_NE(nullptr, path);
    EXPECT_EQ(libraryPath, path)
        << "the released path must be rebuilt from the module, not from the fallback";
}

} // namespace
