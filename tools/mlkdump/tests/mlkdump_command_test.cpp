// The mlkdump command: arguments, unreadable and malformed files, exit codes of the real executable.
#include "mlk_dump.h"
#include "mlk_record.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

class MlkDumpCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        directory = std::filesystem::temp_directory_path() /
                    ("mlkdump_cmd_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                     "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(directory);
    }
    void TearDown() override { std::filesystem::remove_all(directory); }

    std::string writeFile(const std::string& name, size_t length) {
        std::vector<char> bytes(length, 0);
        for (size_t at = 0; at < length; at += mlk::kRecordSize) {
            bytes[at] = static_cast<char>(mlk::kHeaderMagic);
        }
        std::string path = (directory / name).string();
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(length));
        return path;
    }

    int run(const std::vector<std::string>& arguments) {
        std::vector<const char*> argv{"mlkdump"};
        for (const std::string& argument : arguments) {
            argv.push_back(argument.c_str());
        }
        out.str("");
        err.str("");
        return mlk::runMlkDump(static_cast<int>(argv.size()), argv.data(), out, err);
    }

    std::filesystem::path directory;
    std::ostringstream out;
    std::ostringstream err;
};

TEST_F(MlkDumpCommand, PrintsOneLinePerRecordThenTheSummary) {
    std::string path = writeFile("two.mlk", 2 * mlk::kRecordSize);
    ASSERT_EQ(mlk::kExitSuccess, run({path})) << "stderr: " << err.str();
    std::istringstream lines(out.str());
    std::vector<std::string> got;
    for (std::string line; std::getline(lines, line);) {
        got.push_back(line);
    }
    ASSERT_EQ(3u, got.size()) << "output: " << out.str();
    EXPECT_EQ(0u, got[0].rfind("id=0 size=0 ", 0)) << got[0];
    EXPECT_EQ("2 records, 0 bytes; released after teardown 0, overrun 0, underrun 0", got[2]);
    EXPECT_TRUE(err.str().empty()) << err.str();
}

TEST_F(MlkDumpCommand, RejectsATruncatedFileWithAClearError) {
    std::string path = writeFile("cut.mlk", mlk::kRecordSize + 100);
    EXPECT_EQ(mlk::kExitMalformedFile, run({path}));
    EXPECT_NE(std::string::npos, err.str().find("not a multiple of 504")) << "stderr: " << err.str();
    EXPECT_TRUE(out.str().empty()) << "records printed from a truncated file: " << out.str();
}

TEST_F(MlkDumpCommand, ContentsInMemoryDumpAsTheFileThatHoldsThem) {
    for (size_t length : {size_t(0), mlk::kRecordSize, 2 * mlk::kRecordSize, mlk::kRecordSize + 1}) {
        std::string path = writeFile("same.mlk", length);
        int fileExit = run({path});
        std::string fileOut = out.str();
        std::string fileErr = err.str();

        std::ifstream file(path, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::ostringstream memoryOut;
        std::ostringstream memoryErr;
        EXPECT_EQ(fileExit, mlk::dumpRecordFile(bytes, path.c_str(), memoryOut, memoryErr))
            << "exit code for " << length << " bytes";
        EXPECT_EQ(fileOut, memoryOut.str()) << "records and summary for " << length << " bytes";
        EXPECT_EQ(fileErr, memoryErr.str()) << "error message for " << length << " bytes";
    }
}

TEST_F(MlkDumpCommand, ReportsAFileThatCannotBeRead) {
    EXPECT_EQ(mlk::kExitUsage, run({(directory / "missing.mlk").string()}));
    EXPECT_NE(std::string::npos, err.str().find("cannot read")) << "stderr: " << err.str();
}

// Each form of the arguments, with its exit code: the usage, the version of the project the tool was built
// with, or a file decoded record by record or with --group.
TEST_F(MlkDumpCommand, AnswersEachFormOfTheArguments) {
    struct Row {
        std::vector<std::string> arguments;
        int exitCode;
        std::string out; // the whole of the standard output
        std::string errStart;
    };
    const std::string usage =
        "usage: mlkdump <file.mlk>\n       mlkdump --group <file.mlk>\n       mlkdump --version\n";
    const std::string empty = writeFile("empty.mlk", 0);
    const std::string two = writeFile("two.mlk", 2 * mlk::kRecordSize);
    const std::string cut = writeFile("cut.mlk", mlk::kRecordSize + 100);
    const std::string cutError =
        "mlkdump: " + cut + ": file length " + std::to_string(mlk::kRecordSize + 100);
    const std::string noFlags = " bytes; released after teardown 0, overrun 0, underrun 0\n";
    const Row rows[] = {
        {{}, mlk::kExitUsage, "", usage},
        {{"a.mlk", "b.mlk"}, mlk::kExitUsage, "", usage},
        {{"--version", "a.mlk"}, mlk::kExitUsage, "", usage},
        {{"--group"}, mlk::kExitUsage, "", usage},
        {{"--group", "a.mlk", "b.mlk"}, mlk::kExitUsage, "", usage},
        {{"a.mlk", "--group"}, mlk::kExitUsage, "", usage},
        {{"--version"}, mlk::kExitSuccess, std::string("mlkdump ") + VRACOINS_PROJECT_VERSION + "\n", ""},
        {{"--group", empty}, mlk::kExitSuccess, "0 records, 0" + noFlags, ""},
        // writeFile's records are zero but for the header mark: caller 0, size 0, no flags.
        {{"--group", two},
         mlk::kExitSuccess,
         "caller=0x0000000000000000 flags=none count=2 bytes=0\n2 records, 0" + noFlags,
         ""},
        {{cut}, mlk::kExitMalformedFile, "", cutError},
        {{"--group", cut}, mlk::kExitMalformedFile, "", cutError},
        {{"--group", (directory / "missing.mlk").string()}, mlk::kExitUsage, "", "mlkdump: cannot read"},
    };
    for (const Row& row : rows) {
        std::string shown;
        for (const std::string& argument : row.arguments) {
            shown += " " + argument;
        }
        EXPECT_EQ(row.exitCode, run(row.arguments)) << "mlkdump" << shown;
        EXPECT_EQ(row.out, out.str()) << "mlkdump" << shown;
        EXPECT_EQ(0u, err.str().rfind(row.errStart, 0)) << "mlkdump" << shown << ": stderr: " << err.str();
        EXPECT_EQ(row.errStart.empty(), err.str().empty()) << "mlkdump" << shown << ": stderr: " << err.str();
    }
}

TEST_F(MlkDumpCommand, ExecutableExitsNonZeroOnATruncatedFile) {
    std::string good = writeFile("good.mlk", mlk::kRecordSize);
    std::string cut = writeFile("cut.mlk", mlk::kRecordSize - 1);
    std::string quiet = " >/dev/null 2>&1";
    for (std::string option : {"", "--group "}) {
        int status = std::system(("\"" MLKDUMP_EXE "\" " + option + "\"" + good + "\"" + quiet).c_str());
        ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
        EXPECT_EQ(mlk::kExitSuccess, WEXITSTATUS(status)) << option << "a whole record was refused";
        status = std::system(("\"" MLKDUMP_EXE "\" " + option + "\"" + cut + "\"" + quiet).c_str());
        ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
        EXPECT_EQ(mlk::kExitMalformedFile, WEXITSTATUS(status)) << option << "a 503-byte file was accepted";
    }
}

} // namespace
