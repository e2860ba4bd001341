#include "foundation/ZrNumber.h"

#include <gtest/gtest.h>

namespace {

TEST(NumberParse, ReadsWhatTheSettingsHold) {
    const std::pair<std::u16string_view, int32_t> cases[] = {
        {u"", 0},
        {u"-", 0},
        {u"--1", 0},
        {u"  -12abc", -12},
        {u"\t\n +7 2", 7},
        {u"2147483648", 2147483647},
        {u"-99999999999", -2147483647}, // negative saturation stops one short of INT_MIN
        {u"\u0663\u0664", 34},          // Arabic-Indic digits
        {u"\uFF11\uFF12x", 12},         // full-width digits
        {u"12\u00B2", 12},              // a superscript is not a decimal digit
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(ZrParseInt32(text), expected) << std::string(text.begin(), text.end());
    EXPECT_EQ(ZrParseInt64(u"99999999999999999999"), INT64_MAX);
    EXPECT_EQ(ZrParseInt64(u"-99999999999999999999"), -INT64_MAX);
    EXPECT_EQ(ZrParseInt64(u" 4294967296 "), 4294967296LL);
    EXPECT_EQ(ZrParseHex(u"  0XdeadBEEFg"), 0xDEADBEEFu);
}

} // namespace
