#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <new>
#include <stdexcept>

#include "frame/TestEncoders.h"
#include "support/TestSupport.h"
#include "tessary/ZrTools.h"

namespace {

using zrtest::Le16;
using zrtest::Le32;

TEST(EncoderBase, PropertyNamesMatchWithoutCase) {
    FiveKeyTestEncoder e;
    struct Case {
        const char16_t* name;
        const char16_t* value;
    } cases[] = {
        {u"Version", u"5"},
        {u"vErSiOn", u"5"},
        {u"Display Name", u"Five Key Encoder"},
        {u"EXTENSION", u"fk"},
        {u"Estimated Bitrate", u"900"},
        {u"Streaming", u"0"},
        {u"Any Format File Input", u"0"},
        {u"WAV File Input", u"0"},
        {u"Buffer Input", u"1"},
        {u"Last Error", u""},
        {u"Configurable", u"1"},
        {u"Uncompressed WAV Output", u"0"},
        {u"Auto Config", u"0"},
        {u"Auto Config For", u"-1"},
        {u"Supported Bitdepths", u""},
        {u"Source Filename", u""},
        {u"No Such Property", u""},
        {u"", u""},
        {u"Version ", u""}, // no trimming
    };
    for (const auto& c : cases)
        EXPECT_EQ(e.Property(c.name), c.value) << ZrString(c.name).ToUtf8();

    FileTestEncoder f;
    EXPECT_EQ(f.Property(u"Supported Bitdepths"), u"16;24");
    EXPECT_EQ(f.Property(u"Buffer Input"), u"0");
    EXPECT_EQ(f.Property(u"WAV File Input"), u"1");
}

TEST(EncoderBase, EveryPropertyIsANewSystemString) {
    FiveKeyTestEncoder e;
    ZrSysString a = e.GetProperty(u"Nothing");
    ZrSysString b = e.GetProperty(u"Nothing");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(SysStringLen(a), 0u);
    SysFreeString(a);
    SysFreeString(b);
    EXPECT_EQ(ZrTakeSysString(e.GetProperty(nullptr)), u"");
}

TEST(EncoderBase, SetPropertyEffects) {
    FiveKeyTestEncoder e;
    EXPECT_TRUE(e.SetProperty(u"auto config for", u" 3"));
    EXPECT_EQ(e.Property(u"Auto Config For"), u"3");
    EXPECT_TRUE(e.SetProperty(u"Auto Config", u"7"));
    EXPECT_EQ(e.Property(u"Auto Config"), u"1");
    EXPECT_TRUE(e.SetProperty(u"Auto Config", u"no"));
    EXPECT_EQ(e.Property(u"Auto Config"), u"0");
    EXPECT_TRUE(e.SetProperty(u"Source Filename", u"/music/in.wav"));
    EXPECT_EQ(e.Property(u"source filename"), u"/music/in.wav");

    // Unknown names and read-only properties change nothing and say so.
    const ZrString before = e.Property(u"Settings");
    for (const char16_t* name : {u"Version", u"Display Name", u"Last Error", u"Bogus", u""})
        EXPECT_FALSE(e.SetProperty(name, u"x")) << ZrString(name).ToUtf8();
    EXPECT_FALSE(e.SetProperty(nullptr, nullptr));
    EXPECT_EQ(e.Property(u"Settings"), before);
    EXPECT_EQ(e.Property(u"Version"), u"5");
}

TEST(EncoderBase, DestinationExtensionRule) {
    struct Case {
        const char16_t* addExtension; // null: leave the default
        bool setFlagAfterDestination;
        const char16_t* expected;
    } cases[] = {
        {nullptr, false, u"/out/song.fk"},
        {u"0", false, u"/out/song"},
        {u"1", false, u"/out/song.fk"},
        {u"0", true, u"/out/song.fk"}, // the flag set afterwards does not touch the name
    };
    for (const auto& c : cases) {
        FiveKeyTestEncoder e;
        if (c.addExtension && !c.setFlagAfterDestination)
            e.SetProperty(u"Add Output Extension", c.addExtension);
        e.SetProperty(u"Destination Filename", u"/out/song");
        if (c.addExtension && c.setFlagAfterDestination)
            e.SetProperty(u"Add Output Extension", c.addExtension);
        EXPECT_EQ(e.Property(u"Destination Filename"), c.expected);
    }
    // The extension follows the settings at the moment the name is set.
    FiveKeyTestEncoder ogg;
    ogg.SetProperty(u"Settings", u"Ogg=1");
    ogg.SetProperty(u"Destination Filename", u"a");
    EXPECT_EQ(ogg.Property(u"Destination Filename"), u"a.ogg");
}

TEST(EncoderBase, StartTakesTheFormatAndClearsTheLastError) {
    FiveKeyTestEncoder e;
    e.SetError(u"old failure");
    EXPECT_FALSE(e.Start(nullptr, 0));
    EXPECT_EQ(e.Property(u"Last Error"), u""); // cleared even when the start fails

    const WAVEFORMATEX f = zrtest::PcmFormat(6, 96000, 24);
    e.SetError(u"old failure");
    EXPECT_TRUE(e.Start(&f, 1000));
    EXPECT_EQ(e.Property(u"Last Error"), u"");
    EXPECT_EQ(e.InputFormat().Channels, 6);
    EXPECT_EQ(e.InputFormat().SamplesPerSec, 96000u);

    FileTestEncoder fileOnly;
    EXPECT_FALSE(fileOnly.StartBufferBased(&f, 0));
}

TEST(EncoderBase, StreamingWavHeaderGoesThroughEncodeBuffer) {
    FiveKeyTestEncoder e;
    const WAVEFORMATEX f = zrtest::PcmFormat(2, 48000, 24, WAVE_FORMAT_IEEE_FLOAT);
    ASSERT_TRUE(e.Start(&f, 0));
    ASSERT_TRUE(e.SendStreamingHeader());
    const auto& h = e.Received;
    ASSERT_EQ(h.size(), 44u);
    EXPECT_EQ(std::memcmp(h.data(), "RIFF", 4), 0);
    EXPECT_EQ(Le32(&h[4]), 0x80000023u);
    EXPECT_EQ(std::memcmp(&h[8], "WAVEfmt ", 8), 0);
    EXPECT_EQ(Le32(&h[16]), 16u);
    EXPECT_EQ(Le16(&h[20]), 1); // always integer PCM, whatever the source
    EXPECT_EQ(Le16(&h[22]), 2);
    EXPECT_EQ(Le32(&h[24]), 48000u);
    EXPECT_EQ(Le32(&h[28]), 288000u);
    EXPECT_EQ(Le16(&h[32]), 6);
    EXPECT_EQ(Le16(&h[34]), 24);
    EXPECT_EQ(std::memcmp(&h[36], "data", 4), 0);
    EXPECT_EQ(Le32(&h[40]), 0x7FFFFFFFu);
}

TEST(EncoderBase, SettingsSequenceRunsSaveThenPairsThenLoad) {
    FiveKeyTestEncoder e;
    // Never set: the map is empty and reads give the values-when-absent.
    EXPECT_EQ(e.Property(u"Settings"), u"");
    EXPECT_EQ(FiveKeyTestEncoder::Quality.Get(e.SettingsMap()), 0);
    e.SetProperty(u"Settings", u"AddPB=0");
    EXPECT_EQ(FiveKeyTestEncoder::Quality.Get(e.SettingsMap()), 6);
    EXPECT_EQ(FiveKeyTestEncoder::AddPB.Get(e.SettingsMap()), 0);
    // A new text starts again from the defaults: earlier pairs do not linger.
    e.SetProperty(u"Settings", u"Verify=1");
    EXPECT_EQ(FiveKeyTestEncoder::AddPB.Get(e.SettingsMap()), 1);
    EXPECT_EQ(FiveKeyTestEncoder::Verify.Get(e.SettingsMap()), 1);
}

// A slot whose body throws fails with a readable reason and one log line; nothing escapes.
TEST(EncoderBase, GuardedSlotTurnsAnExceptionIntoAFailure) {
    struct Logger final : IZrLogger {
        bool IsEnabled(uint32_t) override { return true; }
        void Write(uint32_t, const char16_t* scope, const char16_t* text) override {
            Lines.push_back(ZrString(scope).ToUtf8() + ": " + ZrString(text).ToUtf8());
        }
        std::vector<std::string> Lines;
    };
    static Logger logger;
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
    ZrSetLoggerProvider([]() -> IZrLogger* { return &logger; });
    for (const auto& c : cases) {
        logger.Lines.clear();
        Throwing e;
        e.Throw = c.Throw;
        EXPECT_FALSE(e.FinishBufferBased());
        EXPECT_EQ(e.Property(u"Last Error").ToUtf8(), c.Error);
        EXPECT_EQ(logger.Lines,
                  std::vector<std::string>{std::string("Throwing::FinishBufferBased: ERROR - ") +
                                           c.Error});
    }
    ZrSetLoggerProvider(nullptr);
}

} // namespace
