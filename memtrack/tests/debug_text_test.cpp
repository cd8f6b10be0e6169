// The tracker's text: the bounded copies and formatting behind its fixed-size buffers (all or nothing,
// and a failure is reported, never raised), safeFormat with the contract of StringCchPrintfA (bounded by
// the capacity, always terminated, and a result that tells a cut text from a whole one), and the debugger
// writer (exact lengths, one string per call; the longest text that is sent is checked with the run-time
// heap under control, runtime_heap/).
#include "memtrack/debug_text.h"

#include "winsim/control/all.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(BoundedFormat, WritesATextThatFitsWithItsTerminator) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    ASSERT_TRUE(formatBounded(buffer, sizeof buffer, "%s%d", "ab", 12345)) << "7 characters fit in 8 bytes";
    EXPECT_STREQ("ab12345", buffer);
}

TEST(BoundedFormat, RefusesATextThatLeavesNoRoomForTheTerminatorAndEmptiesTheBuffer) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_FALSE(formatBounded(buffer, sizeof buffer, "%s", "12345678"))
        << "8 characters accepted in 8 bytes";
    EXPECT_EQ(0, buffer[0]) << "a refused text must leave an empty buffer, found \"" << std::string(buffer, 8)
                            << "\"";
}

TEST(BoundedFormat, RefusesMissingArguments) {
    char buffer[4] = "abc";
    EXPECT_FALSE(formatBounded(nullptr, 4, "%d", 1));
    EXPECT_FALSE(formatBounded(buffer, 0, "%d", 1));
    EXPECT_STREQ("abc", buffer) << "a zero capacity must not touch the buffer";
    EXPECT_FALSE(formatBounded(buffer, sizeof buffer, nullptr));
    EXPECT_EQ(0, buffer[0]);
}

TEST(BoundedCopy, CopiesAText259LongIntoA260ByteBufferButNot260) {
    char buffer[260];
    std::string fits(259, 'p');
    ASSERT_TRUE(copyTextBounded(buffer, sizeof buffer, fits.c_str()));
    EXPECT_EQ(fits, buffer);
    std::string tooLong(260, 'q');
    EXPECT_FALSE(copyTextBounded(buffer, sizeof buffer, tooLong.c_str()));
    EXPECT_EQ(0, buffer[0]) << "a refused copy must leave an empty buffer";
}

TEST(BoundedCopy, RefusesAMissingSource) {
    char buffer[4] = "abc";
    EXPECT_FALSE(copyTextBounded(buffer, sizeof buffer, nullptr));
    EXPECT_EQ(0, buffer[0]);
}

TEST(BoundedByteCopy, CopiesExactlyTheCountAndLeavesTheRest) {
    char buffer[6] = {'.', '.', '.', '.', '.', '.'};
    ASSERT_TRUE(copyBytesBounded(buffer, sizeof buffer, "abc\0def", 5));
    EXPECT_EQ(0, std::memcmp("abc\0d.", buffer, 6)) << "bytes after the count must stay as they were";
}

TEST(BoundedByteCopy, ZeroesTheDestinationWhenTheCountDoesNotFitOrTheSourceIsMissing) {
    char buffer[4] = {'a', 'b', 'c', 'd'};
    EXPECT_FALSE(copyBytesBounded(buffer, sizeof buffer, "12345", 5));
    EXPECT_EQ(0, std::memcmp("\0\0\0\0", buffer, 4)) << "an oversized copy must zero the destination";
    std::memset(buffer, 'z', sizeof buffer);
    EXPECT_FALSE(copyBytesBounded(buffer, sizeof buffer, nullptr, 2));
    EXPECT_EQ(0, std::memcmp("\0\0\0\0", buffer, 4)) << "a copy without source must zero the destination";
    EXPECT_TRUE(copyBytesBounded(buffer, sizeof buffer, nullptr, 0)) << "a count of 0 needs no source";
}

constexpr size_t bufferSize = 512;

class SafeFormat : public ::testing::Test {
  protected:
    void SetUp() override { std::memset(buffer, '#', sizeof(buffer)); }
    char buffer[bufferSize + 8];
};

TEST_F(SafeFormat, ZeroCapacityIsAnInvalidArgumentAndTouchesNothing) {
    EXPECT_EQ(E_INVALIDARG, safeFormat(buffer, 0, "%s", "text"));
    EXPECT_EQ('#', buffer[0]) << "the destination was written";
}

TEST_F(SafeFormat, CapacityAboveTheLargestCountIsAnInvalidArgument) {
    EXPECT_EQ(E_INVALIDARG, safeFormat(buffer, safeFormatMaxCapacity + 1, "%s", "text"));
    EXPECT_EQ('#', buffer[0]) << "the destination was written";
}

TEST_F(SafeFormat, MissingDestinationOrFormatIsAnInvalidArgument) {
    EXPECT_EQ(E_INVALIDARG, safeFormat(nullptr, bufferSize, "%s", "text"));
    EXPECT_EQ(E_INVALIDARG, safeFormat(buffer, bufferSize, nullptr));
    EXPECT_EQ('#', buffer[0]) << "the destination was written";
}

TEST_F(SafeFormat, ArgumentsAreFormattedAsPrintfDoes) {
    EXPECT_EQ(S_OK, safeFormat(buffer, bufferSize, "%s;%s|%d|%u", "C:\\symbols", "srv*x", -7, 42u));
    EXPECT_STREQ("C:\\symbols;srv*x|-7|42", buffer);
}

// Whole texts up to the capacity less one; longer ones (0x8007007A, insufficient buffer) cut to it. Either
// way terminated, and nothing written beyond the capacity.
TEST_F(SafeFormat, TextIsWholeUpToTheCapacityLessOneAndCutBeyondIt) {
    const std::string c400(400, 'c'), d400(400, 'd');
    const struct {
        size_t capacity;
        std::string first, second; // formatted as "%s%s"
        HRESULT result;
    } rows[] = {{bufferSize, "", "", S_OK},
                {bufferSize, std::string(bufferSize - 1, 'a'), "", S_OK},
                {bufferSize, std::string(bufferSize, 'b'), "", static_cast<HRESULT>(0x8007007AUL)},
                {bufferSize, c400 + ";", d400, static_cast<HRESULT>(0x8007007AUL)},
                {1, "", "", S_OK},
                {1, "x", "", static_cast<HRESULT>(0x8007007AUL)}};
    for (const auto& row : rows) {
        std::memset(buffer, '#', sizeof(buffer));
        const std::string whole = row.first + row.second;
        SCOPED_TRACE(testing::Message()
                     << "capacity " << row.capacity << ", " << whole.size() << " characters");
        HRESULT result = safeFormat(buffer, row.capacity, "%s%s", row.first.c_str(), row.second.c_str());
        EXPECT_EQ(row.result, result) << std::hex << "got 0x" << result;
        EXPECT_EQ(whole.substr(0, row.capacity - 1), std::string(buffer));
        EXPECT_EQ('#', buffer[row.capacity]) << "written beyond the capacity";
    }
}

class DebugText : public ::testing::Test {
  protected:
    void SetUp() override {
        winsim::Reset();
        winsim::ResetKernelServices();
    }
};

TEST_F(DebugText, SendsExactlyTheGivenBytesAsOneString) {
    writeDebugText("MemoryLeak module=\"x\"", 10);
    EXPECT_EQ("MemoryLeak", winsim::DebugOutput());
    EXPECT_EQ(1u, winsim::CallCount("OutputDebugStringA"));
}

TEST_F(DebugText, SendsAnEmptyStringForLengthZero) {
    writeDebugText("ignored", 0);
    EXPECT_EQ("", winsim::DebugOutput());
    EXPECT_EQ(1u, winsim::CallCount("OutputDebugStringA")) << "a zero length still sends one empty string";
}

TEST_F(DebugText, SendsNothingForAMissingText) {
    writeDebugText(nullptr, 5);
    writeDebugString(nullptr);
    EXPECT_EQ(0u, winsim::CallCount("OutputDebugStringA"));
}

TEST_F(DebugText, WritesAZeroTerminatedTextWhole) {
    writeDebugString("\r\n********** Clean System **********\r\n");
    EXPECT_EQ("\r\n********** Clean System **********\r\n", winsim::DebugOutput());
}

} // namespace
