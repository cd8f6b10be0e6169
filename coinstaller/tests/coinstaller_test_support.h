// Shared pieces of the co-installer's host tests: a fixture that starts every test in an empty simulated
// Windows and checks afterwards that nothing was left open, and small conversions for messages.
#pragma once

#include "coinstaller/wide_string.h"
#include "winsim/control/all.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace coinstaller_test {

inline std::u16string Text(const WideString& text) {
    return std::u16string(text.c_str(), text.Length());
}

inline std::string Utf8(const std::u16string& text) {
    return winsim::ToUtf8(text);
}
inline std::string Utf8(const WideString& text) {
    return winsim::ToUtf8(Text(text));
}

inline std::string Hex(uint32_t value) {
    char text[16];
    snprintf(text, sizeof(text), "%#x", value);
    return text;
}

// A string in the state that a failed allocation leaves, made without allocating: no length fits.
inline WideString InvalidString() {
    WideString text;
    text.Append(u"x", static_cast<size_t>(-1));
    return text;
}

// The registry text of a value as stored, or "<absent>".
inline std::string StoredText(HKEY root, const std::u16string& path, const std::u16string& name) {
    std::u16string text;
    if (!winsim::GetStringValue(root, path, name, &text)) {
        return "<absent>";
    }
    return Utf8(text);
}

// `heldDeviceSets`: the device information sets that the test itself holds at this point.
inline void ExpectNothingLeftOpen(const std::string& after, size_t heldDeviceSets = 0) {
    EXPECT_EQ(0u, winsim::OpenKeyCount()) << "registry keys still open after " << after;
    EXPECT_EQ(heldDeviceSets, winsim::OpenDeviceSetCount())
        << "device information sets still open after " << after;
    EXPECT_EQ(0u, winsim::OpenPrinterCount()) << "printer handles still open after " << after;
    EXPECT_EQ(0u, winsim::GlobalBlockCount()) << "GlobalAlloc blocks still held after " << after;
    EXPECT_EQ(0u, winsim::LibraryReferences("winspool.drv")) << "the spooler is still loaded after " << after;
}

class SimulatedWindowsTest : public ::testing::Test {
  protected:
    void SetUp() override { winsim::Reset(); }
    void TearDown() override {
        ReleaseTestHandles();
        ExpectNothingLeftOpen("the test");
    }
    // Handles that the test itself holds (device sets it created) are given back here.
    virtual void ReleaseTestHandles() {}
};

} // namespace coinstaller_test
