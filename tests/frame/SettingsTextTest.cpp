#include "frame/TestEncoders.h"
#include "frame/ZrPropertyMap.h"

#include <gtest/gtest.h>

namespace {

TEST(SettingsText, ValuesArePercentEncodedAsUtf8AndReadBackUnchanged) {
    const std::pair<std::u16string_view, std::u16string_view> cases[] = {
        {u"plain-._~AZaz09", u"plain-._~AZaz09"},
        {u"a|b=c d", u"a%7Cb%3Dc%20d"},
        {u"\u20AC", u"%E2%82%AC"},
        {u"\U0001F3B5", u"%ED%A0%BC%ED%BE%B5"}, // each surrogate half as three bytes
        {u"100%", u"100%25"},
        {u"", u""},
        {std::u16string_view(u"\0\n", 2), u"%00%0A"},
    };
    ZrPropertyMap map;
    int i = 0;
    for (const auto& [value, encoded] : cases) {
        EXPECT_EQ(ZrEncodeSettingValue(value), encoded);
        map.Set(u"k" + std::u16string(ZrString::FromInt(i++).View()), value);
    }
    ZrPropertyMap read;
    read.StoreSettingsText(map.ToSettingsText().View());
    EXPECT_TRUE(read.Equals(map)) << read.ToSettingsText().ToUtf8();
}

TEST(SettingsText, MalformedTextsYieldWhatTheirPiecesGive) {
    const std::pair<std::u16string_view, std::u16string_view> cases[] = {
        // the text, and the map written back as the pieces came out
        {u"|||", u""},
        {u"key", u"key="},                      // no "=": empty value
        {u"a=1=2=3", u"a=1"},                   // after a second "=" is dropped
        {u"a=%zz%4G%4", u"a=%25zz%254G%254"},   // malformed "%" stays
        {u"a=%c3%a9", u"a=%C3%A9"},             // either case of hex digits
        {u"a=%C3", u"a=%EF%BF%BD"},             // a lone lead byte cannot be UTF-8
        {u"=v|b=2", u"=v|b=2"},                 // an empty key is a key
        {u"a=1|A=2", u"a=2"},                   // one key in any case: the later wins
        {u"a=\u00E9%C3%A9", u"a=%C3%A9%C3%A9"}, // raw letters survive the UTF-8 reading
    };
    for (const auto& [text, reencoded] : cases) {
        ZrPropertyMap map;
        map.StoreSettingsText(text);
        EXPECT_EQ(map.ToSettingsText(), reencoded) << ZrString(text).ToUtf8();
    }
}

TEST(SettingsText, FiveKeyEncoderWritesTheKnownOrder) {
    // Defaults set in the order Quality, Verify, AddPB, AddST, Ogg list in bucket order.
    FiveKeyTestEncoder encoder;
    // Never set: the map is empty and reads give the values-when-absent.
    EXPECT_EQ(encoder.Property(u"Settings"), u"");
    EXPECT_EQ(FiveKeyTestEncoder::Quality.Get(encoder.SettingsMap()), 0);
    // LoadSettings runs after the pairs are stored: it clamps an out-of-range level.
    // A key the encoder does not know is kept, in its bucket (2 of 7).
    ASSERT_TRUE(encoder.SetProperty(u"Settings", u"quality=99|Extra=x%7Cy"));
    EXPECT_EQ(encoder.Property(u"Settings"),
              u"Quality=8|Verify=0|Ogg=0|Extra=x%7Cy|AddPB=1|AddST=1");
    // A new text starts again from the defaults: earlier pairs do not linger.
    ASSERT_TRUE(encoder.SetProperty(u"Settings", u"Verify=1"));
    EXPECT_EQ(encoder.Property(u"Settings"), u"Quality=6|Verify=1|Ogg=0|AddPB=1|AddST=1");
}

} // namespace
