// Directories, files and the temporary directory of the simulation, on the host's file system through
// the drive mapping.
#include "simulated_world.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

class KernelFilesTest : public SimulatedWorld {
  protected:
    void SetUp() override {
        SimulatedWorld::SetUp();
        winsim::ResetKernelServices();
        char pattern[] = "/tmp/winsim-files-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        root = pattern;
        winsim::MapDrive('C', root);
    }
    void TearDown() override {
        std::filesystem::remove_all(root);
        winsim::ResetKernelServices();
        SimulatedWorld::TearDown();
    }
    std::string Contents(const std::string& relative) {
        std::ifstream in(root + "/" + relative, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string root;
};

TEST_F(KernelFilesTest, DirectoryCreationMakesTheLastLevelOnly) {
    EXPECT_TRUE(CreateDirectoryA("C:\\Logs", nullptr));
    EXPECT_TRUE(std::filesystem::is_directory(root + "/Logs"));
    EXPECT_FALSE(CreateDirectoryA("C:\\Logs\\", nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    EXPECT_FALSE(CreateDirectoryA("C:\\No\\Such\\Logs", nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
    EXPECT_FALSE(CreateDirectoryA("Q:\\Unmapped", nullptr)) << "a drive that names no directory";
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
    EXPECT_TRUE(CreateDirectoryA("\\OnDriveC", nullptr)) << "a rooted path lies on the current drive, C:";
    EXPECT_TRUE(std::filesystem::is_directory(root + "/OnDriveC"));
}

TEST_F(KernelFilesTest, DirectoryOverAFileAlreadyExists) {
    std::ofstream(root + "/plain.txt") << "x";
    EXPECT_FALSE(CreateDirectoryA("C:\\plain.txt\\", nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
}

TEST_F(KernelFilesTest, TemporaryPathFitsOrTellsTheSizeNeeded) {
    winsim::SetTempPath("C:\\Temp");
    char buffer[MAX_PATH] = {};
    EXPECT_EQ(8u, GetTempPathA(MAX_PATH, buffer));
    EXPECT_STREQ("C:\\Temp\\", buffer) << "the temporary path ends in a backslash";
    char small[8] = "keep";
    EXPECT_EQ(9u, GetTempPathA(sizeof small, small)) << "the size needed with the terminator";
    EXPECT_STREQ("keep", small) << "a buffer that is too small is left alone";
    winsim::SetTempPath("");
    EXPECT_EQ(0u, GetTempPathA(MAX_PATH, buffer));
    winsim::ResetKernelServices();
    EXPECT_GT(GetTempPathA(MAX_PATH, buffer), 3u);
    EXPECT_EQ('Z', buffer[0]) << "the default lies on the host's root drive";
}

// The default temporary directory is the host's TMPDIR (or /tmp) on drive Z:, in the form Windows gives
// it: a caller appends a file name to it directly.
class DefaultTemporaryPath : public KernelFilesTest {
  protected:
    void SetUp() override {
        KernelFilesTest::SetUp();
        const char* host = std::getenv("TMPDIR");
        hadTmpdir = host != nullptr;
        savedTmpdir = hadTmpdir ? host : "";
    }
    void TearDown() override {
        if (hadTmpdir) {
            setenv("TMPDIR", savedTmpdir.c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
        KernelFilesTest::TearDown();
    }
    // GetTempPathA's answer after ResetKernelServices with TMPDIR set to `host` (unset when null).
    static std::string DefaultFor(const char* host) {
        if (host != nullptr) {
            setenv("TMPDIR", host, 1);
        } else {
            unsetenv("TMPDIR");
        }
        winsim::ResetKernelServices();
        char buffer[MAX_PATH] = {};
        DWORD length = GetTempPathA(MAX_PATH, buffer);
        return std::string(buffer, length < MAX_PATH ? length : 0);
    }

    bool hadTmpdir = false;
    std::string savedTmpdir;
};

TEST_F(DefaultTemporaryPath, EndsInOneBackslash) {
    EXPECT_EQ("Z:\\tmp\\", DefaultFor(nullptr)) << "without TMPDIR";
    EXPECT_EQ("Z:\\var\\tmp\\", DefaultFor("/var/tmp"));
    EXPECT_EQ("Z:\\var\\tmp\\", DefaultFor("/var/tmp/")) << "a trailing slash gives no second backslash";
    EXPECT_EQ("Z:\\", DefaultFor("/")) << "the host's root";
    EXPECT_EQ("Z:\\tmp\\", DefaultFor("relative/tmp")) << "a relative TMPDIR is not used";
}

// Code that reports at process exit (the tracker's final report runs from the module's exit list) asks
// for the temporary directory after the test fixtures have restored the default.
TEST_F(DefaultTemporaryPath, IsWholeDuringProcessExit) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            winsim::ResetKernelServices();
            std::atexit([] {
                char buffer[MAX_PATH] = {};
                DWORD length = GetTempPathA(MAX_PATH, buffer);
                bool whole = length > 3 && length < MAX_PATH && buffer[length - 1] == '\\';
                std::fprintf(stderr, "temporary path at exit: %s\n", buffer);
                std::_Exit(whole ? 0 : 1);
            });
            std::exit(2);
        },
        ::testing::ExitedWithCode(0), "temporary path at exit: Z:.*\\\\\n");
}

TEST_F(KernelFilesTest, FilesAreCreatedReplacedAndWritten) {
    HANDLE file = CreateFileA("C:\\out.log", GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "first", 5, &written, nullptr));
    EXPECT_EQ(5u, written);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ("first", Contents("out.log"));

    file =
        CreateFileA("C:\\out.log", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError()) << "a replaced file is reported";
    EXPECT_TRUE(WriteFile(file, "2nd", 3, &written, nullptr));
    CloseHandle(file);
    EXPECT_EQ("2nd", Contents("out.log")) << "CREATE_ALWAYS must truncate";
}

TEST_F(KernelFilesTest, OpenAlwaysKeepsAnExistingFileAndAppendAccessWritesAtItsEnd) {
    HANDLE file = CreateFileA("C:\\out.log", FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError()) << "a new file is not reported as existing";
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "first", 5, &written, nullptr)) << "append access may write";
    EXPECT_EQ(5u, written);
    CloseHandle(file);

    file = CreateFileA("C:\\out.log", FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError()) << "an opened file is reported";
    EXPECT_TRUE(WriteFile(file, "2nd", 3, &written, nullptr));
    CloseHandle(file);
    EXPECT_EQ("first2nd", Contents("out.log")) << "append access must not overwrite what is there";

    // Write access without append-only starts at the beginning and overwrites.
    file = CreateFileA("C:\\out.log", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    EXPECT_TRUE(WriteFile(file, "ONE", 3, &written, nullptr));
    CloseHandle(file);
    EXPECT_EQ("ONEst2nd", Contents("out.log")) << "OPEN_ALWAYS must neither truncate nor seek to the end";
}

TEST_F(KernelFilesTest, FileCreationFailuresCarryWindowsErrors) {
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileA("C:\\missing\\x.log", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileA("C:\\absent.log", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    std::filesystem::create_directory(root + "/dir");
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileA("C:\\dir", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    std::ofstream(root + "/there.log") << "x";
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileA("C:\\there.log", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), GetLastError());
}

TEST_F(KernelFilesTest, WritesNeedAnOpenWritableFile) {
    DWORD written = 7;
    EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, "x", 1, &written, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_EQ(0u, written);
    std::ofstream(root + "/read.log") << "x";
    HANDLE file = CreateFileA("C:\\read.log", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_FALSE(WriteFile(file, "y", 1, &written, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    CloseHandle(file);
    EXPECT_FALSE(WriteFile(file, "y", 1, &written, nullptr)) << "a closed handle";
}

// What Wine cannot show: a symbolic link at a name. It takes the name, whether it leads anywhere or not; with
// FILE_FLAG_OPEN_REPARSE_POINT it is opened as itself (its own identity, not to be written), without it
// followed to its target.
TEST_F(KernelFilesTest, ASymbolicLinkTakesItsNameAndIsOpenedAsItselfWhenAsked) {
    std::ofstream(root + "/target.log") << "target";
    std::filesystem::create_symlink(root + "/target.log", root + "/link.log");
    std::filesystem::create_symlink(root + "/nowhere.log", root + "/dangling.log");
    const DWORD append = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES;
    for (const char* name : {"C:\\link.log", "C:\\dangling.log"}) {
        for (DWORD flags : {DWORD{0}, DWORD{FILE_FLAG_OPEN_REPARSE_POINT}}) {
            EXPECT_EQ(INVALID_HANDLE_VALUE,
                      CreateFileA(name, append, 0, nullptr, CREATE_NEW, flags, nullptr));
            EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), GetLastError())
                << name << " with flags " << flags;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(root + "/nowhere.log")) << "CREATE_NEW followed a dangling link";

    HANDLE itself =
        CreateFileA("C:\\link.log", append, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, itself);
    HANDLE followed = CreateFileA("C:\\link.log", append, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, followed);
    BY_HANDLE_FILE_INFORMATION link = {};
    BY_HANDLE_FILE_INFORMATION target = {};
    EXPECT_TRUE(GetFileInformationByHandle(itself, &link));
    EXPECT_TRUE(GetFileInformationByHandle(followed, &target));
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT), link.dwFileAttributes);
    EXPECT_NE(link.nFileIndexLow, target.nFileIndexLow) << "the link and its target are different files";
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(itself, "x", 1, &written, nullptr)) << "the link itself is written to";
    EXPECT_TRUE(WriteFile(followed, "!", 1, &written, nullptr));
    CloseHandle(itself);
    CloseHandle(followed);
    EXPECT_EQ("target!", Contents("target.log"));
}

// What Wine cannot show: a name that holds another file by the time the marked file's handle closes keeps
// it (the conformance check AFileMarkedForDeletionGoesWhenItsHandleCloses shows the marked file go).
TEST_F(KernelFilesTest, DeletionThroughAHandleTakesOnlyItsOwnFile) {
    std::ofstream(root + "/marked.log") << "mine";
    HANDLE file = CreateFileA("C:\\marked.log", DELETE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    FILE_DISPOSITION_INFO disposition = {TRUE};
    EXPECT_TRUE(SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition));
    std::ofstream(root + "/other.log") << "theirs";
    std::filesystem::rename(root + "/other.log", root + "/marked.log");
    CloseHandle(file);
    EXPECT_EQ("theirs", Contents("marked.log")) << "the file put in its place went with the marked one";
}

// What Wine cannot read back: the descriptor a directory was created with, as its SDDL text.
TEST_F(KernelFilesTest, ADirectoryKeepsTheSecurityDescriptorItWasCreatedWith) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(u"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
                                                                     SDDL_REVISION_1, &descriptor, nullptr));
    EXPECT_EQ(1u, winsim::SecurityDescriptorCount());
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    EXPECT_TRUE(CreateDirectoryA("C:\\Restricted", &attributes));
    EXPECT_TRUE(CreateDirectoryA("C:\\Plain", nullptr));
    EXPECT_EQ(nullptr, LocalFree(descriptor));
    EXPECT_EQ(0u, winsim::SecurityDescriptorCount());
    EXPECT_EQ("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", winsim::DirectorySecurity("C:\\Restricted\\"));
    EXPECT_EQ("", winsim::DirectorySecurity("C:\\Plain"));
    EXPECT_EQ(descriptor, LocalFree(descriptor)) << "a descriptor given back twice";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_FALSE(CreateDirectoryA("C:\\Other", &attributes)) << "a descriptor given back is no descriptor";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST_F(KernelFilesTest, FailuresCanBeArmed) {
    winsim::FailCall("CreateDirectoryA", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(CreateDirectoryA("C:\\Logs", nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    winsim::FailCall("GetTempPathA", ERROR_PATH_NOT_FOUND);
    char buffer[MAX_PATH];
    EXPECT_EQ(0u, GetTempPathA(MAX_PATH, buffer));
    winsim::FailCall("CreateFileA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileA("C:\\a.log", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
}

} // namespace
