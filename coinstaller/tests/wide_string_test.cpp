// The wide string under the co-installer: exact comparison and search, and how a failed growth shows.
#include "coinstaller/wide_string.h"
#include "coinstaller_test_support.h"

using namespace coinstaller_test;

namespace {

TEST(WideStringTest, ComparisonAndSearchAreExactByCodeUnit) {
    WideString name(u"USB001");
    EXPECT_TRUE(name.Equals(u"USB001"));
    EXPECT_FALSE(name.Equals(u"usb001"));
    EXPECT_FALSE(name.Equals(u"USB0011"));
    EXPECT_TRUE(name.Equals(u"USB001 and more", 6));
    EXPECT_FALSE(name.Equals(u"USB001", 5));
    EXPECT_TRUE(name.Contains(u"SB0"));
    EXPECT_FALSE(name.Contains(u"sb0"));
    EXPECT_TRUE(WideString().Equals(nullptr, 0));
}

TEST(WideStringTest, AnImpossibleGrowthMarksTheStringFailedAndKeepsItsText) {
    WideString text(u"kept");
    EXPECT_FALSE(text.Append(u"x", static_cast<size_t>(-1)));
    EXPECT_FALSE(text.IsValid());
    EXPECT_EQ(u"kept", Text(text));
    WideString copy(text);
    EXPECT_FALSE(copy.IsValid()) << "a copy of a failed string must stay failed";
    WideString joined(u"a");
    EXPECT_FALSE(joined.Append(text)) << "appending a failed string must fail";
    EXPECT_FALSE(joined.IsValid());
}

TEST(WideStringTest, SwapExchangesTextAndValidity) {
    WideString good(u"good");
    WideString bad = InvalidString();
    good.Swap(bad);
    EXPECT_FALSE(good.IsValid());
    EXPECT_TRUE(bad.IsValid());
    EXPECT_EQ(u"good", Text(bad));
}

TEST(WideStringTest, AppendUnsignedWritesPlainDecimal) {
    WideString text(u"Copy ");
    text.AppendUnsigned(0);
    text.AppendUnsigned(12);
    text.AppendUnsigned(18446744073709551615ull);
    EXPECT_EQ(u"Copy 01218446744073709551615", Text(text));
}

} // namespace
