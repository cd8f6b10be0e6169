// Files and directories of the simulation (kernel32), on the host's file system through the Wine-style
// drive mapping of drive_mapping.h: "Z:\tmp\x" is /tmp/x, other drive letters name directories that tests
// map; a path that begins with one backslash lies on drive C:. Narrow names are UTF-8, the simulation's
// stand-in for the ANSI code page. Letter case of names counts, as on a Linux file system.
// Modelled: the creation dispositions, access (GENERIC_READ, GENERIC_WRITE, FILE_WRITE_DATA and
// append-only FILE_APPEND_DATA) and the errors Windows gives for a missing parent, an existing name and a
// denied access; the temporary directory, which tests may change or take away.
// Not modelled: sharing modes (recorded, never enforced), attributes other than the default, overlapped
// input and output, security attributes, long (\\?\) and UNC paths.
#pragma once

#include "winsim/kernel/types.h"

#define GENERIC_READ 0x80000000L
#define GENERIC_WRITE 0x40000000L
// Specific file rights. GENERIC_WRITE holds both; append access without write access makes every write
// land at the end of the file, whatever the file pointer says.
#define FILE_WRITE_DATA 0x0002
#define FILE_APPEND_DATA 0x0004

#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_ATTRIBUTE_NORMAL 0x00000080

#define ERROR_FILE_EXISTS 80L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_DIRECTORY 267L

typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;

// Creates the last level of the path only. FALSE with ERROR_PATH_NOT_FOUND when a parent is missing (or
// the path names no mapped drive), ERROR_ALREADY_EXISTS when the name exists (as a directory or a file),
// ERROR_ACCESS_DENIED when the parent cannot be written.
BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
// The temporary directory, ending in a backslash. Returns its length without the NUL when it fits in
// nBufferLength characters with the NUL, otherwise the length needed with the NUL (the buffer is left as
// it is); 0 when there is none (winsim::SetTempPath("")).
DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer);
// INVALID_HANDLE_VALUE and the last error on failure: ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
// ERROR_FILE_EXISTS (CREATE_NEW), ERROR_ACCESS_DENIED (also for a directory). CREATE_ALWAYS and
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
