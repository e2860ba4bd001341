#include "frame/TestEncoders.h"
#include "support/TestSupport.h"
#include "tessary/ZrTools.h"

#include <functional>
#include <new>
#include <stdexcept>

namespace {

TEST(EncoderBase, PropertiesByNameWithoutCase) {
    FiveKeyTestEncoder e;
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        {u"vErSiOn", u"5"},         {u"EXTENSION", u"fk"}, {u"auto config for", u"-1"},
        {u"No Such Property", u""}, {u"Version ", u""}, // no trimming
    };
    for (const auto& [name, value] : cases)
        EXPECT_EQ(e.Property(name), value) << ZrString(name).ToUtf8();
    EXPECT_EQ(FileTestEncoder().Property(u"Supported Bitdepths"), u"16;24");
    // Every result is a new system string, also when empty: the host frees each.
    ZrSysString a = e.GetProperty(u"Nothing");
    ZrSysString b = e.GetProperty(nullptr);
    ASSERT_TRUE(a && b && a != b);
    SysFreeString(a);
    SysFreeString(b);

    EXPECT_TRUE(e.SetProperty(u"auto config for", u" 3"));
    EXPECT_EQ(e.Property(u"Auto Config For"), u"3");
    EXPECT_TRUE(e.SetProperty(u"Auto Config", u"7"));
    EXPECT_EQ(e.Property(u"Auto Config"), u"1");
    // Unknown names and read-only properties change nothing and say so.
    for (const char16_t* name : {u"Version", u"Display Name", u"Last Error", u"Bogus", u""})
        EXPECT_FALSE(e.SetProperty(name, u"x")) << ZrString(name).ToUtf8();
    EXPECT_FALSE(e.SetProperty(nullptr, nullptr));
}

TEST(EncoderBase, DestinationExtensionRule) {
    struct Case {
        const char16_t* addExtension; // null: leave the default
        bool setFlagAfterDestination;
        const char16_t* settings;
        const char16_t* expected;
    } cases[] = {
        {nullptr, false, u"", u"/out/song.fk"},
        {u"0", false, u"", u"/out/song"},
        {u"0", true, u"", u"/out/song.fk"}, // the flag set afterwards does not touch the name
        {nullptr, false, u"Ogg=1", u"/out/song.ogg"}, // the settings at that moment
    };
    for (const auto& c : cases) {
        FiveKeyTestEncoder e;
        e.SetProperty(u"Settings", c.settings);
        if (c.addExtension && !c.setFlagAfterDestination)
            e.SetProperty(u"Add Output Extension", c.addExtension);
        e.SetProperty(u"Destination Filename", u"/out/song");
        if (c.addExtension && c.setFlagAfterDestination)
            e.SetProperty(u"Add Output Extension", c.addExtension);
        EXPECT_EQ(e.Property(u"Destination Filename"), c.expected);
    }
}

TEST(EncoderBase, StartClearsTheLastErrorAndStreamsAWavHeader) {
    FiveKeyTestEncoder e;
    e.SetError(u"old failure");
    EXPECT_FALSE(e.Start(nullptr, 0));
    EXPECT_EQ(e.Property(u"Last Error"), u""); // cleared even when the start fails
    const WAVEFORMATEX f = zrtest::PcmFormat(2, 48000, 24, WAVE_FORMAT_IEEE_FLOAT);
    EXPECT_FALSE(FileTestEncoder().StartBufferBased(&f, 0));
    ASSERT_TRUE(e.Start(&f, 0));
    ASSERT_TRUE(e.SendStreamingHeader());
    // Always integer PCM whatever the source, with sizes no reader takes for real ones.
    std::vector<uint8_t> h = {'R', 'I', 'F', 'F'};
    zrtest::PutLe(h, 0x80000023u, 4);
    h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    for (const auto& [value, bytes] : std::vector<std::pair<uint32_t, int>>{
             {16, 4}, {1, 2}, {2, 2}, {48000, 4}, {288000, 4}, {6, 2}, {24, 2}})
        zrtest::PutLe(h, value, bytes);
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    zrtest::PutLe(h, 0x7FFFFFFFu, 4);
    EXPECT_EQ(e.Received, h);
}

// A slot whose body throws fails with a readable reason and one log line; nothing escapes.
TEST(EncoderBase, GuardedSlotTurnsAnExceptionIntoAFailure) {
    struct Throwing : FiveKeyTestEncoder {
        std::function<void()> Throw;
        bool FinishBufferBased() override {
            ZrTraceScope scope(u"Throwing::FinishBufferBased", ZrLogCategoryEncoder, false);
            return Guarded(scope, [&] {
                Throw();
                return true;
            });
        }
    };
    const struct {
        std::function<void()> Throw;
        const char* Error;
    } cases[] = {
        {[] { throw std::bad_alloc(); }, "out of memory"},
        {[] { throw std::runtime_error("disk on fire"); }, "internal error: disk on fire"},
        {[] { throw 42; }, "internal error: unknown exception"},
    };
    zrtest::LogCapture log;
    for (const auto& c : cases) {
        log.Clear();
        Throwing e;
        e.Throw = c.Throw;
        EXPECT_FALSE(e.FinishBufferBased());
        EXPECT_EQ(e.Property(u"Last Error").ToUtf8(), c.Error);
        EXPECT_EQ(log.Lines(), std::vector<std::string>{
                                   std::string("Throwing::FinishBufferBased: ERROR - ") + c.Error});
    }
}

} // namespace
