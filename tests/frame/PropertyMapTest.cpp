#include "frame/ZrPropertyMap.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::vector<std::u16string> Keys(const ZrPropertyMap& map) {
    std::vector<std::u16string> keys;
    map.ForEach([&](const ZrString& k, const ZrString&) { keys.emplace_back(k.View()); });
    return keys;
}

TEST(PropertyMap, HashIsTheFixedPolynomialOverLowerCase) {
    EXPECT_EQ(ZrPropertyMap::Hash(u""), 0u);
    EXPECT_EQ(ZrPropertyMap::Hash(u"aB"), uint32_t{'a'} * 0x1003Fu + 'b');
    // The buckets of known keys, and so their order in a settings text: SettingsTextTest.
}

TEST(PropertyMap, OneEntryPerKeyInAnyCase) {
    ZrPropertyMap map;
    map.Set(u"Quality", u"5");
    map.Set(u"QUALITY", u"6");
    EXPECT_EQ(map.Count(), 1u);
    EXPECT_EQ(Keys(map).front(), u"Quality"); // the stored key keeps its first spelling
    EXPECT_EQ(map.GetInt(u"quality", 0), 6);
    map.SetInt64(u"bytes", 5000000000LL);
    EXPECT_EQ(map.GetInt(u"missing", 17), 17);
    EXPECT_EQ(map.GetInt(u"bytes", 0), 2147483647); // saturated
    EXPECT_EQ(map.GetInt64(u"bytes", 0), 5000000000LL);
    ZrString out;
    EXPECT_EQ(map.GetString(out, u"missing", u"fallback"), u"fallback");
}

TEST(PropertyMap, RebuildPutsMovedEntriesInFrontAndNewOnesBehind) {
    // Growing from 7 to 31 buckets moves the 16 old entries, in bucket order of 7, to the front
    // of their new chains; the 17th goes to the back of its chain.
    ZrPropertyMap map;
    std::vector<std::u16string> keys;
    for (char16_t c = u'A'; keys.size() < 17; ++c)
        keys.push_back(std::u16string(1, c));
    EXPECT_EQ(map.BucketCount(), 0u); // no table until the first insertion
    for (const auto& k : keys) {
        map.Set(k, u"x");
        // The table grows when the count would exceed twice the buckets and two.
        EXPECT_EQ(map.BucketCount(), map.Count() <= 16 ? 7u : 31u);
    }
    std::vector<std::vector<std::u16string>> seven(7), model(31);
    for (size_t i = 0; i < 16; ++i)
        seven[ZrPropertyMap::Hash(keys[i]) % 7].push_back(keys[i]);
    for (const auto& chain : seven)
        for (const auto& k : chain) {
            auto& target = model[ZrPropertyMap::Hash(k) % 31];
            target.insert(target.begin(), k);
        }
    model[ZrPropertyMap::Hash(keys[16]) % 31].push_back(keys[16]);
    std::vector<std::u16string> expected;
    for (const auto& chain : model)
        expected.insert(expected.end(), chain.begin(), chain.end());
    EXPECT_EQ(Keys(map), expected);
}

TEST(PropertyMap, RemoveAssignEquals) {
    ZrPropertyMap a;
    a.Set(u"one", u"1");
    a.Set(u"two", u"", true); // remove-if-empty
    a.Remove(u"ONE");
    EXPECT_EQ(a.BucketCount(), 0u); // the last removal releases the table
    ZrPropertyMap b;
    for (int i = 0; i < 20; ++i)
        b.SetInt(u"k" + std::u16string(ZrString::FromInt(i).View()), i);
    a.Assign(b);
    EXPECT_EQ(Keys(a), Keys(b));
    a.SetInt(u"k3", 4);
    EXPECT_FALSE(a.Equals(b));
    a.SetInt(u"k3", 3);
    EXPECT_TRUE(a.Equals(b));
    a.Clear();
    EXPECT_TRUE(a.Equals(ZrPropertyMap()));
}

} // namespace
