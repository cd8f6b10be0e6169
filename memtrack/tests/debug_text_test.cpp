// The debugger writer: exact lengths, one string per call. The longest text that is sent is checked with
// the run-time heap under control (runtime_heap/).
#include "memtrack/debug_text.h"

#include "winsim/control/all.h"

#include <gtest/gtest.h>

#include <string>

namespace {

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
