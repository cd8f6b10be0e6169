// Files and directories of the simulation (kernel32), on the host's file system through the Wine-style
// drive mapping of drive_mapping.h: "Z:\tmp\x" is /tmp/x, other drive letters name directories that tests
// map; a path that begins with one backslash lies on drive C:. Narrow names are UTF-8, the simulation's
// stand-in for the ANSI code page. Letter case of names counts, as on a Linux file system.
// Modelled: the creation dispositions, access (GENERIC_READ, GENERIC_WRITE, FILE_WRITE_DATA and
// append-only FILE_APPEND_DATA) and the errors Windows gives for a missing parent, an existing name and a
// denied access; a name that is a symbolic link counts as existing, and FILE_FLAG_OPEN_REPARSE_POINT opens
// the link itself instead of its target; a file's identity and its number of names
// (GetFileInformationByHandle); deletion through a handle opened with DELETE access; the security
// descriptor a directory is created with, kept for tests to read back (winsim::DirectorySecurity); the
// temporary directory, which tests may change or take away.
// Not modelled: sharing modes (recorded, never enforced), attributes other than the default, overlapped
// input and output, access checks against security descriptors, long (\\?\) and UNC paths.
#pragma once

#include "winsim/kernel/types.h"

#define GENERIC_READ 0x80000000L
#define GENERIC_WRITE 0x40000000L
// Specific file rights. GENERIC_WRITE holds both; append access without write access makes every write
// land at the end of the file, whatever the file pointer says.
#define FILE_WRITE_DATA 0x0002
#define FILE_APPEND_DATA 0x0004
#define FILE_READ_ATTRIBUTES 0x0080

#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400
// Opens a symbolic link at the name itself rather than the file it leads to.
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000

#define ERROR_FILE_EXISTS 80L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_DIRECTORY 267L

typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

// A file's identity is its volume serial number and its index on the volume.
struct BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
};
typedef BY_HANDLE_FILE_INFORMATION* LPBY_HANDLE_FILE_INFORMATION;

enum FILE_INFO_BY_HANDLE_CLASS {
    FileBasicInfo = 0,
    FileStandardInfo = 1,
    FileNameInfo = 2,
    FileRenameInfo = 3,
    FileDispositionInfo = 4,
};

struct FILE_DISPOSITION_INFO {
    BOOLEAN DeleteFile;
};

// Creates the last level of the path only. FALSE with ERROR_PATH_NOT_FOUND when a parent is missing (or
// the path names no mapped drive), ERROR_ALREADY_EXISTS when the name exists (as a directory or a file),
// ERROR_ACCESS_DENIED when the parent cannot be written. A security descriptor from
// ConvertStringSecurityDescriptorToSecurityDescriptorW is kept with the new directory; any other is
// ERROR_INVALID_PARAMETER.
BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
// The temporary directory, ending in a backslash. Returns its length without the NUL when it fits in
// nBufferLength characters with the NUL, otherwise the length needed with the NUL (the buffer is left as
// it is); 0 when there is none (winsim::SetTempPath("")).
DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer);
// INVALID_HANDLE_VALUE and the last error on failure: ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
// ERROR_FILE_EXISTS (CREATE_NEW, also over a symbolic link, whatever it leads to), ERROR_ACCESS_DENIED
// (also for a directory). A symbolic link opened with FILE_FLAG_OPEN_REPARSE_POINT is the link itself,
// which cannot be written. CREATE_ALWAYS and
// OPEN_ALWAYS that find the file succeed with the last error ERROR_ALREADY_EXISTS, otherwise 0. The file
// pointer starts at 0 (OPEN_ALWAYS keeps the contents, so writes overwrite them) unless the access is
// FILE_APPEND_DATA without FILE_WRITE_DATA, which appends.
HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
// Synchronous only: lpOverlapped must be null. ERROR_INVALID_HANDLE for a handle that is not an open file,
// ERROR_ACCESS_DENIED for one opened without write or append access.
BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
// The file's attributes, size, identity and number of names (hard links), as the handle's file has them
// now. FALSE with ERROR_INVALID_HANDLE for a handle that is not an open file.
BOOL WINAPI GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation);
// FileDispositionInfo only (anything else: ERROR_INVALID_PARAMETER): with DeleteFile set, the file is
// deleted when its handle is closed, the name it was opened by only, and only while that name still holds
// this file; the handle needs DELETE access (ERROR_ACCESS_DENIED otherwise).
BOOL WINAPI SetFileInformationByHandle(HANDLE hFile, FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                       LPVOID lpFileInformation, DWORD dwBufferSize);
