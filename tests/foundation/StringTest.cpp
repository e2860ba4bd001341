#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "foundation/ZrString.h"
#include "foundation/ZrStringManager.h"
#include "foundation/ZrUtf.h"
#include "tessary/SysString.h"

namespace {

TEST(ZrString, EmptyStringsShareTheStaticBlock) {
    ZrString a, b(u""), c(nullptr);
    EXPECT_EQ(a.c_str(), b.c_str());
    EXPECT_EQ(a.c_str(), c.c_str());
    EXPECT_EQ(a.Header()->RefCount, ZrStringStaticRefs);
    EXPECT_EQ(a.c_str()[0], u'\0');
}

TEST(ZrString, CopiesShareUntilOneIsWritten) {
    ZrString a(u"hello");
    ZrString b = a;
    EXPECT_EQ(a.c_str(), b.c_str());
    EXPECT_EQ(a.Header()->RefCount, 2u);
    b += u" world";
    EXPECT_NE(a.c_str(), b.c_str());
    EXPECT_EQ(a, u"hello");
    EXPECT_EQ(b, u"hello world");
    EXPECT_EQ(a.Header()->RefCount, 1u);
}

TEST(ZrString, WritingStateIsSetAndCleared) {
    ZrString a(u"abc");
    ZrString shared = a;
    char16_t* buffer = a.GetBuffer(10);
    // Writing made the block unique: the other owner still reads the old text.
    EXPECT_EQ(shared, u"abc");
    EXPECT_EQ(a.Header()->RefCount, ZrStringWritingRefs);
    // A copy taken while the owner writes is a real copy, never a share of the buffer.
    ZrString during = a;
    EXPECT_NE(during.c_str(), a.c_str());
    buffer[3] = u'd';
    buffer[4] = 0;
    a.ReleaseBuffer();
    EXPECT_EQ(a.Header()->RefCount, 1u);
    EXPECT_EQ(a, u"abcd");
    EXPECT_EQ(a.Length(), 4u);
}

TEST(ZrString, AppendingItselfWorks) {
    ZrString a(u"ab");
    a.Append(a.View());
    a.Append(a.c_str() + 1, 2);
    EXPECT_EQ(a, u"ababba");
}

TEST(ZrString, ReferenceCountingIsThreadSafe) {
    const ZrString shared(u"shared text that many threads copy");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&shared] {
            for (int i = 0; i < 20000; ++i) {
                ZrString copy = shared;
                ZrString another(copy);
                if (i % 100 == 0)
                    another += u"!";
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(shared.Header()->RefCount, 1u);
}

TEST(ZrString, Utf8RoundTripsEveryPlane) {
    const std::u16string text = u"a\u00E9\u20AC\U0001F3B5z";
    const std::string utf8 = ZrUtf16ToUtf8(text);
    EXPECT_EQ(utf8, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5z");
    EXPECT_EQ(ZrUtf8ToUtf16(utf8), text);
    EXPECT_EQ(ZrString::FromUtf8(utf8).ToUtf8(), utf8);
}

TEST(ZrString, BadUtf8BecomesReplacementCharacters) {
    struct Case {
        std::string input;
        std::u16string expected;
    } cases[] = {
        {"\xC3", u"\uFFFD"},                        // truncated
        {"\xC0\xAF", u"\uFFFD"},                    // overlong
        {"\xED\xA0\x80", u"\uFFFD"},                // encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD"},            // beyond U+10FFFF
        {"a\xFF" "b", u"a\uFFFD" "b"},                 // invalid lead
        {"\xE2\x82" "A", u"\uFFFD" "A"},               // truncated before ASCII
    };
    for (const auto& c : cases)
        EXPECT_EQ(ZrUtf8ToUtf16(c.input), c.expected) << c.input;
    EXPECT_EQ(ZrUtf16ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");
}

TEST(ZrString, CaseInsensitiveComparisonUsesTheTables) {
    EXPECT_TRUE(ZrString(u"Version").EqualsNoCase(u"vERSION"));
    EXPECT_FALSE(ZrString(u"Version").EqualsNoCase(u"Versions"));
    EXPECT_LT(ZrString(u"abc").CompareNoCase(u"ABD"), 0);
    EXPECT_GT(ZrString(u"abd").CompareNoCase(u"ABC"), 0);
    EXPECT_EQ(ZrString(u"MiXeD").Lower(), u"mixed");
    EXPECT_EQ(ZrString(u"a.FLAC").FindNoCase(u".flac"), 1);
    EXPECT_TRUE(ZrString(u"song.WAV").EndsWithNoCase(u".wav"));
}

// The tables are rebuilt under the user's locale at start-up while other threads may already
// compare names.
TEST(ZrString, ComparisonWhileTheTablesAreRebuilt) {
    std::atomic<int> readersLeft{2};
    std::atomic<int> rebuilds{0};
    std::atomic<int> wrong{0};
    std::thread rebuilder([&] {
        while (readersLeft.load() > 0) {
            ZrStringManager::Instance().RebuildTables();
            rebuilds.fetch_add(1, std::memory_order_relaxed);
        }
    });
    std::vector<std::thread> readers;
    for (int t = 0; t < 2; ++t)
        readers.emplace_back([&] {
            const ZrString name(u"Compression Level");
            // Until the rebuilds have surely overlapped the comparisons, however busy the machine.
            const int until = rebuilds.load(std::memory_order_relaxed) + 50;
            for (int i = 0; i < 20000 || rebuilds.load(std::memory_order_relaxed) < until; ++i)
                if (!name.EqualsNoCase(u"cOMPRESSION lEVEL") ||
                    !ZrStringManager::Instance().IsSpace(u' '))
                    ++wrong;
            --readersLeft;
        });
    for (auto& t : readers)
        t.join();
    rebuilder.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(ZrString, EditingHelpers) {
    ZrString s(u"  one two one  ");
    EXPECT_EQ(s.Trimmed(), u"one two one");
    ZrString r = s.Trimmed();
    EXPECT_EQ(r.Replace(u"one", u"1"), 2u);
    EXPECT_EQ(r, u"1 two 1");
    EXPECT_EQ(r.Mid(2, 3), u"two");
    EXPECT_EQ(r.Mid(100), u"");
    EXPECT_EQ(r.ReverseFind(u'1'), 6);
    EXPECT_EQ(ZrString::Format("%s=%d", "k\xC3\xA9", 42), u"k\u00E9=42");
    EXPECT_EQ(ZrString::FromInt(-2147483648LL), u"-2147483648");
}

TEST(SysString, LayoutIsLengthPrefixedAndTerminated) {
    ZrSysString s = SysAllocString(u"abc");
    ASSERT_NE(s, nullptr);
    uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<unsigned char*>(s) - 4, 4);
    EXPECT_EQ(bytes, 6u);
    EXPECT_EQ(SysStringLen(s), 3u);
    EXPECT_EQ(s[3], u'\0');
    SysFreeString(s);

    ZrSysString withNul = SysAllocStringLen(u"a\0b", 3);
    EXPECT_EQ(SysStringLen(withNul), 3u);
    SysFreeString(withNul);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
}

} // namespace
