// mlkdump on raw record files that the tracker's own record writer produced.
#include "memtrack/tests/leak_log_test_support.h"
#include "mlk_dump.h"
#include "mlk_record.h"

#include <sys/wait.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

using leak_log_test::LeakLogFixture;
using leak_log_test::readHostFile;

std::string hex64(const void* address) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%016" PRIX64,
                  static_cast<uint64_t>(reinterpret_cast<uintptr_t>(address)));
    return text;
}

class MlkDumpOnTrackerFiles : public LeakLogFixture {
  protected:
    // Writes three records the way the tracker reports blocks and answers the raw record file's host path.
    std::filesystem::path writeTrackerFile() {
        leak = makeHeader(7, 24);
        damaged = makeHeader(8, 10);
        damaged->allocKind = 1;
        damaged->source = 2;
        damaged->overrun = 1;
        damaged->underrun = 1;
        released = makeHeader(9, 30);
        released->source = 1;
        released->release = 1;
        writeBlockRecord(leak, MemoryLeakRecord);
        writeBlockRecord(damaged, MemoryAccessViolationRecord);
        writeBlockRecord(released, MemoryLeakRecord);
        closeLogFiles();
        for (const std::string& name : filesIn("Temp")) {
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".mlk") == 0) {
                return root / "Temp" / name;
            }
        }
        ADD_FAILURE() << "the tracker wrote no raw record file";
        return {};
    }

    int dump(const std::filesystem::path& file, std::string* out, std::string* err) {
        std::string path = file.string();
        const char* argv[] = {"mlkdump", path.c_str()};
        std::ostringstream outStream, errStream;
        int code = mlk::runMlkDump(2, argv, outStream, errStream);
        *out = outStream.str();
        *err = errStream.str();
        return code;
    }

    OVMemHdr* leak = nullptr;
    OVMemHdr* damaged = nullptr;
    OVMemHdr* released = nullptr;
};

TEST_F(MlkDumpOnTrackerFiles, PrintsEachRecordTheTrackerWroteAndTheSummary) {
    std::filesystem::path file = writeTrackerFile();
    ASSERT_FALSE(file.empty());
    std::string out, err;
    ASSERT_EQ(mlk::kExitSuccess, dump(file, &out, &err)) << err;

    std::string expected =
        "id=7 size=24 kind=new source=heap flags=none caller=" + hex64(leak->caller) +
        " userPtr=" + hex64(leak->userPtr) + " allocPtr=" + hex64(leak->allocPtr) + "\n" +
        "id=8 size=10 kind=new[] source=pages flags=overrun,underrun caller=" + hex64(damaged->caller) +
        " userPtr=" + hex64(damaged->userPtr) + " allocPtr=" + hex64(damaged->allocPtr) + "\n" +
        "id=9 size=30 kind=new source=malloc flags=release caller=" + hex64(released->caller) +
        " userPtr=" + hex64(released->userPtr) + " allocPtr=" + hex64(released->allocPtr) + "\n" +
        "3 records, 64 bytes; released after teardown 1, overrun 1, underrun 1\n";
    EXPECT_EQ(expected, out);
}

TEST_F(MlkDumpOnTrackerFiles, DecodesTheHeaderFieldsAsTheTrackerHadThem) {
    std::filesystem::path file = writeTrackerFile();
    ASSERT_FALSE(file.empty());
    std::vector<mlk::Record> records;
    std::string error;
    ASSERT_TRUE(mlk::decodeFile(readHostFile(file), &records, &error)) << error;
    ASSERT_EQ(3u, records.size());
    const mlk::Record& record = records[1];
    EXPECT_EQ(damaged->magic, record.magic);
    EXPECT_EQ(damaged->id, record.id);
    EXPECT_EQ(damaged->size, record.size);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(damaged->tailGuard), record.tailGuard);
    EXPECT_EQ(damaged->headGuardSize, record.headGuardSize);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(damaged->userPtr), record.userPtr);
}

TEST_F(MlkDumpOnTrackerFiles, ReadsAFileThatASecondPairInTheSameSecondAppendedTo) {
    // Start at the beginning of a second so that both pairs of files get the same names.
    int64_t start = static_cast<int64_t>(time(nullptr));
    while (static_cast<int64_t>(time(nullptr)) == start) {
        usleep(1000);
    }
    int64_t second = static_cast<int64_t>(time(nullptr));
    std::filesystem::path file = writeTrackerFile();
    ASSERT_FALSE(file.empty());
    OVMemHdr* later = makeHeader(10, 40);
    writeBlockRecord(later, MemoryAccessViolationRecord);
    closeLogFiles();
    ASSERT_EQ(second, static_cast<int64_t>(time(nullptr))) << "both pairs must be named in the same second";

    std::vector<mlk::Record> records;
    std::string error;
    ASSERT_TRUE(mlk::decodeFile(readHostFile(file), &records, &error)) << error;
    ASSERT_EQ(4u, records.size()) << "the three records of the first pair and the one appended";
    EXPECT_EQ(7u, records[0].id);
    EXPECT_EQ(10u, records[3].id);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(later->userPtr), records[3].userPtr);
}

TEST_F(MlkDumpOnTrackerFiles, RejectsATruncatedTrackerFile) {
    std::filesystem::path file = writeTrackerFile();
    ASSERT_FALSE(file.empty());
    std::filesystem::resize_file(file, 2 * mlk::kRecordSize + 100);
    std::string out, err;
    EXPECT_EQ(mlk::kExitMalformedFile, dump(file, &out, &err));
    EXPECT_NE(std::string::npos, err.find("file length 1108 is not a multiple of 504")) << "stderr: " << err;
    EXPECT_EQ("", out) << "nothing may be printed from a truncated file";

    int status = std::system(("\"" MLKDUMP_EXE "\" \"" + file.string() + "\" >/dev/null 2>&1").c_str());
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(mlk::kExitMalformedFile, WEXITSTATUS(status)) << "the executable accepted a truncated file";
}

} // namespace
