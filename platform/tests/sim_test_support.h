// Shared pieces of the simulation's host tests: a fixture that starts every test from an empty world,
// and readable forms of UTF-16 text for assertion messages.
#pragma once

#include "platform/platform.h"
#include "platform/portability.h"
#include "platform/sim/sim_control.h"

#include <gtest/gtest.h>

#include <string>

class SimulatedWorld : public ::testing::Test {
  protected:
    void SetUp() override { winsim::Reset(); }
    void TearDown() override { winsim::Reset(); }
};

inline std::string Utf8(const std::u16string& text) {
    return winsim::ToUtf8(text);
}
inline std::string Utf8(const WCHAR* text) {
    return text == nullptr ? "(null)" : winsim::ToUtf8(text);
}
