// safeFormat keeps the contract of StringCchPrintfA: bounded by the capacity, always terminated, and a
// result that tells a cut text from a whole one.
#include "memtrack/debug_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

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

TEST_F(SafeFormat, EmptyTextIsWholeAndTerminated) {
    EXPECT_EQ(S_OK, safeFormat(buffer, bufferSize, "%s", ""));
    EXPECT_EQ('\0', buffer[0]);
}

TEST_F(SafeFormat, TextThatFillsTheCapacityLessOneIsWholeAndTerminatedAtTheEnd) {
    std::string text(bufferSize - 1, 'a');
    EXPECT_EQ(S_OK, safeFormat(buffer, bufferSize, "%s", text.c_str()));
    EXPECT_EQ('\0', buffer[bufferSize - 1]) << "terminator at position 511";
    EXPECT_EQ(text, std::string(buffer));
    EXPECT_EQ('#', buffer[bufferSize]) << "written beyond the capacity";
}

TEST_F(SafeFormat, TextOneLongerIsCutToTheCapacityLessOneAndReportedAsInsufficientBuffer) {
    std::string text(bufferSize, 'b');
    HRESULT result = safeFormat(buffer, bufferSize, "%s", text.c_str());
    EXPECT_EQ(static_cast<HRESULT>(0x8007007AUL), result) << std::hex << "got 0x" << result;
    EXPECT_EQ('\0', buffer[bufferSize - 1]) << "terminator at position 511";
    EXPECT_EQ(text.substr(0, bufferSize - 1), std::string(buffer)) << "the first 511 characters are kept";
    EXPECT_EQ('#', buffer[bufferSize]) << "written beyond the capacity";
}

TEST_F(SafeFormat, MuchLongerTextIsCutTheSameWay) {
    std::string first(400, 'c');
    std::string second(400, 'd');
    EXPECT_EQ(safeFormatInsufficientBuffer,
              safeFormat(buffer, bufferSize, "%s;%s", first.c_str(), second.c_str()));
    EXPECT_EQ((first + ";" + second).substr(0, bufferSize - 1), std::string(buffer));
}

TEST_F(SafeFormat, CapacityOfOneHoldsOnlyTheTerminator) {
    EXPECT_EQ(S_OK, safeFormat(buffer, 1, "%s", ""));
    EXPECT_EQ('\0', buffer[0]);
    buffer[0] = '#';
    EXPECT_EQ(safeFormatInsufficientBuffer, safeFormat(buffer, 1, "%s", "x"));
    EXPECT_EQ('\0', buffer[0]);
    EXPECT_EQ('#', buffer[1]);
}

} // namespace
