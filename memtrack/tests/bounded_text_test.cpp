// The bounded copies and formatting behind the tracker's fixed-size text buffers: all or nothing, and a
// failure is reported, never raised.
#include "memtrack/debug_text.h"

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

} // namespace
