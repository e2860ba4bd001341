// The DSD encoder and its DSF files: block layout and headers, what a user can get wrong
// (settings, formats, destinations, a full disk), and the sound as ffmpeg decodes it.
#include "codecs/dsd/DSDEncoderPlugin.h"
#include "support/TestSupport.h"

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

namespace fs = std::filesystem;
using zrtest::ExtensibleFormat, zrtest::Le32, zrtest::Le64, zrtest::PcmFormat, zrtest::ReadFile,
    zrtest::Signal, zrtest::TempDir;

constexpr uint32_t BlockBytes = 4096;

// Encodes `pcm` through the DSD encoder, `bufferBytes` per EncodeBuffer call.
bool EncodeDsf(const fs::path& path, const WAVEFORMATEX& format, const std::vector<uint8_t>& pcm,
               int32_t dsdRate = 2822400, size_t bufferBytes = 16384) {
    CDSDEncoderPlugin encoder(nullptr);
    return zrtest::Encode(
               encoder, path,
               {&format, pcm, bufferBytes, std::nullopt, "SampleRate=" + std::to_string(dsdRate)})
        .Ok();
}

// ffmpeg's decoding of a DSF file, brought to 44.1 kHz through a sharp 20 kHz low-pass (soxr,
// 28 bits); interleaved doubles, full scale 1.0.
std::vector<double> DecodeTo44k(const fs::path& path) {
    const std::vector<uint8_t> bytes = zrtest::DecodeWithFfmpeg(
        path, "f64le", {}, {"-af", "aresample=44100:resampler=soxr:precision=28:cutoff=0.907"});
    std::vector<double> samples(bytes.size() / 8);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 8);
    return samples;
}

struct ToneFit {
    double Amplitude = 0;
    double SinadDb = 0; // tone power against everything else but DC
    double RmsDb = 0;   // all of the channel, in dB re 1.0
};
// Fit of the tone of channel `c` of zrtest::Signal::Tone (440 + 110 c Hz) at 44.1 kHz, from
// `skip` frames on, where the filters of the encoder and the decoder have settled. Over whole
// tenths of a second each tone has whole periods, so cos, sin and DC are orthogonal.
ToneFit FitTone(const std::vector<double>& samples, uint32_t channels, uint32_t c, size_t skip) {
    const size_t n = (samples.size() / channels - 2 * skip) / 4410 * 4410;
    if (samples.size() / channels < 2 * skip + 4410) {
        ADD_FAILURE() << "too few frames to measure: " << samples.size() / channels;
        return {};
    }
    const double w = 2 * M_PI * (440.0 + 110.0 * c) / 44100;
    double a = 0, b = 0, dc = 0, residual = 0, power = 0;
    for (size_t i = skip; i < skip + n; ++i) {
        a += samples[i * channels + c] * std::cos(w * i) * 2 / n;
        b += samples[i * channels + c] * std::sin(w * i) * 2 / n;
        dc += samples[i * channels + c] / n;
    }
    for (size_t i = skip; i < skip + n; ++i) {
        const double x = samples[i * channels + c];
        residual += std::pow(x - a * std::cos(w * i) - b * std::sin(w * i) - dc, 2);
        power += x * x;
    }
    return {std::hypot(a, b), 10 * std::log10((a * a + b * b) / 2 / residual * n),
            10 * std::log10(power / n)};
}

// An encoder started on `path`, or null when the start failed.
std::unique_ptr<CDSDEncoderPlugin> Start(const fs::path& path, const WAVEFORMATEX& format,
                                         int64_t expected = 0) {
    auto encoder = std::make_unique<CDSDEncoderPlugin>(nullptr);
    encoder->SetProperty(u"Settings", u"SampleRate=2822400");
    encoder->SetProperty(u"Add Output Extension", u"0");
    encoder->SetProperty(u"Destination Filename", zrtest::U(path).c_str());
    if (!encoder->StartBufferBased(&format, expected))
        return nullptr;
    return encoder;
}

struct DsfHeader {
    uint64_t FileSize = 0, SampleCount = 0, DataSize = 0;
    uint32_t ChannelType = 0, Channels = 0, SampleRate = 0, BlockSize = 0;
};
DsfHeader ReadHeader(const std::vector<uint8_t>& f) { // the chunk names: ffmpeg checks them
    if (f.size() < 92) {
        ADD_FAILURE() << "no DSF header in " << f.size() << " bytes";
        return {};
    }
    return {Le64(&f[12]), Le64(&f[64]), Le64(&f[84]), Le32(&f[48]),
            Le32(&f[52]), Le32(&f[56]), Le32(&f[72])};
}

// Blocks of 4096 bytes per channel, the last zero-padded; the final header holds the real
// sizes. 352.8 kHz input passes the converter unchanged, so the byte counts are exact.
TEST(DsfFile, BlocksPaddingAndFinalHeader) {
    struct Case {
        uint32_t InputRate;
        size_t Frames;
        uint64_t BytesPerChannel; // what the converter delivers at R = 8
    };
    for (const Case c : {Case{352800, 352800, 352800}, Case{44100, 44100, 352800},
                         Case{352800, 0, 0}, Case{352800, 1, 1}, Case{352800, 4095, 4095},
                         Case{352800, 4096, 4096}, Case{352800, 4097, 4097}}) {
        SCOPED_TRACE(std::to_string(c.Frames) + " frames at " + std::to_string(c.InputRate));
        TempDir dir;
        const fs::path path = dir / "out.dsf";
        ASSERT_TRUE(EncodeDsf(path, PcmFormat(2, c.InputRate, 16),
                              zrtest::MakePcm(Signal::Tone, 2, c.InputRate, 16, c.Frames)));
        const auto file = ReadFile(path);
        const uint64_t blocks = (c.BytesPerChannel + BlockBytes - 1) / BlockBytes;
        const DsfHeader h = ReadHeader(file);
        EXPECT_EQ(92 + blocks * 2 * BlockBytes, file.size());
        EXPECT_EQ(file.size(), h.FileSize);
        EXPECT_EQ(12 + blocks * 2 * BlockBytes, h.DataSize);
        EXPECT_EQ(c.BytesPerChannel * 8, h.SampleCount);
        EXPECT_EQ(2u, h.ChannelType);
        EXPECT_EQ(2822400u, h.SampleRate);
        EXPECT_EQ(BlockBytes, h.BlockSize);
        // Both channels' slots of the last block end in zeros after the last real byte.
        const size_t used = c.BytesPerChannel - (blocks - 1) * BlockBytes;
        for (size_t slot = 0; blocks > 0 && slot < 2; ++slot) {
            const uint8_t* p = &file[92 + ((blocks - 1) * 2 + slot) * BlockBytes];
            for (size_t j = used; j < BlockBytes; ++j)
                ASSERT_EQ(0, p[j]) << "slot " << slot << " byte " << j;
        }
    }
}

// What the file holds right after start: the channel type and the estimated sizes, or zeros
// for an unknown length. Destroyed without finish, it keeps that header and the whole blocks.
TEST(DsfFile, ProvisionalHeaderAndAbandonedJob) {
    struct Case {
        uint16_t Channels;
        int64_t Expected;
        uint32_t ChannelType;
        uint64_t SampleCount;
    };
    // 88200 bytes: 1 s of mono; 1000 bytes: 250 stereo frames; 0 and -1: unknown.
    for (const Case c :
         {Case{1, 88200, 1, 2822400}, Case{2, 0, 2, 0}, Case{2, -1, 2, 0}, Case{2, 1000, 2, 16000},
          Case{3, 0, 3, 0}, Case{4, 0, 5, 0}, Case{5, 0, 6, 0}, Case{6, 0, 7, 0}}) {
        SCOPED_TRACE(std::to_string(c.Channels) + " channels, " + std::to_string(c.Expected));
        TempDir dir;
        auto encoder = Start(dir / "out.dsf", PcmFormat(c.Channels, 44100, 16), c.Expected);
        ASSERT_TRUE(encoder);
        const auto file = ReadFile(dir / "out.dsf");
        ASSERT_EQ(92u, file.size());
        const DsfHeader h = ReadHeader(file);
        const uint64_t data = c.Channels * c.SampleCount / 8;
        EXPECT_EQ(c.ChannelType, h.ChannelType);
        EXPECT_EQ(c.Channels, h.Channels);
        EXPECT_EQ(c.SampleCount, h.SampleCount);
        EXPECT_EQ(c.Expected > 0 ? data + 92 : 0, h.FileSize);
        EXPECT_EQ(c.Expected > 0 ? data + 12 : 0, h.DataSize);
        auto pcm = zrtest::MakePcm(Signal::Tone, c.Channels, 44100, 16, 22050);
        ASSERT_TRUE(encoder->EncodeBuffer(pcm.data(), pcm.size()));
        encoder.reset();
        const auto after = ReadFile(dir / "out.dsf");
        EXPECT_GT(after.size(), 92u);
        EXPECT_EQ(0u, (after.size() - 92) % (c.Channels * BlockBytes));
        EXPECT_EQ(file, std::vector<uint8_t>(after.begin(), after.begin() + 92));
    }
}

// A start that cannot go on leaves no file behind (even one that was there before); only a
// layout the format cannot hold has a reason. A host that carries on anyway is refused.
TEST(DsdEncoder, FailedStartDeletesTheFile) {
    struct Case {
        const char* Name;
        const char16_t* Settings; // null: never set, so the rate reads as 0
        int32_t ForcedRate;       // put into the map after the settings, when not 0
        WAVEFORMATEXTENSIBLE Format;
        const char* Reason = "";
    };
    auto plain = [](const WAVEFORMATEX& format) { return WAVEFORMATEXTENSIBLE{format, {}, 0, {}}; };
    const Case cases[] = {
        {"no settings", nullptr, 0, plain(PcmFormat(2, 44100, 16))},
        {"bad rate in the map", u"", 44100, plain(PcmFormat(2, 44100, 16))},
        {"seven channels", u"", 0, plain(PcmFormat(7, 44100, 16)),
         "DSF files hold 1 to 6 channels; this input has 7"},
        {"nine channels", u"", 0, plain(PcmFormat(9, 44100, 16)),
         "DSF files hold 1 to 6 channels; this input has 9"},
        {"5.1 (side)", u"", 0, ExtensibleFormat(6, 44100, 16, 16, 0x60F, KSDATAFORMAT_SUBTYPE_PCM),
         "DSF has no layout for these 6 speakers (mask 0x60F)"},
        {"non-PCM tag", u"", 0, plain(PcmFormat(2, 44100, 16, 146))},
        {"zero rate", u"", 0, plain(PcmFormat(2, 0, 16))},
        {"64-bit integer", u"", 0, plain(PcmFormat(2, 44100, 64))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir dir;
        const fs::path path = dir / "old.dsf";
        zrtest::WriteFile(path, std::vector<uint8_t>(100, 1));
        CDSDEncoderPlugin encoder(nullptr);
        if (c.Settings)
            encoder.SetProperty(u"Settings", c.Settings);
        if (c.ForcedRate)
            encoder.SettingsMap().SetInt(u"SampleRate", c.ForcedRate);
        encoder.SetProperty(u"Add Output Extension", u"0");
        encoder.SetProperty(u"Destination Filename", zrtest::U(path).c_str());
        EXPECT_FALSE(encoder.StartBufferBased(&c.Format.Format, 0));
        EXPECT_FALSE(fs::exists(path));
        EXPECT_EQ(encoder.GetLastError().ToUtf8().substr(0, std::strlen(c.Reason)), c.Reason);
        uint8_t pcm[4] = {};
        EXPECT_FALSE(encoder.EncodeBuffer(pcm, 4));
        EXPECT_FALSE(encoder.FinishBufferBased());
    }
    TempDir dir;
    EXPECT_FALSE(Start(dir / "missing" / "out.dsf", PcmFormat(2, 44100, 16)));
    if (fs::exists("/dev/full")) {
        // The header cannot be written; the device is not ours to delete.
        EXPECT_FALSE(Start("/dev/full", PcmFormat(2, 44100, 16)));
        EXPECT_TRUE(fs::exists("/dev/full"));
    }
}

// A disk that fills up during the job: the block write comes back short, EncodeBuffer and
// then finish report it.
TEST(DsdEncoder, ShortBlockWriteFails) {
    TempDir dir;
    auto encoder = Start(dir / "full.dsf", PcmFormat(2, 352800, 16));
    ASSERT_TRUE(encoder);
    rlimit old{};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &old));
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 92 + 3 * 2 * BlockBytes + 100; // room for three blocks and a bit
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    auto pcm = zrtest::MakePcm(Signal::Tone, 2, 352800, 16, 8 * BlockBytes);
    const bool encoded = encoder->EncodeBuffer(pcm.data(), pcm.size());
    const bool finished = encoder->FinishBufferBased();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(encoded);
    EXPECT_FALSE(finished);
}

// The sound as ffmpeg decodes it: a tone at -6 dBFS comes back clean in every channel, each
// channel keeping its own, and silence keeps the in-band noise low. Long enough for the noise
// to be measured to a fraction of a dB; ZR_EXHAUSTIVE=1 measures 10 seconds. The host's buffers
// may end inside frames (12345 bytes), and the name is an odd one.
TEST(DsdQuality, SinadAndNoiseFloor) {
    if (!zrtest::HaveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg is not installed";
    struct Case {
        int32_t DsdRate;
        uint16_t Channels, Bits; // 32: float
        Signal Input;
        size_t Buffer;
        double Limit; // SINAD at least, or the noise floor at most, in dB
    };
    const double seconds = zrtest::Exhaustive() ? 10.0 : 2.0;
    const size_t frames = static_cast<size_t>(seconds * 44100), settle = 11025;
    for (const Case c : {Case{2822400, 1, 32, Signal::Tone, 65536, 110.0},
                         Case{5644800, 1, 32, Signal::Tone, 65536, 130.0},
                         Case{2822400, 2, 24, Signal::Silence, 65536, -115.0},
                         Case{2822400, 2, 24, Signal::Tone, 12345, 110.0},
                         Case{2822400, 6, 24, Signal::Tone, 12345, 110.0}}) {
        const bool tone = c.Input == Signal::Tone, isFloat = c.Bits == 32;
        TempDir dir;
        const fs::path path = dir / "a 'b' \"c\" $d é.dsf";
        ASSERT_TRUE(
            EncodeDsf(path, PcmFormat(c.Channels, 44100, c.Bits, isFloat ? 3 : 1),
                      zrtest::MakePcm(c.Input, c.Channels, 44100, c.Bits, frames, 1, isFloat),
                      c.DsdRate, c.Buffer));
        const std::vector<double> decoded = DecodeTo44k(path);
        ASSERT_GE(decoded.size() / c.Channels + 64, frames); // the decoder may trim a few frames
        for (uint32_t ch = 0; ch < c.Channels; ++ch) {
            const ToneFit fit = FitTone(decoded, c.Channels, ch, settle);
            std::printf("[ DSD%d ] %u-bit %s, %.0f s, channel %u: SINAD %.1f dB, level %.1f dBFS\n",
                        c.DsdRate / 44100, c.Bits, tone ? "tone at -6 dBFS" : "silence", seconds,
                        ch, fit.SinadDb, fit.RmsDb);
            if (tone) {
                EXPECT_GE(fit.SinadDb, c.Limit) << "channel " << ch;
                // The engine's gain stage halves the level: -6 dBFS in, -12 dB of DSD full
                // scale out.
                EXPECT_NEAR(0.25, fit.Amplitude, 0.0025) << "channel " << ch;
            } else {
                EXPECT_LT(fit.RmsDb, c.Limit) << "channel " << ch;
            }
        }
    }
}

} // namespace
