// Test-facing control of the simulated kernel services: the debugger, the temporary directory and the
// drives of the file functions, the security descriptors of directories, and the accounting of heap
// blocks, virtual-memory regions, global blocks, security descriptors, critical sections and kernel
// handles. Failures of HeapAlloc, HeapFree, VirtualAlloc, VirtualProtect, VirtualFree, CreateDirectoryA,
// GetTempPathA, CreateFileA, WriteFile, GetFileInformationByHandle, SetFileInformationByHandle,
// ConvertStringSecurityDescriptorToSecurityDescriptorW, LocalFree and WideCharToMultiByte are armed
// with winsim::FailCall, and their calls (and those of DebugBreak and IsDebuggerPresent) counted by
// winsim::CallCount, like any other. winsim::Reset leaves the debugger and
// the temporary directory as they are; ResetKernelServices restores them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace winsim {

// Detaches the debugger, forgets the debugger output and restores the default temporary directory.
void ResetKernelServices();

// --- Debugger ----------------------------------------------------------------------------------------
// What IsDebuggerPresent answers from now on (false at start). DebugBreak with no debugger present ends
// the process.
void SetDebuggerPresent(bool present);
// Everything sent with OutputDebugStringA since the start or the last ClearDebugOutput, concatenated.
std::string DebugOutput();
// The number of OutputDebugStringA calls, and their texts, one piece per call.
size_t DebugOutputCallCount();
std::vector<std::string> DebugOutputPieces();
// Breakpoint traps that the attached debugger stopped at.
size_t BreakpointTrapCount();
// Forgets the output and the count of traps.
void ClearDebugOutput();

// --- Temporary directory -----------------------------------------------------------------------------
// The Windows path GetTempPathA reports (a backslash is added when missing); "" makes it fail. The
// default is the host's TMPDIR (or /tmp) on drive Z:.
void SetTempPath(const std::string& windowsPath);

// --- Directories -------------------------------------------------------------------------------------
// The SDDL text of the security descriptor the directory (a Windows path) was created with by
// CreateDirectoryA; empty for one created without a descriptor, or not through the simulation.
std::string DirectorySecurity(const std::string& windowsPath);

// --- Drives ------------------------------------------------------------------------------------------
// Maps drive `letter` to a host directory (Z: is the host's root from the start). Neither reset forgets
// a mapping.
void MapDrive(char letter, const std::string& hostDirectory);

// --- Memory ------------------------------------------------------------------------------------------
// Blocks of the process heap that are allocated and not yet freed.
size_t HeapBlockCount();
// Regions from VirtualAlloc that are not yet released.
size_t VirtualRegionCount();
// Blocks from GlobalAlloc that are not yet freed, of those allocated since the last winsim::Reset.
size_t GlobalBlockCount();
// Security descriptors from ConvertStringSecurityDescriptorToSecurityDescriptorW not yet given back
// with LocalFree.
size_t SecurityDescriptorCount();

// --- Critical sections -------------------------------------------------------------------------------
// Critical sections initialised and not yet deleted, in the whole process.
size_t InitialisedCriticalSectionCount();

// --- Kernel handles ----------------------------------------------------------------------------------
// Handles of files and processes that are open, in the whole process.
size_t OpenKernelHandleCount();

} // namespace winsim
