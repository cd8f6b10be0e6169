// Decoding of raw record files built byte by byte at the format's offsets, and the grouping of their records.
#include "mlk_group.h"
#include "mlk_record.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

namespace {

void putLittleEndian(std::vector<uint8_t>& bytes, size_t at, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) {
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

struct RecordBytes {
    uint32_t id;
    uint64_t size;
    int32_t kind;
    int32_t source;
    uint8_t release;
    uint8_t underrun;
    uint8_t overrun;
    uint64_t caller;
    uint64_t userPtr;
    uint64_t allocPtr;
};

std::vector<uint8_t> encode(const RecordBytes& r) {
    std::vector<uint8_t> bytes(mlk::kRecordSize, 0x5C); // unused bytes hold whatever memory held
    bytes[0] = 0xAA;
    putLittleEndian(bytes, 8, 0x1111222233334444ull, 8);
    putLittleEndian(bytes, 16, 0x5555666677778888ull, 8);
    putLittleEndian(bytes, 24, r.id, 4);
    putLittleEndian(bytes, 32, r.size, 8);
    putLittleEndian(bytes, 40, static_cast<uint32_t>(r.kind), 4);
    putLittleEndian(bytes, 48, r.caller, 8);
    bytes[64] = r.release;
    putLittleEndian(bytes, 72, r.userPtr, 8);
    putLittleEndian(bytes, 80, r.allocPtr, 8);
    putLittleEndian(bytes, 88, static_cast<uint32_t>(r.source), 4);
    bytes[92] = r.underrun;
    bytes[93] = r.overrun;
    putLittleEndian(bytes, 96, 399, 8);
    putLittleEndian(bytes, 104, r.userPtr + r.size, 8);
    putLittleEndian(bytes, 112, 384, 8);
    for (size_t i = 120; i < 504; ++i) {
        bytes[i] = 0xD0;
    }
    return bytes;
}

const RecordBytes kLeak{
    7, 24, 0, 0, 0, 0, 0, 0x00007FF612345678ull, 0x000001F2A3B4C600ull, 0x000001F2A3B4C5D0ull};
const RecordBytes kDamaged{9, 0x80000001ull, 1, 2, 1, 1, 1, 0x00007FF612340000ull, 0x2000ull, 0x1000ull};

std::vector<uint8_t> concat(const std::vector<std::vector<uint8_t>>& parts) {
    std::vector<uint8_t> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

} // namespace

TEST(MlkRecordDecoding, ReadsEveryFieldAtItsOffset) {
    std::vector<uint8_t> bytes = encode(kDamaged);
    mlk::Record record = mlk::decodeRecord(bytes.data());
    EXPECT_EQ(0xAA, record.magic);
    EXPECT_EQ(0x1111222233334444ull, record.prev);
    EXPECT_EQ(0x5555666677778888ull, record.next);
    EXPECT_EQ(9u, record.id);
    EXPECT_EQ(0x80000001ull, record.size) << "size is 64-bit, not cut to 32";
    EXPECT_EQ(1, record.allocKind);
    EXPECT_EQ(0x00007FF612340000ull, record.caller);
    EXPECT_EQ(1, record.release);
    EXPECT_EQ(0x2000ull, record.userPtr);
    EXPECT_EQ(0x1000ull, record.allocPtr);
    EXPECT_EQ(2, record.source);
    EXPECT_EQ(1, record.underrun);
    EXPECT_EQ(1, record.overrun);
    EXPECT_EQ(399u, record.tailGuardSize);
    EXPECT_EQ(0x2000ull + 0x80000001ull, record.tailGuard);
    EXPECT_EQ(384u, record.headGuardSize);
}

TEST(MlkRecordDecoding, DescribesOneLinePerRecordWithItsValues) {
    std::vector<uint8_t> bytes = encode(kLeak);
    std::string line = mlk::describeRecord(mlk::decodeRecord(bytes.data()));
    EXPECT_EQ("id=7 size=24 kind=new source=heap flags=none caller=0x00007FF612345678 "
              "userPtr=0x000001F2A3B4C600 allocPtr=0x000001F2A3B4C5D0",
              line);

    bytes = encode(kDamaged);
    line = mlk::describeRecord(mlk::decodeRecord(bytes.data()));
    EXPECT_NE(std::string::npos, line.find("kind=new[] source=pages flags=release,overrun,underrun"))
        << "got: " << line;
}

TEST(MlkRecordDecoding, NamesUnknownKindsSourcesAndAMissingHeaderMark) {
    RecordBytes odd = kLeak;
    odd.kind = 5;
    odd.source = -1;
    std::vector<uint8_t> bytes = encode(odd);
    bytes[0] = 0;
    std::string line = mlk::describeRecord(mlk::decodeRecord(bytes.data()));
    EXPECT_NE(std::string::npos, line.find("kind=unknown(5) source=unknown(-1) flags=badmagic"))
        << "got: " << line;
}

TEST(MlkFileDecoding, DecodesRecordsInFileOrder) {
    std::vector<mlk::Record> records;
    std::string error;
    ASSERT_TRUE(mlk::decodeFile(concat({encode(kLeak), encode(kDamaged), encode(kLeak)}), &records, &error))
        << error;
    ASSERT_EQ(3u, records.size());
    EXPECT_EQ(7u, records[0].id);
    EXPECT_EQ(9u, records[1].id);
    EXPECT_EQ(7u, records[2].id);
}

TEST(MlkFileDecoding, AcceptsAnEmptyFileAsNoRecords) {
    std::vector<mlk::Record> records(1);
    std::string error;
    EXPECT_TRUE(mlk::decodeFile({}, &records, &error)) << error;
    EXPECT_TRUE(records.empty());
    EXPECT_EQ("0 records, 0 bytes; released after teardown 0, overrun 0, underrun 0",
              mlk::describeSummary(mlk::summarize(records)));
}

TEST(MlkFileDecoding, RejectsALengthThatIsNotAMultipleOfTheRecordSize) {
    std::vector<uint8_t> bytes = concat({encode(kLeak), encode(kLeak)});
    for (size_t cut : {1u, 503u, 505u}) {
        std::vector<uint8_t> truncated(bytes.begin(), bytes.end() - static_cast<long>(cut));
        std::vector<mlk::Record> records;
        std::string error;
        EXPECT_FALSE(mlk::decodeFile(truncated, &records, &error))
            << "length " << truncated.size() << " accepted";
        EXPECT_NE(std::string::npos, error.find("file length " + std::to_string(truncated.size())))
            << "error does not name the length: " << error;
        EXPECT_TRUE(records.empty()) << "records decoded from a malformed file";
    }
}

TEST(MlkFileDecoding, SummaryCountsRecordsBytesAndEachFlag) {
    std::vector<mlk::Record> records;
    std::string error;
    ASSERT_TRUE(mlk::decodeFile(concat({encode(kLeak), encode(kDamaged), encode(kLeak)}), &records, &error));
    mlk::Summary summary = mlk::summarize(records);
    EXPECT_EQ(3u, summary.records);
    EXPECT_EQ(24u + 0x80000001ull + 24u, summary.totalBytes);
    EXPECT_EQ(1u, summary.released);
    EXPECT_EQ(1u, summary.overruns);
    EXPECT_EQ(1u, summary.underruns);
    EXPECT_EQ(0u, summary.badMagic);
    EXPECT_EQ("3 records, " + std::to_string(48u + 0x80000001ull) +
                  " bytes; released after teardown 1, overrun 1, underrun 1",
              mlk::describeSummary(summary));
}

// Rows in the order the listing must give: largest total first; on equal totals more records first, then the
// lower caller, then damaged guards before releases before neither.
TEST(MlkRecordGrouping, ListsOneLinePerCallerAndFlagClassLargestTotalFirst) {
    struct Member {
        uint64_t size;
        uint8_t release, underrun, overrun;
    };
    struct Row {
        uint64_t caller;
        std::string flags;
        std::vector<Member> records;
    };
    const uint64_t low = 0x00007FF600001000ull, mid = 0x00007FF612340000ull, high = 0x00007FF612350000ull;
    const Row rows[] = {
        {high, "release,overrun,underrun", {{500, 1, 0, 1}, {0, 0, 1, 0}}}, // damaged, and one released late
        {mid, "none", {{100, 0, 0, 0}, {20, 0, 0, 0}}},
        {low, "none", {{120, 0, 0, 0}}},                           // same total, fewer records
        {mid, "overrun,underrun", {{10, 0, 1, 0}, {50, 0, 0, 1}}}, // each guard in one of its records
        {high, "release", {{30, 1, 0, 0}, {30, 1, 0, 0}}},         // same total and count, higher caller
        {high, "none", {{40, 0, 0, 0}, {20, 0, 0, 0}}},            // same caller: releases first
        {mid, "release", {{60, 1, 0, 0}}},
    };
    // The rows scrambled (3 is prime to their number 7), each group's second record after all first ones: no
    // group order follows from the file order, whether a hash map keeps the order of insertion or reverses
    // it.
    std::vector<std::vector<uint8_t>> file;
    uint32_t id = 0;
    for (size_t member = 0; member < 2; ++member) {
        for (size_t i = 0; i < std::size(rows); ++i) {
            const Row& row = rows[i * 3 % std::size(rows)];
            if (member < row.records.size()) {
                const Member& m = row.records[member];
                file.push_back(
                    encode({++id, m.size, 0, 0, m.release, m.underrun, m.overrun, row.caller, 0, 0}));
            }
        }
    }
    std::string expected;
    for (const Row& row : rows) {
        uint64_t bytes = 0;
        for (const Member& m : row.records) {
            bytes += m.size;
        }
        char caller[32];
        std::snprintf(caller, sizeof caller, "0x%016llX", static_cast<unsigned long long>(row.caller));
        expected += std::string("caller=") + caller + " flags=" + row.flags +
                    " count=" + std::to_string(row.records.size()) + " bytes=" + std::to_string(bytes) + "\n";
    }
    std::vector<mlk::Record> records;
    std::string error;
    ASSERT_TRUE(mlk::decodeFile(concat(file), &records, &error)) << error;
    std::string got;
    for (const mlk::RecordGroup& group : mlk::groupRecords(records)) {
        got += mlk::describeGroup(group) + "\n";
    }
    EXPECT_EQ(expected, got);
}
