#include "frame/TestEncoders.h"
#include "support/TestSupport.h"
#include "tessary/ZrTools.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <new>
#include <stdexcept>

namespace {

using zrtest::Le16;
using zrtest::Le32;

TEST(EncoderBase, PropertyNamesMatchWithoutCase) {
    FiveKeyTestEncoder e;
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        {u"vErSiOn", u"5"},          {u"EXTENSION", u"fk"},
        {u"auto config for", u"-1"}, {u"Supported Bitdepths", u""},
        {u"No Such Property", u""},  {u"", u""},
        {u"Version ", u""}, // no trimming
    };
    for (const auto& [name, value] : cases)
        EXPECT_EQ(e.Property(name), value) << ZrString(name).ToUtf8();
    FileTestEncoder f;
    EXPECT_EQ(f.Property(u"Supported Bitdepths"), u"16;24");

    // Every result is a new system string, also when empty.
    ZrSysString a = e.GetProperty(u"Nothing");
    ZrSysString b = e.GetProperty(nullptr);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    SysFreeString(a);
    SysFreeString(b);
}

TEST(EncoderBase, SetPropertyEffects) {
    FiveKeyTestEncoder e;
    EXPECT_TRUE(e.SetProperty(u"auto config for", u" 3"));
    EXPECT_EQ(e.Property(u"Auto Config For"), u"3");
    EXPECT_TRUE(e.SetProperty(u"Auto Config", u"7"));
    EXPECT_EQ(e.Property(u"Auto Config"), u"1");
    EXPECT_TRUE(e.SetProperty(u"Auto Config", u"no"));
    EXPECT_EQ(e.Property(u"Auto Config"), u"0");

    // Unknown names and read-only properties change nothing and say so.
    e.SetProperty(u"Settings", u"Quality=3");
    for (const char16_t* name : {u"Version", u"Display Name", u"Last Error", u"Bogus", u""})
        EXPECT_FALSE(e.SetProperty(name, u"x")) << ZrString(name).ToUtf8();
    EXPECT_FALSE(e.SetProperty(nullptr, nullptr));
    EXPECT_EQ(e.Property(u"Settings"), u"Quality=3|Verify=0|Ogg=0|AddPB=1|AddST=1");
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
        {u"1", false, u"", u"/out/song.fk"},
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

TEST(EncoderBase, StartTakesTheFormatAndClearsTheLastError) {
    FiveKeyTestEncoder e;
    e.SetError(u"old failure");
    EXPECT_FALSE(e.Start(nullptr, 0));
    EXPECT_EQ(e.Property(u"Last Error"), u""); // cleared even when the start fails

    const WAVEFORMATEX f = zrtest::PcmFormat(6, 96000, 24);
    EXPECT_TRUE(e.Start(&f, 1000));
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
        EXPECT_EQ(log.Lines(),
                  std::vector<std::string>{std::string("Throwing::FinishBufferBased: ERROR - ") +
                                           c.Error});
    }
}

} // namespace
