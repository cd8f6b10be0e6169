// Shared pieces of the simulation's host tests: a fixture that starts every test from an empty world,
// and readable forms of UTF-16 text for assertion messages.
#pragma once

#include "platform/platform.h"
#include "platform/portability.h"
#include "winsim/control/all.h"

#include <gtest/gtest.h>

#include <string>

class SimulatedWorld : public ::testing::Test {
  protected:
    void SetUp() override { winsim::Reset(); }
    void TearDown() override { winsim::Reset(); }
};

// For tests of module handles and symbol handlers: these are not part of winsim::Reset's world, so they
// are forgotten here as well.
class SimulatedModulesWorld : public SimulatedWorld {
  protected:
    void SetUp() override {
        SimulatedWorld::SetUp();
        winsim::ResetModulesAndSymbols();
    }
    void TearDown() override {
        winsim::ResetModulesAndSymbols();
        SimulatedWorld::TearDown();
    }
};

inline std::string Utf8(const std::u16string& text) {
    return winsim::ToUtf8(text);
}
inline std::string Utf8(const WCHAR* text) {
    return text == nullptr ? "(null)" : winsim::ToUtf8(text);
}
