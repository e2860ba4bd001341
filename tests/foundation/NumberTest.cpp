#include <cmath>
#include <gtest/gtest.h>

#include "foundation/ZrNumber.h"

namespace {

TEST(DecimalParse, ReadsWhatTheSettingsHold) {
    struct Case {
        std::u16string_view text;
        int32_t expected;
    } cases[] = {
        {u"", 0},
        {u"abc", 0},
        {u"-", 0},
        {u"  -12abc", -12}, // two spaces, a sign, digits, then letters
        {u"+7", 7},
        {u"\t\n 42", 42},
        {u"99999999999", 2147483647},   // eleven nines saturate
        {u"-99999999999", -2147483647}, // negative saturation stops one short of INT_MIN
        {u"2147483647", 2147483647},
        {u"2147483648", 2147483647},
        {u"-2147483648", -2147483647},
        {u"007", 7},
        {u"1 2", 1},
        {u"--1", 0},
        {u"\u0663\u0664", 34},    // Arabic-Indic digits
        {u"\uFF11\uFF12x", 12},   // full-width digits
        {u"\u0966-1", 0},         // Devanagari zero, then a stop
        {u"12\u00B2", 12},        // a superscript is not a decimal digit
    };
    for (const auto& c : cases)
        EXPECT_EQ(ZrParseInt32(c.text), c.expected) << std::string(c.text.begin(), c.text.end());
}

TEST(DecimalParse, SixtyFourBits) {
    EXPECT_EQ(ZrParseInt64(u"9223372036854775807"), INT64_MAX);
    EXPECT_EQ(ZrParseInt64(u"99999999999999999999"), INT64_MAX);
    EXPECT_EQ(ZrParseInt64(u"-99999999999999999999"), -INT64_MAX);
    EXPECT_EQ(ZrParseInt64(u" 4294967296 "), 4294967296LL);
}

TEST(HexParse, SkipsThePrefixAndStopsAtOtherCharacters) {
    EXPECT_EQ(ZrParseHex(u"0x1F"), 0x1Fu);
    EXPECT_EQ(ZrParseHex(u"ff"), 0xFFu);
    EXPECT_EQ(ZrParseHex(u"  0XdeadBEEFg"), 0xDEADBEEFu);
    EXPECT_EQ(ZrParseHex(u"x1"), 0u);
    EXPECT_EQ(ZrFormatHex(0xABCu), u"ABC");
}

TEST(Doubles, RoundTripExactlyAndIgnoreTheLocale) {
    for (double v : {0.0, -0.5, 1.0 / 3.0, 1e-300, 6.02214076e23, 44100.0}) {
        const std::u16string text = ZrFormatDouble(v);
        EXPECT_EQ(ZrParseDouble(text), v);
    }
    EXPECT_EQ(ZrParseDouble(u"  2.5x"), 2.5);
    EXPECT_EQ(ZrParseDouble(u"+1.5"), 1.5);
    EXPECT_EQ(ZrParseDouble(u"junk"), 0.0);
    EXPECT_EQ(ZrParseDouble(u"1e-999"), 0.0);
    EXPECT_TRUE(std::isinf(ZrParseDouble(u"1e999")));
}

} // namespace
