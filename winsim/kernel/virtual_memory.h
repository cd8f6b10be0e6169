// Virtual memory and system information of the simulation (kernel32).
// Modelled: real pages for VirtualAlloc, with their protections enforced by the host's memory
// management, so that an access to a PAGE_NOACCESS page faults; VirtualQuery of those pages, of the
// loaded modules (allocation base = the module handle, region = the module's whole mapped extent) and of
// any other mapping of the process. None of these functions allocates through operator new.
// Not modelled: the 64 KiB allocation granularity of VirtualAlloc's base addresses, reserving at a chosen
// address, guard pages (PAGE_GUARD) and large pages.
#pragma once

#include "winsim/kernel/types.h"

#define MEM_COMMIT 0x00001000
#define MEM_RESERVE 0x00002000
#define MEM_DECOMMIT 0x00004000
#define MEM_RELEASE 0x00008000
#define MEM_FREE 0x00010000
#define MEM_PRIVATE 0x00020000
#define MEM_MAPPED 0x00040000
#define MEM_IMAGE 0x01000000

#define PAGE_NOACCESS 0x01
#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04
#define PAGE_WRITECOPY 0x08
#define PAGE_EXECUTE 0x10
#define PAGE_EXECUTE_READ 0x20
#define PAGE_EXECUTE_READWRITE 0x40
#define PAGE_EXECUTE_WRITECOPY 0x80

#define ERROR_BAD_LENGTH 24L
#define ERROR_INVALID_ADDRESS 487L
#define ERROR_NOACCESS 998L

typedef struct _MEMORY_BASIC_INFORMATION {
    PVOID BaseAddress;
    PVOID AllocationBase;
    DWORD AllocationProtect;
    WORD PartitionId;
    SIZE_T RegionSize;
    DWORD State;
    DWORD Protect;
    DWORD Type;
} MEMORY_BASIC_INFORMATION, *PMEMORY_BASIC_INFORMATION;

typedef struct _SYSTEM_INFO {
    WORD wProcessorArchitecture;
    WORD wReserved;
    DWORD dwPageSize;
    LPVOID lpMinimumApplicationAddress;
    LPVOID lpMaximumApplicationAddress;
    DWORD_PTR dwActiveProcessorMask;
    DWORD dwNumberOfProcessors;
    DWORD dwProcessorType;
    DWORD dwAllocationGranularity;
    WORD wProcessorLevel;
    WORD wProcessorRevision;
} SYSTEM_INFO, *LPSYSTEM_INFO;

#define PROCESSOR_ARCHITECTURE_AMD64 9
#define PROCESSOR_AMD_X8664 8664

// lpAddress null: reserves (and with MEM_COMMIT also commits) whole pages; MEM_COMMIT alone reserves as
// well, as on Windows. lpAddress inside a reserved region with MEM_COMMIT: commits those pages. Null with
// ERROR_INVALID_PARAMETER for a size of 0 or bad flags, ERROR_NOT_ENOUGH_MEMORY when the host refuses.
LPVOID WINAPI VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect);
// Every page of the range must be committed and lie in one region from VirtualAlloc
// (ERROR_INVALID_ADDRESS otherwise); lpflOldProtect receives the first page's former protection and must
// not be null (ERROR_NOACCESS).
BOOL WINAPI VirtualProtect(LPVOID lpAddress, SIZE_T dwSize, DWORD flNewProtect, PDWORD lpflOldProtect);
// MEM_RELEASE needs the region's base and a size of 0 (ERROR_INVALID_PARAMETER otherwise); MEM_DECOMMIT
// makes committed pages reserved again.
BOOL WINAPI VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType);
// Returns the bytes written (sizeof(MEMORY_BASIC_INFORMATION)), or 0: ERROR_BAD_LENGTH when dwLength is
// too small, ERROR_INVALID_PARAMETER above the highest application address.
SIZE_T WINAPI VirtualQuery(LPCVOID lpAddress, PMEMORY_BASIC_INFORMATION lpBuffer, SIZE_T dwLength);

// The host's page size; an allocation granularity of 64 KiB as on Windows.
void WINAPI GetSystemInfo(LPSYSTEM_INFO lpSystemInfo);
