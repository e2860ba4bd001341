// The DSD encoder and its DSF files: rates, block layout, headers, channel types, and what a
// user can get wrong (settings, formats, destinations, a full disk).
#include "DsdTestSupport.h"
#include "codecs/dsd/DSDEncoderPlugin.h"
#include "support/TestSupport.h"

#include <cmath>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

using namespace dsdtest;
using zrtest::PcmFormat;
using zrtest::ReadFile;
using zrtest::TempDir;
using zrtest::U;

constexpr uint32_t BlockBytes = 4096;

// An encoder started on `path`, or null when the start failed.
std::unique_ptr<CDSDEncoderPlugin> Start(const fs::path& path, const WAVEFORMATEX& format,
                                         const char16_t* settings, int64_t expected = 0) {
    auto encoder = std::make_unique<CDSDEncoderPlugin>(nullptr);
    if (settings)
        encoder->SetProperty(u"Settings", settings);
    encoder->SetProperty(u"Add Output Extension", u"0");
    encoder->SetProperty(u"Destination Filename", U(path).c_str());
    if (!encoder->StartBufferBased(&format, expected))
        return nullptr;
    return encoder;
}

struct LayoutCase {
    const char* Name;
    uint32_t InputRate;
    size_t Frames;
    uint64_t BytesPerChannel; // what the converter delivers at R = 8
};

class DsfLayout : public testing::TestWithParam<LayoutCase> {};

// Blocks of 4096 bytes per channel, the last zero-padded; the final header holds the real
// sizes. 352.8 kHz input passes the converter unchanged, so the byte counts are exact.
TEST_P(DsfLayout, BlocksPaddingAndFinalHeader) {
    const LayoutCase c = GetParam();
    TempDir dir;
    const fs::path path = dir / "out.dsf";
    const auto format = PcmFormat(2, c.InputRate, 16);
    ASSERT_TRUE(EncodeDsf(path, format, Sine(2, c.InputRate, 16, false, c.Frames, 1000, 0.5)));
    const auto file = ReadFile(path);
    const uint64_t blocks = (c.BytesPerChannel + BlockBytes - 1) / BlockBytes;
    const DsfInfo info = ReadDsfHeader(file);
    EXPECT_EQ(92 + blocks * 2 * BlockBytes, file.size());
    EXPECT_EQ(file.size(), info.FileSize);
    EXPECT_EQ(12 + blocks * 2 * BlockBytes, info.DataSize);
    EXPECT_EQ(c.BytesPerChannel * 8, info.SampleCount);
    EXPECT_EQ(2u, info.ChannelType);
    EXPECT_EQ(2822400u, info.SampleRate);
    EXPECT_EQ(BlockBytes, info.BlockSize);
    // Both channels' slots of the last block end in zeros after the last real byte.
    const size_t used = c.BytesPerChannel - (blocks - 1) * BlockBytes;
    for (size_t slot = 0; blocks > 0 && slot < 2; ++slot) {
        const uint8_t* p = &file[92 + ((blocks - 1) * 2 + slot) * BlockBytes];
        for (size_t j = used; j < BlockBytes; ++j)
            ASSERT_EQ(0, p[j]) << "slot " << slot << " byte " << j;
    }
}

INSTANTIATE_TEST_SUITE_P(Dsd, DsfLayout,
                         testing::Values(LayoutCase{"OneSecondIn87Blocks", 352800, 352800, 352800},
                                         LayoutCase{"OneSecondFrom44k", 44100, 44100, 352800},
                                         LayoutCase{"Empty", 352800, 0, 0},
                                         LayoutCase{"OneFrame", 352800, 1, 1},
                                         LayoutCase{"BlockMinusOne", 352800, 4095, 4095},
                                         LayoutCase{"ExactlyOneBlock", 352800, 4096, 4096},
                                         LayoutCase{"BlockPlusOne", 352800, 4097, 4097}),
                         [](const testing::TestParamInfo<LayoutCase>& info) {
                             return info.param.Name;
                         });

struct HeaderCase {
    uint16_t Channels;
    int64_t Expected;
    uint32_t ChannelType;
    uint64_t SampleCount; // provisional
};

class DsfProvisionalHeader : public testing::TestWithParam<HeaderCase> {};

// What the file holds right after start: the channel type and the estimated sizes, or zeros
// for an unknown length.
TEST_P(DsfProvisionalHeader, ChannelTypeAndEstimate) {
    const HeaderCase c = GetParam();
    TempDir dir;
    const fs::path path = dir / "out.dsf";
    auto encoder = Start(path, PcmFormat(c.Channels, 44100, 16), u"SampleRate=2822400", c.Expected);
    ASSERT_TRUE(encoder);
    const auto file = ReadFile(path);
    ASSERT_EQ(92u, file.size());
    const DsfInfo info = ReadDsfHeader(file);
    const uint64_t data = c.Channels * c.SampleCount / 8;
    EXPECT_EQ(c.ChannelType, info.ChannelType);
    EXPECT_EQ(c.Channels, info.Channels);
    EXPECT_EQ(c.SampleCount, info.SampleCount);
    EXPECT_EQ(c.Expected > 0 ? data + 92 : 0, info.FileSize);
    EXPECT_EQ(c.Expected > 0 ? data + 12 : 0, info.DataSize);
}

INSTANTIATE_TEST_SUITE_P(Dsd, DsfProvisionalHeader,
                         testing::Values(HeaderCase{1, 88200, 1, 2822400}, // 1 s mono
                                         HeaderCase{2, 0, 2, 0},           // unknown length
                                         HeaderCase{2, -1, 2, 0},
                                         HeaderCase{2, 1000, 2, 16000}, // 250 frames
                                         HeaderCase{3, 0, 0, 0}, HeaderCase{4, 0, 5, 0},
                                         HeaderCase{5, 0, 6, 0}, HeaderCase{6, 0, 7, 0},
                                         HeaderCase{7, 0, 0, 0}, HeaderCase{8, 0, 0, 0}));

// A start that cannot go on leaves no file behind (even one that was there before) and no
// error text: the result is the only report.
TEST(DsdEncoder, FailedStartDeletesTheFile) {
    struct Case {
        const char* Name;
        const char16_t* Settings; // null: never set, so the rate reads as 0
        int32_t ForcedRate;       // put into the map after the settings, when not 0
        WAVEFORMATEX Format;
    };
    const Case cases[] = {
        {"no settings", nullptr, 0, PcmFormat(2, 44100, 16)},
        {"bad rate in the map", u"", 44100, PcmFormat(2, 44100, 16)},
        {"nine channels", u"", 0, PcmFormat(9, 44100, 16)},
        {"non-PCM tag", u"", 0, PcmFormat(2, 44100, 16, 146)},
        {"zero rate", u"", 0, PcmFormat(2, 0, 16)},
        {"64-bit integer", u"", 0, PcmFormat(2, 44100, 64)},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const fs::path path = dir / "old.dsf";
        zrtest::WriteFile(path, std::vector<uint8_t>(100, 1));
        CDSDEncoderPlugin encoder(nullptr);
        if (c.Settings)
            encoder.SetProperty(u"Settings", c.Settings);
        if (c.ForcedRate)
            encoder.SettingsMap().SetInt(u"SampleRate", c.ForcedRate);
        encoder.SetProperty(u"Add Output Extension", u"0");
        encoder.SetProperty(u"Destination Filename", U(path).c_str());
        EXPECT_FALSE(encoder.StartBufferBased(&c.Format, 0)) << c.Name;
        EXPECT_FALSE(fs::exists(path)) << c.Name;
        EXPECT_TRUE(encoder.GetLastError().IsEmpty()) << c.Name;
        uint8_t pcm[4] = {};
        EXPECT_FALSE(encoder.EncodeBuffer(pcm, 4)) << c.Name;
        EXPECT_FALSE(encoder.FinishBufferBased()) << c.Name;
    }
}

TEST(DsdEncoder, UnwritableDestinations) {
    TempDir dir;
    EXPECT_FALSE(Start(dir / "missing" / "out.dsf", PcmFormat(2, 44100, 16), u""));
    if (fs::exists("/dev/full")) {
        // The header cannot be written; the device is not ours to delete.
        EXPECT_FALSE(Start("/dev/full", PcmFormat(2, 44100, 16), u""));
        EXPECT_TRUE(fs::exists("/dev/full"));
    }
}

// A disk that fills up during the job: the block write comes back short, EncodeBuffer and
// then finish report it.
TEST(DsdEncoder, ShortBlockWriteFails) {
    TempDir dir;
    const fs::path path = dir / "full.dsf";
    auto encoder = Start(path, PcmFormat(2, 352800, 16), u"");
    ASSERT_TRUE(encoder);
    rlimit old{};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &old));
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 92 + 3 * 2 * BlockBytes + 100; // room for three blocks and a bit
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    auto pcm = Sine(2, 352800, 16, false, 8 * BlockBytes, 1000, 0.5);
    const bool encoded = encoder->EncodeBuffer(pcm.data(), pcm.size());
    const bool finished = encoder->FinishBufferBased();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(encoded);
    EXPECT_FALSE(finished);
}

TEST(DsdEncoder, NotStartedOrAlreadyFinished) {
    TempDir dir;
    CDSDEncoderPlugin idle(nullptr);
    uint8_t pcm[4] = {};
    EXPECT_FALSE(idle.EncodeBuffer(pcm, 4));
    EXPECT_FALSE(idle.FinishBufferBased());
    auto encoder = Start(dir / "out.dsf", PcmFormat(2, 44100, 16), u"");
    ASSERT_TRUE(encoder);
    EXPECT_TRUE(encoder->FinishBufferBased());
    EXPECT_FALSE(encoder->EncodeBuffer(pcm, 4));
    EXPECT_FALSE(encoder->FinishBufferBased());
}

// Destroyed without finish: the provisional header and the whole blocks written so far.
TEST(DsdEncoder, AbandonedJobKeepsWholeBlocks) {
    TempDir dir;
    const fs::path path = dir / "out.dsf";
    {
        auto encoder = Start(path, PcmFormat(2, 44100, 16), u"", 88200 * 4);
        ASSERT_TRUE(encoder);
        auto pcm = Sine(2, 44100, 16, false, 88200, 1000, 0.5);
        ASSERT_TRUE(encoder->EncodeBuffer(pcm.data(), pcm.size()));
    }
    const auto file = ReadFile(path);
    EXPECT_GT(file.size(), 92u);
    EXPECT_EQ(0u, (file.size() - 92) % (2 * BlockBytes));
    EXPECT_EQ(2u * 2822400, ReadDsfHeader(file).SampleCount);
}

// Each channel keeps its own signal through the blocks: channel c carries a tone of its own
// frequency, measured in ffmpeg's decoding. The host's buffers end inside frames (12345 bytes),
// and the name is an odd one.
TEST(DsdEncoder, ChannelsKeepTheirOwnSignal) {
    if (!zrtest::HaveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg is not installed";
    for (uint16_t channels : {1, 2, 6}) {
        TempDir dir;
        const fs::path path = dir / "a 'b' \"c\" $d é.dsf";
        const size_t frames = 44100 / 2;
        std::vector<uint8_t> pcm;
        const auto tones = [&](size_t i, uint16_t c) {
            return 0.5 * std::sin(2 * M_PI * 500.0 * (c + 1) * static_cast<double>(i) / 44100);
        };
        for (size_t i = 0; i < frames; ++i)
            for (uint16_t c = 0; c < channels; ++c) {
                const auto v = static_cast<int32_t>(std::lrint(tones(i, c) * 8388607));
                for (int b = 0; b < 3; ++b)
                    pcm.push_back(static_cast<uint8_t>(v >> (8 * b)));
            }
        ASSERT_TRUE(EncodeDsf(path, PcmFormat(channels, 44100, 24), pcm, {2822400, 12345}));
        const auto decoded = DecodeTo44k(path);
        ASSERT_GE(decoded.size() / channels + 64, frames);
        for (uint16_t c = 0; c < channels; ++c) {
            const ToneFit fit = FitTone(decoded, channels, c, 44100, 500.0 * (c + 1), 4410);
            EXPECT_NEAR(0.25, fit.Amplitude, 0.0025) << channels << " channels, channel " << c;
            EXPECT_GT(fit.SinadDb, 100) << channels << " channels, channel " << c;
        }
    }
}

} // namespace
