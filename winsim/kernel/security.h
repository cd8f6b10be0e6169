// Security descriptors of the simulation: advapi32's conversion from the security descriptor definition
// language (SDDL) and kernel32's LocalFree, which gives the converted descriptor back.
// Modelled: the text kept as it was given, in an opaque descriptor that CreateDirectoryA keeps with the
// directory; the count of descriptors not yet given back (winsim::SecurityDescriptorCount). Not modelled:
// the text's grammar (any text converts: the module passes one constant, whose exact text the checks of
// the log directory compare), the binary layout of a descriptor, access checks, LocalAlloc and every other
// Local* function (LocalFree frees descriptors only).
#pragma once

#include "winsim/kernel/types.h"

typedef PVOID PSECURITY_DESCRIPTOR;
typedef HANDLE HLOCAL;

#define SDDL_REVISION_1 1
#define ERROR_UNKNOWN_REVISION 1305L

// FALSE with ERROR_INVALID_PARAMETER for a missing text or output, and ERROR_UNKNOWN_REVISION for a revision
// other than SDDL_REVISION_1. The descriptor is freed with LocalFree; SecurityDescriptorSize (may be null)
// receives its size.
BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR StringSecurityDescriptor,
                                                                 DWORD StringSDRevision,
                                                                 PSECURITY_DESCRIPTOR* SecurityDescriptor,
                                                                 PULONG SecurityDescriptorSize);
// Null on success (also for null); the block itself, with ERROR_INVALID_HANDLE, for one that is not a
// descriptor still held.
HLOCAL WINAPI LocalFree(HLOCAL hMem);
