// Debugger output, breakpoint traps and the debugger switch of the simulation.
#include "simulated_world.h"

#include <csignal>

namespace {

class KernelDebugTest : public SimulatedWorld {
  protected:
    void SetUp() override {
        SimulatedWorld::SetUp();
        winsim::ResetKernelServices();
    }
    void TearDown() override {
        winsim::ResetKernelServices();
        SimulatedWorld::TearDown();
    }
};

TEST_F(KernelDebugTest, OutputIsCapturedPieceByPiece) {
    OutputDebugStringA("first ");
    OutputDebugStringA(nullptr);
    OutputDebugStringA("second\r\n");
    EXPECT_EQ("first second\r\n", winsim::DebugOutput());
    EXPECT_EQ(2u, winsim::DebugOutputCallCount());
    winsim::ClearDebugOutput();
    EXPECT_EQ("", winsim::DebugOutput());
}

TEST_F(KernelDebugTest, DebuggerSwitchIsWhatIsDebuggerPresentAnswers) {
    EXPECT_FALSE(IsDebuggerPresent());
    winsim::SetDebuggerPresent(true);
    EXPECT_TRUE(IsDebuggerPresent());
    EXPECT_EQ(2u, winsim::CallCount("IsDebuggerPresent"));
}

TEST_F(KernelDebugTest, BreakpointWithADebuggerIsCountedAndPasses) {
    winsim::SetDebuggerPresent(true);
    VRA_BREAKPOINT();
    DebugBreak();
    EXPECT_EQ(2u, winsim::CallCount("DebugBreak"));
}

TEST_F(KernelDebugTest, BreakpointWithoutADebuggerEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            winsim::ResetKernelServices();
            VRA_BREAKPOINT();
            std::exit(0);
        },
        ::testing::KilledBySignal(SIGTRAP), "no debugger attached");
}

} // namespace
