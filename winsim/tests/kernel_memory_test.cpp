// Heaps, pages and system information of the simulation: what HeapAlloc hands out and takes back,
// pages whose protection the host enforces, and what VirtualQuery reports for pages, modules and the
// rest of the process.
#include "simulated_world.h"

#include <dlfcn.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstring>

namespace {

class KernelMemoryTest : public SimulatedWorld {
  protected:
    static SIZE_T Page() { return static_cast<SIZE_T>(sysconf(_SC_PAGESIZE)); }
};

TEST_F(KernelMemoryTest, HeapBlocksAreAlignedZeroedOnRequestAndCounted) {
    HANDLE heap = GetProcessHeap();
    ASSERT_NE(nullptr, heap);
    size_t before = winsim::HeapBlockCount();
    auto* zeroed = static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 100));
    ASSERT_NE(nullptr, zeroed);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(zeroed) % 16)
        << "heap blocks are 16-byte aligned on 64-bit Windows";
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(0, zeroed[i]) << "byte " << i << " of a HEAP_ZERO_MEMORY block";
    }
    EXPECT_EQ(100u, HeapSize(heap, 0, zeroed));
    EXPECT_EQ(before + 1, winsim::HeapBlockCount());
    EXPECT_TRUE(HeapFree(heap, 0, zeroed));
    EXPECT_EQ(before, winsim::HeapBlockCount());
    EXPECT_TRUE(HeapFree(heap, 0, nullptr)) << "freeing null succeeds";
}

TEST_F(KernelMemoryTest, HeapAllocFailsOnRequestAndForImpossibleSizes) {
    winsim::FailCall("HeapAlloc", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(nullptr, HeapAlloc(GetProcessHeap(), 0, 16));
    EXPECT_EQ(nullptr, HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(-1)));
    void* block = HeapAlloc(GetProcessHeap(), 0, 16);
    EXPECT_NE(nullptr, block) << "only the armed call fails";
    size_t live = winsim::HeapBlockCount();
    winsim::FailCall("HeapFree", ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(HeapFree(GetProcessHeap(), 0, block));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(live, winsim::HeapBlockCount()) << "a refused release gave the block back";
    EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, block));
    EXPECT_EQ(3u, winsim::CallCount("HeapAlloc"));
}

TEST_F(KernelMemoryTest, FreeingWhatTheHeapDidNotHandOutEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    alignas(16) unsigned char foreign[64] = {};
    EXPECT_DEATH(HeapFree(GetProcessHeap(), 0, foreign + 16), "not a block that HeapAlloc handed out");
    EXPECT_DEATH(
        {
            void* block = HeapAlloc(GetProcessHeap(), 0, 8);
            HeapFree(GetProcessHeap(), 0, block);
            HeapFree(GetProcessHeap(), 0, block);
        },
        // A sanitized build finds the second release itself, before the heap can tell it.
        "freed already|heap-use-after-free");
}

TEST_F(KernelMemoryTest, CommittedNoAccessPagesFaultOnAccess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            auto* pages =
                static_cast<volatile char*>(VirtualAlloc(nullptr, Page(), MEM_COMMIT, PAGE_NOACCESS));
            pages[0] = 1;
            std::exit(0);
        },
        ::testing::KilledBySignal(SIGSEGV), "");
}

TEST_F(KernelMemoryTest, ProtectionChangesAreReportedAndEnforced) {
    size_t regions = winsim::VirtualRegionCount();
    auto* base = static_cast<char*>(VirtualAlloc(nullptr, 3 * Page(), MEM_COMMIT, PAGE_NOACCESS));
    ASSERT_NE(nullptr, base);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(base) % Page());
    DWORD former = 0;
    ASSERT_TRUE(VirtualProtect(base + Page(), Page(), PAGE_READWRITE, &former));
    EXPECT_EQ(static_cast<DWORD>(PAGE_NOACCESS), former);
    base[Page()] = 42; // the middle page is writable now
    EXPECT_EQ(42, base[Page()]);

    MEMORY_BASIC_INFORMATION info = {};
    ASSERT_EQ(sizeof info, VirtualQuery(base + Page() + 100, &info, sizeof info));
    EXPECT_EQ(base + Page(), info.BaseAddress);
    EXPECT_EQ(base, info.AllocationBase);
    EXPECT_EQ(Page(), info.RegionSize) << "only the middle page has this protection";
    EXPECT_EQ(static_cast<DWORD>(PAGE_READWRITE), info.Protect);
    EXPECT_EQ(static_cast<DWORD>(MEM_COMMIT), info.State);
    EXPECT_EQ(static_cast<DWORD>(MEM_PRIVATE), info.Type);
    EXPECT_EQ(static_cast<DWORD>(PAGE_NOACCESS), info.AllocationProtect);
    EXPECT_EQ(regions + 1, winsim::VirtualRegionCount());

    EXPECT_FALSE(VirtualFree(base + Page(), 0, MEM_RELEASE)) << "release needs the region's base";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_FALSE(VirtualFree(base, Page(), MEM_RELEASE)) << "release needs a size of 0";
    EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
    EXPECT_EQ(regions, winsim::VirtualRegionCount());
}

TEST_F(KernelMemoryTest, VirtualCallsRefuseWhatWindowsRefuses) {
    EXPECT_EQ(nullptr, VirtualAlloc(nullptr, 0, MEM_COMMIT, PAGE_READWRITE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(nullptr, VirtualAlloc(nullptr, Page(), MEM_COMMIT, 0x12345));
    EXPECT_EQ(nullptr, VirtualAlloc(nullptr, static_cast<SIZE_T>(-1), MEM_COMMIT, PAGE_READWRITE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
    char local = 0;
    DWORD former = 0;
    EXPECT_FALSE(VirtualProtect(&local, 1, PAGE_READONLY, &former)) << "not VirtualAlloc's memory";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_ADDRESS), GetLastError());
    void* pages = VirtualAlloc(nullptr, Page(), MEM_COMMIT, PAGE_READWRITE);
    EXPECT_FALSE(VirtualProtect(pages, Page(), PAGE_READONLY, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOACCESS), GetLastError());
    EXPECT_FALSE(VirtualProtect(pages, 2 * Page(), PAGE_READONLY, &former)) << "beyond the region";
    VirtualFree(pages, 0, MEM_RELEASE);
}

TEST_F(KernelMemoryTest, ReservedPagesAreCommittedLater) {
    auto* base = static_cast<char*>(VirtualAlloc(nullptr, 2 * Page(), MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(nullptr, base);
    MEMORY_BASIC_INFORMATION info = {};
    VirtualQuery(base, &info, sizeof info);
    EXPECT_EQ(static_cast<DWORD>(MEM_RESERVE), info.State);
    EXPECT_EQ(2 * Page(), info.RegionSize);
    ASSERT_EQ(base + Page(), VirtualAlloc(base + Page(), Page(), MEM_COMMIT, PAGE_READWRITE));
    base[Page()] = 7;
    VirtualQuery(base + Page(), &info, sizeof info);
    EXPECT_EQ(static_cast<DWORD>(MEM_COMMIT), info.State);
    EXPECT_TRUE(VirtualFree(base + Page(), Page(), MEM_DECOMMIT));
    VirtualQuery(base + Page(), &info, sizeof info);
    EXPECT_EQ(static_cast<DWORD>(MEM_RESERVE), info.State);
    EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
}

TEST_F(KernelMemoryTest, FailuresOfThePageFunctionsCanBeArmed) {
    winsim::FailCall("VirtualAlloc", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(nullptr, VirtualAlloc(nullptr, Page(), MEM_COMMIT, PAGE_READWRITE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
    void* pages = VirtualAlloc(nullptr, Page(), MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(nullptr, pages);
    winsim::FailCall("VirtualProtect", ERROR_ACCESS_DENIED);
    DWORD former = 0;
    EXPECT_FALSE(VirtualProtect(pages, Page(), PAGE_READONLY, &former));
    winsim::FailCall("VirtualFree", ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(VirtualFree(pages, 0, MEM_RELEASE));
    EXPECT_TRUE(VirtualFree(pages, 0, MEM_RELEASE));
}

TEST_F(KernelMemoryTest, AddressInAModuleReportsTheWholeModule) {
    Dl_info info = {};
    ASSERT_NE(0, dladdr(reinterpret_cast<void*>(&HeapAlloc), &info));
    MEMORY_BASIC_INFORMATION memory = {};
    ASSERT_EQ(48u, VirtualQuery(reinterpret_cast<void*>(&HeapAlloc), &memory, 48));
    EXPECT_EQ(info.dli_fbase, memory.AllocationBase) << "the allocation base is the module handle";
    EXPECT_EQ(static_cast<DWORD>(MEM_IMAGE), memory.Type);
    auto base = reinterpret_cast<uintptr_t>(memory.AllocationBase);
    EXPECT_LT(reinterpret_cast<uintptr_t>(&HeapAlloc), base + memory.RegionSize)
        << "the region must cover the queried code";
    MEMORY_BASIC_INFORMATION again = {};
    VirtualQuery(reinterpret_cast<void*>(&VirtualQuery), &again, sizeof again);
    EXPECT_EQ(memory.AllocationBase, again.AllocationBase) << "two functions of one module";
    EXPECT_EQ(memory.RegionSize, again.RegionSize);
}

TEST_F(KernelMemoryTest, OtherAddressesAreDescribedFromTheProcessMappings) {
    int onStack = 0;
    MEMORY_BASIC_INFORMATION memory = {};
    ASSERT_EQ(sizeof memory, VirtualQuery(&onStack, &memory, sizeof memory));
    EXPECT_EQ(static_cast<DWORD>(MEM_COMMIT), memory.State);
    EXPECT_EQ(static_cast<DWORD>(PAGE_READWRITE), memory.Protect);
    ASSERT_EQ(sizeof memory, VirtualQuery(reinterpret_cast<void*>(0x1000), &memory, sizeof memory));
    EXPECT_EQ(static_cast<DWORD>(MEM_FREE), memory.State);
    EXPECT_EQ(0u, VirtualQuery(&onStack, &memory, sizeof memory - 1));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_LENGTH), GetLastError());
    EXPECT_EQ(0u, VirtualQuery(reinterpret_cast<void*>(0x7FFFFFFFFFFFull), &memory, sizeof memory));
}

TEST_F(KernelMemoryTest, SystemInfoReportsTheHostPageSize) {
    SYSTEM_INFO info = {};
    GetSystemInfo(&info);
    EXPECT_EQ(static_cast<DWORD>(Page()), info.dwPageSize);
    EXPECT_EQ(65536u, info.dwAllocationGranularity);
    EXPECT_GE(info.dwNumberOfProcessors, 1u);
}

} // namespace
