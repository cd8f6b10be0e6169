// Files and directories of the simulation; see files.h for what is modelled. Everything here
// allocates from malloc only: the tracker writes its log files from inside the code under test's
// operator new and delete.
#include "winsim/control/kernel.h"
#include "winsim/core/entry.h"
#include "winsim/core/handle_table.h"
#include "winsim/core/malloc_containers.h"
#include "winsim/kernel/drive_mapping.h"
#include "winsim/kernel/files.h"
#include "winsim/kernel/last_error.h"
#include "winsim/kernel/security_store.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

using namespace winsim_detail;

namespace {

class FileObject : public KernelObject {
  public:
    FileObject(int descriptor, bool writable, DWORD access, const SimString& hostPath)
        : descriptor_(descriptor), writable_(writable), access_(access), hostPath_(hostPath) {}
    // A file marked for deletion loses the name it was opened by, unless that name holds another file by
    // now: only this handle's own file is ever deleted.
    ~FileObject() override {
        struct stat named;
        struct stat own;
        if (deleteOnClose_ && lstat(hostPath_.c_str(), &named) == 0 && fstat(descriptor_, &own) == 0 &&
            named.st_dev == own.st_dev && named.st_ino == own.st_ino) {
            unlink(hostPath_.c_str());
        }
        close(descriptor_);
    }

    int descriptor() const { return descriptor_; }
    bool writable() const { return writable_; }
    DWORD access() const { return access_; }
    void markForDeletion(bool marked) { deleteOnClose_ = marked; }

  private:
    int descriptor_;
    bool writable_;
    DWORD access_;
    SimString hostPath_;
    bool deleteOnClose_ = false;
};

// The start of every call on a file handle: the injected failure, then the open file that the handle names;
// null, with the last error set, when either stops the call.
FileObject* FileOfCall(const PlatformCall& call, HANDLE handle) {
    if (call.FailsWithLastError()) {
        return nullptr;
    }
    auto* file = dynamic_cast<FileObject*>(LookupHandle(handle));
    if (file == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return file;
}

// Host paths of the directories created with a security descriptor, and the descriptor's text.
SimMap<SimString, SimString>& DirectoryDescriptors() {
    static auto* descriptors =
        new (std::malloc(sizeof(SimMap<SimString, SimString>))) SimMap<SimString, SimString>();
    return *descriptors;
}

std::mutex tempPathLock;

// The host's TMPDIR (or /tmp) on drive Z:, ending in exactly one backslash as GetTempPathA's answer always
// does: callers append file names to it directly. Test fixtures restore this default when they end, so it
// is also what code that reports at process exit is given.
SimString DefaultTempPath() {
    const char* host = std::getenv("TMPDIR");
    SimString path = "Z:";
    for (const char* c = (host != nullptr && host[0] == '/') ? host : "/tmp"; *c != 0; ++c) {
        path.push_back(*c == '/' ? '\\' : *c);
    }
    while (path.back() == '\\') {
        path.pop_back();
    }
    path.push_back('\\');
    return path;
}

SimString& TempPath() {
    static SimString* path = new (std::malloc(sizeof(SimString))) SimString(DefaultTempPath());
    return *path;
}

// A path that begins with a single backslash lies on the current drive, which is C: here.
SimString HostPathOf(const char* windowsPath) {
    if (windowsPath != nullptr && windowsPath[0] == '\\' && windowsPath[1] != '\\') {
        SimString onDriveC = "C:";
        onDriveC.append(windowsPath);
        return ToHostPath(onDriveC.c_str());
    }
    return ToHostPath(windowsPath);
}

// The Win32 error for a failed open or mkdir of `hostPath`.
DWORD ErrorForErrno(int error, bool parentMissingIsPathError) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return parentMissingIsPathError ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

bool ParentExists(const SimString& hostPath) {
    SimString parent = hostPath;
    while (!parent.empty() && parent.back() == '/') {
        parent.pop_back();
    }
    size_t slash = parent.rfind('/');
    if (slash == SimString::npos) {
        return false;
    }
    parent.resize(slash == 0 ? 1 : slash);
    struct stat info;
    return stat(parent.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

namespace winsim {

void SetTempPath(const std::string& windowsPath) {
    std::lock_guard<std::mutex> guard(tempPathLock);
    TempPath().assign(windowsPath.c_str(), windowsPath.size());
    if (!TempPath().empty() && TempPath().back() != '\\') {
        TempPath().push_back('\\');
    }
}

std::string DirectorySecurity(const std::string& windowsPath) {
    ControlCall call;
    SimString hostPath = HostPathOf(windowsPath.c_str());
    while (hostPath.size() > 1 && hostPath.back() == '/') {
        hostPath.pop_back();
    }
    auto found = DirectoryDescriptors().find(hostPath);
    return found == DirectoryDescriptors().end() ? std::string() : std::string(found->second.c_str());
}

void ResetKernelServices() {
    SetDebuggerPresent(false);
    ClearDebugOutput();
    std::lock_guard<std::mutex> guard(tempPathLock);
    TempPath() = DefaultTempPath();
}

} // namespace winsim

BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
    PlatformCall call("CreateDirectoryA");
    if (call.FailsWithLastError()) {
        return FALSE;
    }
    SimString descriptor;
    if (lpSecurityAttributes != nullptr && lpSecurityAttributes->lpSecurityDescriptor != nullptr &&
        !DescriptorText(lpSecurityAttributes->lpSecurityDescriptor, &descriptor)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (lpPathName != nullptr && std::strlen(lpPathName) >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    SimString hostPath = HostPathOf(lpPathName);
    if (hostPath.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (mkdir(hostPath.c_str(), 0777) != 0) {
        SetLastError(ErrorForErrno(errno, true));
        return FALSE;
    }
    while (hostPath.size() > 1 && hostPath.back() == '/') {
        hostPath.pop_back();
    }
    if (descriptor.empty()) {
        DirectoryDescriptors().erase(hostPath);
    } else {
        DirectoryDescriptors()[hostPath] = descriptor;
    }
    return TRUE;
}

DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
    PlatformCall call("GetTempPathA");
    if (call.FailsWithLastError()) {
        return 0;
    }
    std::lock_guard<std::mutex> guard(tempPathLock);
    const SimString& path = TempPath();
    if (path.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    DWORD length = static_cast<DWORD>(path.size());
    if (lpBuffer == nullptr || nBufferLength <= length) {
        return length + 1;
    }
    std::memcpy(lpBuffer, path.c_str(), length + 1);
    return length;
}

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                          DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
    PlatformCall call("CreateFileA");
    if (call.FailsWithLastError()) {
        return INVALID_HANDLE_VALUE;
    }
    bool reads = (dwDesiredAccess & GENERIC_READ) != 0;
    bool overwrites = (dwDesiredAccess & (GENERIC_WRITE | FILE_WRITE_DATA)) != 0;
    bool appendsOnly = !overwrites && (dwDesiredAccess & FILE_APPEND_DATA) != 0;
    bool writes = overwrites || appendsOnly;
    int access = reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
    int flags = O_CLOEXEC | access | (appendsOnly ? O_APPEND : 0);
    switch (dwCreationDisposition) {
    case CREATE_NEW:
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        break;
    case OPEN_EXISTING:
        break;
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        flags |= O_TRUNC;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (lpFileName != nullptr && std::strlen(lpFileName) >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return INVALID_HANDLE_VALUE;
    }
    SimString hostPath = HostPathOf(lpFileName);
    if (hostPath.empty() || hostPath.back() == '/') {
        SetLastError(hostPath.empty() ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // A name counts as taken whatever it holds, a symbolic link included, whether it leads anywhere or not.
    struct stat before;
    bool existed = lstat(hostPath.c_str(), &before) == 0;
    bool isLink = existed && S_ISLNK(before.st_mode);
    bool linkItself = isLink && (dwFlagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
    if (isLink && !linkItself) {
        existed = stat(hostPath.c_str(), &before) == 0;
    }
    if (existed && S_ISDIR(before.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if ((existed || isLink) && dwCreationDisposition == CREATE_NEW) {
        SetLastError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
    }
    // The link itself is opened as an object that can be asked about, not written.
    int descriptor = linkItself ? open(hostPath.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC)
                                : open(hostPath.c_str(), flags, 0666);
    if (descriptor < 0) {
        int error = errno;
        SetLastError(error == ENOENT && !ParentExists(hostPath)               ? ERROR_PATH_NOT_FOUND
                     : error == EEXIST && dwCreationDisposition == CREATE_NEW ? ERROR_FILE_EXISTS
                                                                              : ErrorForErrno(error, false));
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = NewHandle(new FileObject(descriptor, writes && !linkItself, dwDesiredAccess, hostPath));
    bool reportsExisting =
        existed && (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS);
    SetLastError(reportsExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    PlatformCall call("WriteFile");
    if (lpNumberOfBytesWritten != nullptr) {
        *lpNumberOfBytesWritten = 0;
    }
    FileObject* file = FileOfCall(call, hFile);
    if (file == nullptr) {
        return FALSE;
    }
    if (lpOverlapped != nullptr || (lpBuffer == nullptr && nNumberOfBytesToWrite != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!file->writable()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const char* next = static_cast<const char*>(lpBuffer);
    DWORD left = nNumberOfBytesToWrite;
    while (left > 0) {
        ssize_t written = write(file->descriptor(), next, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            SetLastError(errno == ENOSPC ? 112L /* ERROR_DISK_FULL */ : ERROR_ACCESS_DENIED);
            return FALSE;
        }
        next += written;
        left -= static_cast<DWORD>(written);
    }
    if (lpNumberOfBytesWritten != nullptr) {
        *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
    }
    return TRUE;
}

BOOL WINAPI GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
    PlatformCall call("GetFileInformationByHandle");
    FileObject* file = FileOfCall(call, hFile);
    if (file == nullptr) {
        return FALSE;
    }
    struct stat information;
    if (lpFileInformation == nullptr || fstat(file->descriptor(), &information) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::memset(lpFileInformation, 0, sizeof(*lpFileInformation));
    lpFileInformation->dwFileAttributes = S_ISLNK(information.st_mode)   ? FILE_ATTRIBUTE_REPARSE_POINT
                                          : S_ISDIR(information.st_mode) ? FILE_ATTRIBUTE_DIRECTORY
                                                                         : FILE_ATTRIBUTE_ARCHIVE;
    // The host's device number stands in for the volume serial number, its inode number for the index.
    lpFileInformation->dwVolumeSerialNumber = static_cast<DWORD>(information.st_dev);
    lpFileInformation->nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(information.st_size) >> 32);
    lpFileInformation->nFileSizeLow = static_cast<DWORD>(information.st_size);
    lpFileInformation->nNumberOfLinks = static_cast<DWORD>(information.st_nlink);
    lpFileInformation->nFileIndexHigh = static_cast<DWORD>(static_cast<uint64_t>(information.st_ino) >> 32);
    lpFileInformation->nFileIndexLow = static_cast<DWORD>(information.st_ino);
    return TRUE;
}

BOOL WINAPI SetFileInformationByHandle(HANDLE hFile, FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                       LPVOID lpFileInformation, DWORD dwBufferSize) {
    PlatformCall call("SetFileInformationByHandle");
    FileObject* file = FileOfCall(call, hFile);
    if (file == nullptr) {
        return FALSE;
    }
    if (FileInformationClass != FileDispositionInfo || lpFileInformation == nullptr ||
        dwBufferSize < sizeof(FILE_DISPOSITION_INFO)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if ((file->access() & DELETE) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    file->markForDeletion(static_cast<const FILE_DISPOSITION_INFO*>(lpFileInformation)->DeleteFile != 0);
    return TRUE;
}
