#include "frame/TestEncoders.h"
#include "frame/ZrPropertyMap.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

ZrString Text(const ZrPropertyMap& map) {
    return map.ToSettingsText();
}

TEST(SettingsText, ValuesArePercentEncodedAsUtf8) {
    struct Case {
        std::u16string_view value;
        std::u16string_view encoded;
    } cases[] = {
        {u"plain-._~AZaz09", u"plain-._~AZaz09"},
        {u"a|b=c d", u"a%7Cb%3Dc%20d"},
        {u"\u00E9", u"%C3%A9"},
        {u"\u20AC", u"%E2%82%AC"},
        {u"\U0001F3B5", u"%ED%A0%BC%ED%BE%B5"}, // each surrogate half as three bytes
        {u"%", u"%25"},
        {u"", u""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ZrEncodeSettingValue(c.value), c.encoded);
}

TEST(SettingsText, EveryValueReadsBackUnchanged) {
    const std::u16string_view values[] = {u"a|b=c d",
                                          u"\u00E9t\u00E9",
                                          u"\U0001F3B5 and \U00010000",
                                          u"100%",
                                          u"%41%",
                                          u"",
                                          u"=",
                                          u"||",
                                          u"tab\there\nnewline",
                                          std::u16string_view(u"\0x", 2)};
    ZrPropertyMap map;
    int i = 0;
    for (auto v : values)
        map.Set(u"k" + std::u16string(ZrString::FromInt(i++).View()), v);
    ZrPropertyMap read;
    read.StoreSettingsText(Text(map).View());
    EXPECT_TRUE(read.Equals(map)) << Text(read).ToUtf8();
}

TEST(SettingsText, MalformedTextsYieldWhatTheirPiecesGive) {
    struct Case {
        std::u16string_view text;
        std::u16string_view reencoded; // the map written back, as pieces came out
    } cases[] = {
        {u"", u""},
        {u"|||", u""},
        {u"key", u"key="},    // no "=": empty value
        {u"a=1=2=3", u"a=1"}, // after a second "=" is dropped
        {u"a=%4", u"a=%254"}, // malformed "%" stays
        {u"a=%zz%4G", u"a=%25zz%254G"},
        {u"a=%41", u"a=A"},
        {u"a=%c3%a9", u"a=%C3%A9"},             // either case of hex digits
        {u"a=%C3", u"a=%EF%BF%BD"},             // a lone lead byte cannot be UTF-8
        {u"=v", u"=v"},                         // an empty key is a key
        {u"a=1|A=2", u"a=2"},                   // one key in any case: the later wins
        {u"a=\u00E9%C3%A9", u"a=%C3%A9%C3%A9"}, // raw letters survive the UTF-8 reading
    };
    for (const auto& c : cases) {
        ZrPropertyMap map;
        map.StoreSettingsText(c.text);
        EXPECT_EQ(Text(map), c.reencoded) << ZrString(c.text).ToUtf8();
    }
}

TEST(SettingsText, FiveKeyEncoderWritesTheKnownOrder) {
    // An encoder whose defaults are Quality 6, Verify 0, AddPB 1, AddST 1, Ogg 0, set in that
    // order, lists them in bucket order 0, 0, 1, 3, 6.
    FiveKeyTestEncoder encoder;
    // Never set: the map is empty and reads give the values-when-absent.
    EXPECT_EQ(encoder.Property(u"Settings"), u"");
    EXPECT_EQ(FiveKeyTestEncoder::Quality.Get(encoder.SettingsMap()), 0);
    ASSERT_TRUE(encoder.SetProperty(u"Settings", u""));
    EXPECT_EQ(encoder.Property(u"Settings"), u"Quality=6|Verify=0|Ogg=0|AddPB=1|AddST=1");

    ASSERT_TRUE(encoder.SetProperty(u"Settings", u"Quality=8"));
    EXPECT_EQ(encoder.Property(u"Settings"), u"Quality=8|Verify=0|Ogg=0|AddPB=1|AddST=1");

    // LoadSettings runs after the pairs are stored: it clamps an out-of-range level.
    // A key the encoder does not know is kept, in its bucket (2 of 7).
    ASSERT_EQ(ZrPropertyMap::Hash(u"Extra") % 7, 2u);
    ASSERT_TRUE(encoder.SetProperty(u"Settings", u"quality=99|Extra=x%7Cy"));
    EXPECT_EQ(encoder.Property(u"Settings"),
              u"Quality=8|Verify=0|Ogg=0|Extra=x%7Cy|AddPB=1|AddST=1");
    // A new text starts again from the defaults: earlier pairs do not linger.
    ASSERT_TRUE(encoder.SetProperty(u"Settings", u"Verify=1"));
    EXPECT_EQ(encoder.Property(u"Settings"), u"Quality=6|Verify=1|Ogg=0|AddPB=1|AddST=1");
}

} // namespace
