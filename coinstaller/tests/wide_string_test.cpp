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

// A string's own text, whole or in part, appended also where that needs more storage than it has: the
// text is taken before the storage it lies in is given back.
TEST(WideStringTest, AppendTakesItsOwnText) {
    const struct {
        size_t from;
        size_t length;
        const char16_t* expected;
    } rows[] = {{0, 6, u"USB001USB001"}, {3, 3, u"USB001001"}, {5, 1, u"USB0011"}, {6, 0, u"USB001"}};
    for (const auto& row : rows) {
        WideString text(u"USB001");
        EXPECT_TRUE(text.Append(text.c_str() + row.from, row.length)) << "from " << row.from;
        EXPECT_EQ(row.expected, Text(text)) << "from " << row.from;
    }
    WideString text(u"USB001");
    EXPECT_TRUE(text.Append(text.c_str()));
    EXPECT_TRUE(text.Append(text));
    EXPECT_EQ(u"USB001USB001USB001USB001", Text(text));
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
