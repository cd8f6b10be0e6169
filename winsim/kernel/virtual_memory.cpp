// Virtual memory and system information of the simulation; see virtual_memory.h for what is modelled.
// VirtualAlloc maps real pages with mmap and VirtualProtect changes them with mprotect, so PAGE_NOACCESS
// pages fault on access exactly as on Windows. The regions' bookkeeping lives in malloc'd containers:
// the code under test may serve its own operator new from these functions.
#include "winsim/control/kernel.h"
#include "winsim/core/entry.h"
#include "winsim/core/malloc_containers.h"
#include "winsim/kernel/last_error.h"
#include "winsim/kernel/loaded_modules.h"
#include "winsim/kernel/virtual_memory.h"

#include <sys/mman.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace winsim_detail;

namespace {

struct Region {
    SIZE_T size = 0;
    DWORD allocationProtect = 0;
    SimVector<BYTE> committed; // per page
    SimVector<DWORD> protect;  // per page, meaningful while committed
};

struct VirtualMemory {
    SimMap<ULONG_PTR, Region> regions; // by base address
};

// Never destroyed: see the note on the failure state in core/entry.cpp.
VirtualMemory& Memory() {
    static VirtualMemory* memory = new (std::malloc(sizeof(VirtualMemory))) VirtualMemory();
    return *memory;
}

SIZE_T PageSize() {
    static const SIZE_T size = static_cast<SIZE_T>(sysconf(_SC_PAGESIZE));
    return size;
}

// 47 bits of user address space, less the 64 KiB that Windows keeps at the top.
constexpr ULONG_PTR kHighestApplicationAddress = 0x7FFFFFFEFFFFull;
constexpr ULONG_PTR kLowestApplicationAddress = 0x10000ull;

bool HostProtection(DWORD protect, int* host) {
    switch (protect) {
    case PAGE_NOACCESS:
        *host = PROT_NONE;
        return true;
    case PAGE_READONLY:
        *host = PROT_READ;
        return true;
    case PAGE_READWRITE:
    case PAGE_WRITECOPY:
        *host = PROT_READ | PROT_WRITE;
        return true;
    case PAGE_EXECUTE:
    case PAGE_EXECUTE_READ:
        *host = PROT_READ | PROT_EXEC;
        return true;
    case PAGE_EXECUTE_READWRITE:
    case PAGE_EXECUTE_WRITECOPY:
        *host = PROT_READ | PROT_WRITE | PROT_EXEC;
        return true;
    default:
        return false;
    }
}

// The region holding `address`, or null.
Region* RegionOf(ULONG_PTR address, ULONG_PTR* base) {
    auto& regions = Memory().regions;
    auto next = regions.upper_bound(address);
    if (next == regions.begin()) {
        return nullptr;
    }
    auto found = std::prev(next);
    if (address >= found->first + found->second.size) {
        return nullptr;
    }
    *base = found->first;
    return &found->second;
}

bool RoundedRange(ULONG_PTR address, SIZE_T size, ULONG_PTR* first, ULONG_PTR* end) {
    SIZE_T page = PageSize();
    if (size > ~address) {
        return false;
    }
    ULONG_PTR last = address + size;
    if (last > ~static_cast<ULONG_PTR>(0) - page) {
        return false;
    }
    *first = address - address % page;
    *end = (last + page - 1) / page * page;
    return true;
}

// Describes a mapping of the process that no VirtualAlloc region and no module covers, from
// /proc/self/maps, read without allocating.
void DescribeHostMapping(ULONG_PTR address, MEMORY_BASIC_INFORMATION* info) {
    SIZE_T page = PageSize();
    ULONG_PTR pageStart = address - address % page;
    info->BaseAddress = reinterpret_cast<PVOID>(pageStart);
    info->AllocationBase = nullptr;
    info->AllocationProtect = 0;
    info->State = MEM_FREE;
    info->Protect = PAGE_NOACCESS;
    info->Type = 0;
    ULONG_PTR nextStart = kHighestApplicationAddress + 1;

    int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char buffer[8192];
        size_t held = 0;
        bool done = false;
        while (!done) {
            ssize_t got = read(fd, buffer + held, sizeof buffer - held - 1);
            if (got <= 0) {
                break;
            }
            held += static_cast<size_t>(got);
            buffer[held] = 0;
            char* line = buffer;
            char* newline = nullptr;
            while ((newline = std::strchr(line, '\n')) != nullptr) {
                *newline = 0;
                unsigned long long start = 0;
                unsigned long long end = 0;
                char perms[5] = {};
                unsigned long long offset = 0;
                int inode = 0;
                char device[16] = {};
                if (std::sscanf(line, "%llx-%llx %4s %llx %15s %d", &start, &end, perms, &offset, device,
                                &inode) >= 3) {
                    if (start <= address && address < end) {
                        info->AllocationBase = reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(start));
                        info->RegionSize = static_cast<SIZE_T>(end - pageStart);
                        info->State = MEM_COMMIT;
                        info->Type = inode != 0 ? MEM_MAPPED : MEM_PRIVATE;
                        bool r = perms[0] == 'r';
                        bool w = perms[1] == 'w';
                        bool x = perms[2] == 'x';
                        info->Protect = x ? (w   ? PAGE_EXECUTE_READWRITE
                                             : r ? PAGE_EXECUTE_READ
                                                 : PAGE_EXECUTE)
                                          : (w   ? PAGE_READWRITE
                                             : r ? PAGE_READONLY
                                                 : PAGE_NOACCESS);
                        info->AllocationProtect = info->Protect;
                        done = true;
                        break;
                    }
                    if (start > address && start < nextStart) {
                        nextStart = static_cast<ULONG_PTR>(start);
                    }
                }
                line = newline + 1;
            }
            held = static_cast<size_t>(buffer + held - line);
            std::memmove(buffer, line, held);
        }
        close(fd);
    }
    if (info->State == MEM_FREE) {
        info->RegionSize = nextStart - pageStart;
    }
}

} // namespace

namespace winsim {

size_t VirtualRegionCount() {
    ControlCall call;
    return Memory().regions.size();
}

} // namespace winsim

LPVOID WINAPI VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect) {
    PlatformCall call("VirtualAlloc");
    if (call.FailsWithLastError()) {
        return nullptr;
    }
    int hostProtect = 0;
    bool commit = (flAllocationType & MEM_COMMIT) != 0;
    bool reserve = (flAllocationType & MEM_RESERVE) != 0;
    if (dwSize == 0 || (!commit && !reserve) || (flAllocationType & ~(MEM_COMMIT | MEM_RESERVE)) != 0 ||
        !HostProtection(flProtect, &hostProtect)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    SIZE_T page = PageSize();
    if (lpAddress != nullptr) {
        // Committing pages of a region reserved before.
        ULONG_PTR base = 0;
        ULONG_PTR first = 0;
        ULONG_PTR end = 0;
        Region* region = nullptr;
        if (reserve || !RoundedRange(reinterpret_cast<ULONG_PTR>(lpAddress), dwSize, &first, &end) ||
            (region = RegionOf(first, &base)) == nullptr || end > base + region->size) {
            SetLastError(ERROR_INVALID_ADDRESS);
            return nullptr;
        }
        if (mprotect(reinterpret_cast<void*>(first), end - first, hostProtect) != 0) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        for (ULONG_PTR at = first; at < end; at += page) {
            size_t index = (at - base) / page;
            region->committed[index] = 1;
            region->protect[index] = flProtect;
        }
        return reinterpret_cast<LPVOID>(first);
    }
    if (dwSize > kHighestApplicationAddress) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    SIZE_T size = (dwSize + page - 1) / page * page;
    // Committed memory counts against the host's commit limit, as on Windows; reserved memory does not.
    void* base = mmap(nullptr, size, commit ? hostProtect : PROT_NONE,
                      MAP_PRIVATE | MAP_ANONYMOUS | (commit ? 0 : MAP_NORESERVE), -1, 0);
    if (base == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    Region& region = Memory().regions[reinterpret_cast<ULONG_PTR>(base)];
    region.size = size;
    region.allocationProtect = flProtect;
    region.committed.assign(size / page, commit ? 1 : 0);
    region.protect.assign(size / page, commit ? flProtect : 0);
    return base;
}

BOOL WINAPI VirtualProtect(LPVOID lpAddress, SIZE_T dwSize, DWORD flNewProtect, PDWORD lpflOldProtect) {
    PlatformCall call("VirtualProtect");
    if (call.FailsWithLastError()) {
        return FALSE;
    }
    int hostProtect = 0;
    if (!HostProtection(flNewProtect, &hostProtect)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (lpflOldProtect == nullptr) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    SIZE_T page = PageSize();
    ULONG_PTR base = 0;
    ULONG_PTR first = 0;
    ULONG_PTR end = 0;
    Region* region = nullptr;
    if (dwSize == 0 || !RoundedRange(reinterpret_cast<ULONG_PTR>(lpAddress), dwSize, &first, &end) ||
        (region = RegionOf(first, &base)) == nullptr || end > base + region->size) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    for (ULONG_PTR at = first; at < end; at += page) {
        if (!region->committed[(at - base) / page]) {
            SetLastError(ERROR_INVALID_ADDRESS);
            return FALSE;
        }
    }
    if (mprotect(reinterpret_cast<void*>(first), end - first, hostProtect) != 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    *lpflOldProtect = region->protect[(first - base) / page];
    for (ULONG_PTR at = first; at < end; at += page) {
        region->protect[(at - base) / page] = flNewProtect;
    }
    return TRUE;
}

BOOL WINAPI VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType) {
    PlatformCall call("VirtualFree");
    if (call.FailsWithLastError()) {
        return FALSE;
    }
    SIZE_T page = PageSize();
    ULONG_PTR address = reinterpret_cast<ULONG_PTR>(lpAddress);
    if (dwFreeType == MEM_RELEASE) {
        auto found = Memory().regions.find(address);
        if (dwSize != 0 || found == Memory().regions.end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        munmap(lpAddress, found->second.size);
        Memory().regions.erase(found);
        return TRUE;
    }
    if (dwFreeType == MEM_DECOMMIT) {
        ULONG_PTR base = 0;
        ULONG_PTR first = 0;
        ULONG_PTR end = 0;
        Region* region = RegionOf(address, &base);
        if (region == nullptr) {
            SetLastError(ERROR_INVALID_ADDRESS);
            return FALSE;
        }
        if (dwSize == 0) {
            first = base;
            end = base + region->size;
        } else if (!RoundedRange(address, dwSize, &first, &end) || end > base + region->size) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        // Fresh pages when committed again, as on Windows.
        mmap(reinterpret_cast<void*>(first), end - first, PROT_NONE,
             MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
        for (ULONG_PTR at = first; at < end; at += page) {
            region->committed[(at - base) / page] = 0;
        }
        return TRUE;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

SIZE_T WINAPI VirtualQuery(LPCVOID lpAddress, PMEMORY_BASIC_INFORMATION lpBuffer, SIZE_T dwLength) {
    PlatformCall call("VirtualQuery");
    if (lpBuffer == nullptr || dwLength < sizeof(MEMORY_BASIC_INFORMATION)) {
        SetLastError(ERROR_BAD_LENGTH);
        return 0;
    }
    ULONG_PTR address = reinterpret_cast<ULONG_PTR>(lpAddress);
    if (address > kHighestApplicationAddress) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::memset(lpBuffer, 0, sizeof(MEMORY_BASIC_INFORMATION));
    SIZE_T page = PageSize();
    ULONG_PTR pageStart = address - address % page;
    ULONG_PTR base = 0;
    LoadedModule module;
    if (Region* region = RegionOf(address, &base)) {
        // The run of pages from this one on that share its state and protection.
        size_t index = (pageStart - base) / page;
        size_t end = index + 1;
        while (end < region->committed.size() && region->committed[end] == region->committed[index] &&
               (!region->committed[index] || region->protect[end] == region->protect[index])) {
            ++end;
        }
        lpBuffer->BaseAddress = reinterpret_cast<PVOID>(pageStart);
        lpBuffer->AllocationBase = reinterpret_cast<PVOID>(base);
        lpBuffer->AllocationProtect = region->allocationProtect;
        lpBuffer->RegionSize = (end - index) * page;
        lpBuffer->State = region->committed[index] ? MEM_COMMIT : MEM_RESERVE;
        lpBuffer->Protect = region->committed[index] ? region->protect[index] : 0;
        lpBuffer->Type = MEM_PRIVATE;
    } else if (FindModuleByAddress(address, &module)) {
        // The whole module as one image region, so that a caller can cache the module's range.
        lpBuffer->BaseAddress = reinterpret_cast<PVOID>(module.base);
        lpBuffer->AllocationBase = reinterpret_cast<PVOID>(module.base);
        lpBuffer->AllocationProtect = PAGE_EXECUTE_WRITECOPY;
        lpBuffer->RegionSize = module.end - module.base;
        lpBuffer->State = MEM_COMMIT;
        lpBuffer->Protect = PAGE_EXECUTE_READ;
        lpBuffer->Type = MEM_IMAGE;
    } else if (address < kLowestApplicationAddress) {
        lpBuffer->BaseAddress = reinterpret_cast<PVOID>(pageStart);
        lpBuffer->RegionSize = kLowestApplicationAddress - pageStart;
        lpBuffer->State = MEM_FREE;
        lpBuffer->Protect = PAGE_NOACCESS;
    } else {
        DescribeHostMapping(address, lpBuffer);
    }
    return sizeof(MEMORY_BASIC_INFORMATION);
}

void WINAPI GetSystemInfo(LPSYSTEM_INFO lpSystemInfo) {
    if (lpSystemInfo == nullptr) {
        return;
    }
    std::memset(lpSystemInfo, 0, sizeof(SYSTEM_INFO));
    lpSystemInfo->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
    lpSystemInfo->dwPageSize = static_cast<DWORD>(PageSize());
    lpSystemInfo->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(kLowestApplicationAddress);
    lpSystemInfo->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(kHighestApplicationAddress);
    long processors = sysconf(_SC_NPROCESSORS_ONLN);
    lpSystemInfo->dwNumberOfProcessors = processors > 0 ? static_cast<DWORD>(processors) : 1;
    lpSystemInfo->dwActiveProcessorMask =
        lpSystemInfo->dwNumberOfProcessors >= 64
            ? ~static_cast<DWORD_PTR>(0)
            : (static_cast<DWORD_PTR>(1) << lpSystemInfo->dwNumberOfProcessors) - 1;
    lpSystemInfo->dwProcessorType = PROCESSOR_AMD_X8664;
    lpSystemInfo->dwAllocationGranularity = 0x10000;
    lpSystemInfo->wProcessorLevel = 6;
}
