// What the checks written once and run on both sides as GoogleTest tests (over the host simulation, and
// on Windows or Wine) share: the fixture that hands each test its side's world, printf-style messages for
// their expectations, the expectation that Wine is known to miss, and the skip of a check whose
// preparation this side cannot make.
#pragma once

#include "tests/two_sided/utf16_text.h"

#include "platform/platform.h"
#include "platform/portability.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>

// The fixture of checks written against the interface World: each test gets `world`, a world of its side
// made for it alone by newWorld (which each side defines) and cleared.
template <class World, std::unique_ptr<World> (*newWorld)()> class TwoSidedTest : public ::testing::Test {
  protected:
    TwoSidedTest() : world_(newWorld()), world(*world_) {}
    void SetUp() override { world.Clear(); }

  private:
    std::unique_ptr<World> world_;

  protected:
    World& world;
};

// printf-style text for an expectation's message: EXPECT_TRUE(size == 8) << Formatted("got %lu", size).
inline std::string Formatted(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) {
        std::vsnprintf(&text[0], text.size() + 1, format, again);
    }
    va_end(again);
    return text;
}

namespace two_sided {

// Whether an expectation that Wine is known to miss counts as met: it holds, or the test runs on Wine,
// where the miss is recorded instead (printed, and kept as the test's property "wine_difference").
inline bool HoldsOrWineLacksIt(bool holds, bool onWine, const char* difference, const char* file, int line) {
    if (holds || !onWine) {
        return holds;
    }
    std::printf("[  WINE    ] %s:%d: %s\n", file, line, difference);
    std::fflush(stdout);
    ::testing::Test::RecordProperty("wine_difference", difference);
    return true;
}

} // namespace two_sided

// EXPECT_TRUE_EXCEPT_ON_WINE("what Wine lacks", condition) << message: EXPECT_TRUE(condition), except that
// on Wine a condition that does not hold is a known difference of Wine from Windows rather than a fault.
// Needs `world`, whose IsWine() tells.
#define EXPECT_TRUE_EXCEPT_ON_WINE(difference, condition)                                                    \
    switch (0)                                                                                               \
    case 0:                                                                                                  \
    default:                                                                                                 \
        if (::two_sided::HoldsOrWineLacksIt((condition), world.IsWine(), (difference), __FILE__, __LINE__))  \
            ;                                                                                                \
        else                                                                                                 \
            ADD_FAILURE() << "Value of: " #condition "\n  Actual: false\nExpected: true\n"

// Ends the test as skipped when a preparation is not possible on this side: `call` answers null when done,
// or the reason.
#define SKIP_UNLESS_PREPARED(call)                                                                           \
    switch (0)                                                                                               \
    case 0:                                                                                                  \
    default:                                                                                                 \
        if (const char* unprepared_ = (call))                                                                \
        GTEST_SKIP() << unprepared_
