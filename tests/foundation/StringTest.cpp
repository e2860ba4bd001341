#include "foundation/ZrString.h"
#include "foundation/ZrStringManager.h"
#include "foundation/ZrUtf.h"
#include "tessary/SysString.h"

#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

TEST(ZrString, CopiesShareUntilOneIsWritten) {
    ZrString a(u"abc");
    ZrString shared = a;
    EXPECT_EQ(a.c_str(), shared.c_str());
    char16_t* buffer = a.GetBuffer(10);
    EXPECT_EQ(shared, u"abc"); // writing made the block unique
    EXPECT_EQ(a.Header()->RefCount, ZrStringWritingRefs);
    // A copy taken while the owner writes is a real copy, never a share of the buffer.
    ZrString during = a;
    EXPECT_NE(during.c_str(), a.c_str());
    buffer[3] = u'd';
    buffer[4] = 0;
    a.ReleaseBuffer();
    EXPECT_EQ(a.Header()->RefCount, 1u);
    EXPECT_EQ(a, u"abcd");
    a.Append(a.View()); // appending itself
    a.Append(a.c_str() + 1, 2);
    EXPECT_EQ(a, u"abcdabcdbc");
}

TEST(ZrString, ReferenceCountingIsThreadSafe) {
    const ZrString shared(u"shared text that many threads copy");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&shared] {
            for (int i = 0; i < 20000; ++i) {
                ZrString copy = shared;
                if (i % 100 == 0)
                    copy += u"!";
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(shared.Header()->RefCount, 1u);
}

TEST(ZrString, Utf8BothWaysAndBadBytesKeptByteExact) {
    const std::u16string text = u"a\u00E9\u20AC\U0001F3B5z";
    EXPECT_EQ(ZrUtf16ToUtf8(text), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5z");
    EXPECT_EQ(ZrString::FromUtf8(ZrUtf16ToUtf8(text)), text);
    EXPECT_TRUE(ZrIsValidUtf8(ZrUtf16ToUtf8(text)));
    // Unpaired surrogates that stand for no byte.
    EXPECT_EQ(ZrUtf16ToUtf8(u"\xD800x\xDC7F"), "\xEF\xBF\xBDx\xEF\xBF\xBD");
    // Truncated, overlong, an encoded surrogate, beyond U+10FFFF, an invalid lead, Latin-1:
    // each byte becomes U+DC00 + byte and goes back to itself.
    for (const char* bad :
         {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF", "caf\xE9 \xE9t\xE9"}) {
        const std::string bytes = std::string(bad) + "A";
        const std::u16string wide = ZrUtf8ToUtf16(bytes);
        EXPECT_EQ(ZrUtf16ToUtf8(wide), bytes) << bad;
        EXPECT_EQ(ZrString::FromUtf8(bytes).ToUtf8(), bytes) << bad;
        EXPECT_FALSE(ZrIsValidUtf8(bytes)) << bad;
        EXPECT_EQ(wide.back(), u'A');
    }
    EXPECT_EQ(ZrUtf8ToUtf16("\xC3\x41"), u"\xDCC3\x41"); // U+DC00 + the byte, then "A"
    EXPECT_EQ(ZrUtf8ToUtf16("\xED\xA0\x80", true), u"\xD800");
    EXPECT_EQ(ZrUtf8ToUtf16("\xC3\x41\xC0\xAF\xFF", true), u"\uFFFDA\uFFFD\uFFFD");
    EXPECT_EQ(ZrEscapeInvalidUtf8("caf\xE9 \xC3\xA9"), "caf\\xE9 \xC3\xA9");
}

TEST(ZrString, CaseInsensitiveHelpers) {
    EXPECT_TRUE(ZrString(u"Version").EqualsNoCase(u"vERSION"));
    EXPECT_FALSE(ZrString(u"Version").EqualsNoCase(u"Versions"));
    EXPECT_LT(ZrString(u"abc").CompareNoCase(u"ABD"), 0);
    EXPECT_EQ(ZrString(u"a.FLAC").FindNoCase(u".flac"), 1);
    ZrString r = ZrString(u"  one two one  ").Trimmed();
    EXPECT_EQ(r.Replace(u"one", u"1"), 2u);
    EXPECT_EQ(r, u"1 two 1");
    EXPECT_EQ(ZrString::Format("%s=%d", "k\xC3\xA9", 42), u"k\u00E9=42");
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

TEST(SysString, LayoutIsLengthPrefixedAndTerminated) {
    ZrSysString s = SysAllocStringLen(u"a\0b", 3);
    ASSERT_NE(s, nullptr);
    uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<unsigned char*>(s) - 4, 4);
    EXPECT_EQ(bytes, 6u);
    EXPECT_EQ(SysStringLen(s), 3u);
    EXPECT_EQ(s[3], u'\0');
    SysFreeString(s);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
}

} // namespace
