// Kernel behaviour that keeps the tracker's files and the module's libraries its own: a file created new
// refuses a name that exists and tells its identity and its number of names; a file goes when a handle
// opened for deletion marks it and closes; security descriptors come from their SDDL text and go back with
// LocalFree; libraries of the system directory are loaded from there by name and hand out their functions
// by name; a stack back trace begins in the function that asks for it.
#include "conformance.h"

#include <cctype>
#include <string>

namespace {

// A name of this check's own in the temporary directory.
std::string TemporaryName(const char* name) {
    char directory[MAX_PATH] = {};
    const DWORD length = GetTempPathA(MAX_PATH, directory);
    return std::string(directory, length < MAX_PATH ? length : 0) + "vracoins_conformance_" +
           std::to_string(GetCurrentProcessId()) + "_" + name;
}

// A name is opened as itself, never followed, as the tracker opens its files.
HANDLE Open(const std::string& path, DWORD access, DWORD disposition) {
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Deletes the file of that name, if there is one, through a handle opened for deletion.
void Remove(const std::string& path) {
    HANDLE file = Open(path, DELETE | FILE_READ_ATTRIBUTES, OPEN_EXISTING);
    if (file != INVALID_HANDLE_VALUE) {
        FILE_DISPOSITION_INFO disposition = {TRUE};
        SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
        CloseHandle(file);
    }
}

struct Identity {
    bool known = false;
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    DWORD names = 0;
};

Identity IdentityOf(HANDLE file) {
    Identity identity;
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileInformationByHandle(file, &information)) {
        identity = Identity{true, information.dwVolumeSerialNumber, information.nFileIndexHigh,
                            information.nFileIndexLow, information.nNumberOfLinks};
    }
    return identity;
}

bool SameFile(const Identity& left, const Identity& right) {
    return left.known && right.known && left.volume == right.volume && left.indexHigh == right.indexHigh &&
           left.indexLow == right.indexLow;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string FileNameOf(HMODULE module) {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    return std::string(path, length < MAX_PATH ? length : 0);
}

} // namespace

TEST_F(ConformanceCheck, ANewFileRefusesATakenNameAndTellsItsIdentityAndItsNames) {
    world.Clear();
    const std::string path = TemporaryName("identity.log");
    const std::string link = TemporaryName("identity_link.log");
    Remove(path);
    Remove(link);

    HANDLE created = Open(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, CREATE_NEW);
    ASSERT_TRUE(created != INVALID_HANDLE_VALUE)
        << Formatted("creating %s: error %lu", path.c_str(), static_cast<unsigned long>(GetLastError()));
    const Identity first = IdentityOf(created);
    EXPECT_TRUE(first.known && first.names == 1)
        << Formatted("a new file: known %d, %lu names", first.known, static_cast<unsigned long>(first.names));
    CloseHandle(created);

    HANDLE again = Open(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, CREATE_NEW);
    EXPECT_TRUE(again == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) << Formatted(
        "CREATE_NEW over an existing name: error %lu", static_cast<unsigned long>(GetLastError()));
    if (again != INVALID_HANDLE_VALUE) {
        CloseHandle(again);
    }

    HANDLE reopened = Open(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, OPEN_EXISTING);
    ASSERT_TRUE(reopened != INVALID_HANDLE_VALUE)
        << Formatted("reopening: error %lu", static_cast<unsigned long>(GetLastError()));
    EXPECT_TRUE(SameFile(first, IdentityOf(reopened))) << "the reopened file is not the one created";
    SKIP_UNLESS_PREPARED(world.AddHardLink(link, path));
    const Identity linked = IdentityOf(reopened);
    EXPECT_TRUE(SameFile(first, linked) && linked.names == 2)
        << Formatted("after a hard link: same file %d, %lu names", SameFile(first, linked),
                     static_cast<unsigned long>(linked.names));
    CloseHandle(reopened);
    HANDLE overLink = Open(link, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, CREATE_NEW);
    EXPECT_TRUE(overLink == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS)
        << Formatted("CREATE_NEW over a hard link: error %lu", static_cast<unsigned long>(GetLastError()));
    Remove(link);
    Remove(path);
}

TEST_F(ConformanceCheck, AFileMarkedForDeletionGoesWhenItsHandleCloses) {
    world.Clear();
    const std::string path = TemporaryName("deleted.log");
    Remove(path);
    HANDLE created = Open(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, CREATE_NEW);
    ASSERT_TRUE(created != INVALID_HANDLE_VALUE)
        << Formatted("creating %s: error %lu", path.c_str(), static_cast<unsigned long>(GetLastError()));
    FILE_DISPOSITION_INFO disposition = {TRUE};
    BOOL marked = SetFileInformationByHandle(created, FileDispositionInfo, &disposition, sizeof disposition);
    EXPECT_TRUE(!marked && GetLastError() == ERROR_ACCESS_DENIED)
        << Formatted("marking through a handle without DELETE access: result %d, error %lu", marked,
                     static_cast<unsigned long>(GetLastError()));
    CloseHandle(created);

    HANDLE deletion = Open(path, DELETE | FILE_READ_ATTRIBUTES, OPEN_EXISTING);
    ASSERT_TRUE(deletion != INVALID_HANDLE_VALUE)
        << Formatted("opening for deletion: error %lu", static_cast<unsigned long>(GetLastError()));
    marked = SetFileInformationByHandle(deletion, FileDispositionInfo, &disposition, sizeof disposition);
    EXPECT_TRUE(marked) << Formatted("marking: error %lu", static_cast<unsigned long>(GetLastError()));
    CloseHandle(deletion);
    HANDLE gone = Open(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING);
    EXPECT_TRUE(gone == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND)
        << Formatted("after the close: error %lu", static_cast<unsigned long>(GetLastError()));
    if (gone != INVALID_HANDLE_VALUE) {
        CloseHandle(gone);
    }
}

TEST_F(ConformanceCheck, SecurityDescriptorsComeFromTheirTextAndGoBackWithLocalFree) {
    world.Clear();
    for (const WCHAR* text : {W("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"), W("O:BAD:(A;;GA;;;WD)"), W("")}) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        SetLastError(0);
        const BOOL converted =
            ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &descriptor, nullptr);
        EXPECT_TRUE(converted && descriptor != nullptr) << Formatted(
            "\"%s\": error %lu", Narrow(text).c_str(), static_cast<unsigned long>(GetLastError()));
        EXPECT_TRUE(LocalFree(descriptor) == nullptr) << Formatted("\"%s\": LocalFree", Narrow(text).c_str());
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const BOOL converted = ConvertStringSecurityDescriptorToSecurityDescriptorW(W("D:P(A;OICI;FA;;;SY)"), 2,
                                                                                &descriptor, nullptr);
    EXPECT_TRUE(!converted && GetLastError() == ERROR_UNKNOWN_REVISION) << Formatted(
        "revision 2: result %d, error %lu", converted, static_cast<unsigned long>(GetLastError()));
}

TEST_F(ConformanceCheck, SystemLibrariesComeFromTheSystemDirectoryWithTheirFunctions) {
    world.Clear();
    const struct {
        const WCHAR* name;
        const char* fileName;
        const char* function;
    } rows[] = {{W("dbghelp.dll"), "dbghelp.dll", "SymInitialize"},
                {W("DBGHELP"), "dbghelp.dll", "SymGetLineFromAddr64"},
                {W("winspool.drv"), "winspool.drv", "OpenPrinterW"}};
    for (const auto& row : rows) {
        const bool loadedBefore = GetModuleHandleW(row.name) != nullptr;
        HMODULE library = LoadLibraryExW(row.name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        EXPECT_TRUE(library != nullptr)
            << Formatted("loading %s from the system directory: error %lu", Narrow(row.name).c_str(),
                         static_cast<unsigned long>(GetLastError()));
        if (library == nullptr) {
            continue;
        }
        const std::string path = Lower(FileNameOf(library));
        const std::string expected = std::string("\\system32\\") + row.fileName;
        EXPECT_TRUE(path.size() > expected.size() &&
                    path.compare(path.size() - expected.size(), expected.size(), expected) == 0)
            << Formatted("%s: loaded from \"%s\"", Narrow(row.name).c_str(), path.c_str());
        EXPECT_TRUE(GetProcAddress(library, row.function) != nullptr)
            << Formatted("%s: no %s, error %lu", Narrow(row.name).c_str(), row.function,
                         static_cast<unsigned long>(GetLastError()));
        SetLastError(0);
        EXPECT_TRUE(GetProcAddress(library, "VracoinsNoSuchExport") == nullptr &&
                    GetLastError() == ERROR_PROC_NOT_FOUND)
            << Formatted("%s: a missing export, error %lu", Narrow(row.name).c_str(),
                         static_cast<unsigned long>(GetLastError()));
        EXPECT_TRUE(FreeLibrary(library)) << Formatted("freeing %s", Narrow(row.name).c_str());
        EXPECT_TRUE(loadedBefore || GetModuleHandleW(row.name) == nullptr)
            << Formatted("%s is still loaded after its one load was freed", Narrow(row.name).c_str());
    }
    SetLastError(0);
    EXPECT_TRUE(LoadLibraryExW(W("vracoins_no_such_library.dll"), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32) ==
                    nullptr &&
                GetLastError() == ERROR_MOD_NOT_FOUND)
        << Formatted("an unknown library: error %lu", static_cast<unsigned long>(GetLastError()));
}

namespace {

struct Trace {
    void* frames[8];
    WORD count;
};

// Captures the stack from here, skipping `skip` frames; `returnAddress` receives this function's own.
__attribute__((noinline)) Trace CaptureHere(DWORD skip, void** returnAddress) {
    *returnAddress = __builtin_return_address(0);
    Trace trace = {};
    trace.count = RtlCaptureStackBackTrace(skip, 8, trace.frames, nullptr);
    return trace;
}

} // namespace

// A back trace begins with the return address into the function that asked for it, then the one into its
// caller; a skip leaves out the innermost frames.
TEST_F(ConformanceCheck, AStackBackTraceBeginsInTheFunctionThatAsksForIt) {
    for (DWORD skip : {0u, 1u}) {
        void* returnAddress = nullptr;
        const Trace trace = CaptureHere(skip, &returnAddress);
        const auto start = reinterpret_cast<uintptr_t>(&CaptureHere);
        const auto first = reinterpret_cast<uintptr_t>(trace.frames[0]);
        EXPECT_TRUE(trace.count >= 2 && trace.count <= 8)
            << Formatted("skip %lu: %u frames", static_cast<unsigned long>(skip), trace.count);
        if (skip == 0) {
            EXPECT_TRUE(first > start && first - start < 512 && trace.frames[1] == returnAddress)
                << Formatted("expected a frame in the capturing function at %p, then %p; got %p, %p",
                             reinterpret_cast<void*>(start), returnAddress, trace.frames[0], trace.frames[1]);
        } else {
            EXPECT_TRUE(trace.frames[0] == returnAddress)
                << Formatted("skipping one: expected %p first, got %p", returnAddress, trace.frames[0]);
        }
    }
}
