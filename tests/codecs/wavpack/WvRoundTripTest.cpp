// Header fields, hybrid mode with its correction file, and the levels. Round trips, the
// correction file's too: LosslessRoundTripTest.
#include "WvTestHelpers.h"

#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

using namespace zrtest;
using namespace wvtest;

// What a decoder's output does not show: the total in the first block header, whatever the host
// announced, and the channel mask (front centre for mono, front left and right for stereo, the
// first n speakers beyond).
TEST(WvHeader, TotalSamplesAndChannelMask) {
    struct Case {
        uint16_t Bits, Channels;
        int64_t Announced; // -2: the true size
    };
    for (const Case c : {Case{16, 1, -2}, Case{24, 2, 0}, Case{8, 6, -1}, Case{32, 8, 1 << 30},
                         Case{16, 2, 1000}}) {
        SCOPED_TRACE(std::to_string(c.Bits) + " bits " + std::to_string(c.Channels) + " ch " +
                     std::to_string(c.Announced));
        TempDir dir;
        const path wv = dir / "out.wv";
        const std::vector<uint8_t> pcm = MakePcm(Signal::Music, c.Channels, 44100, c.Bits, 5000);
        const EncodeResult outcome =
            Encode(wv, "", PcmFormat(c.Channels, 44100, c.Bits), pcm,
                   c.Announced == -2 ? static_cast<int64_t>(pcm.size()) : c.Announced);
        ASSERT_TRUE(outcome.Finished) << outcome.LastError;
        EXPECT_FALSE(fs::exists(dir / "out.wvc")) << "lossless never writes a correction file";
        EXPECT_EQ(HeaderTotalSamples(wv), 5000);
        const WvInfo info = Info(wv);
        EXPECT_EQ(info.Mask, c.Channels == 1 ? 4u : c.Channels == 2 ? 3u : (1u << c.Channels) - 1);
        EXPECT_EQ(info.Mode & 6u, 2u) << "lossless, not hybrid";
    }
}

// The file's block header carries the hybrid flag (bit 3) in the flags word at offset 24.
bool IsHybridFile(const path& wv) {
    const std::vector<uint8_t> data = ReadFile(wv);
    return data.size() >= 32 && (Le32(data.data() + 24) & 8u) != 0;
}

struct Difference {
    int64_t MaxAbs = 0;
    double SnrDb = 0;
};

Difference Compare(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, uint16_t bits) {
    const std::vector<int32_t> x = Samples(a, bits);
    const std::vector<int32_t> y = Samples(b, bits);
    Difference d;
    double signal = 0, noise = 0;
    for (size_t i = 0; i < std::min(x.size(), y.size()); ++i) {
        const int64_t e = int64_t{x[i]} - y[i];
        d.MaxAbs = std::max(d.MaxAbs, e < 0 ? -e : e);
        signal += double(x[i]) * x[i];
        noise += double(e) * double(e);
    }
    d.SnrDb = noise > 0 ? 10 * std::log10(signal / noise) : INFINITY;
    return d;
}

TEST(WvHybrid, CorrectionFileOnlyWhenAskedAndRestoresTheInput) {
    struct Case {
        const char* Type;
        const char* Correction;
        bool Hybrid;
        bool Wvc;
    };
    const Case cases[] = {
        {"Hybrid", "1", true, true},
        {"Hybrid", "0", true, false},
        {"Lossless", "1", false, false}, // lossless never writes one, whatever the flag says
        {"hybrid", "1", false, false},   // the type is case-sensitive: this is lossless
    };
    const std::vector<uint8_t> pcm = MakePcm(Signal::Music, 2, 44100, 16, 44100 * 2, 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Type) + " / correction " + c.Correction);
        TempDir dir;
        const path wv = dir / "song.wv";
        const EncodeResult outcome =
            Encode(wv, Settings({{"Compression Type", c.Type}, {"Correction File", c.Correction}}),
                   PcmFormat(2, 44100, 16), pcm, 0);
        ASSERT_TRUE(outcome.Finished) << outcome.LastError;
        EXPECT_EQ(IsHybridFile(wv), c.Hybrid);
        EXPECT_EQ(fs::exists(dir / "song.wvc"), c.Wvc);
        EXPECT_EQ(HeaderTotalSamples(wv), 44100 * 2);
        if (c.Wvc) {
            EXPECT_EQ(HeaderTotalSamples(dir / "song.wvc"), 44100 * 2);
        }
        std::string log;
        EXPECT_TRUE(VerifyWithWvunpack(wv, &log)) << log;
        if (c.Hybrid) {
            const Difference d = Compare(pcm, DecodeWithWvunpack(wv, {"-i"}), 16);
            EXPECT_GT(d.MaxAbs, 0) << "the lossy part alone cannot be exact at 256 kbps";
            EXPECT_GT(d.SnrDb, 30.0);
        }
    }
}

// The lossy file's bit rate follows the target as closely as the wavpack program's own file with
// the same options does (the library's rate control overshoots on some signals), and its
// decode stays close to the input.
TEST(WvHybrid, LossyFileMeetsTheTargetBitrateLikeTheWavpackProgram) {
    constexpr int seconds = 10;
    struct Case {
        uint16_t Bits;
        uint16_t Channels;
        int Kbps;
    };
    std::vector<Case> cases = {{16, 2, 256}, {24, 2, 512}, {16, 1, 128}};
    if (Exhaustive())
        for (int kbps : {160, 192, 320, 384, 640, 768, 1024, 2560})
            cases.push_back({16, 2, kbps});
    std::printf("%-4s %-3s %-6s %-8s %-8s %-8s %-8s %-7s\n", "bits", "ch", "target", "ours",
                "program", "vs.tgt", "max|d|", "SNR dB");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.Kbps) + " kbps");
        TempDir dir;
        const path wv = dir / "song.wv";
        const WAVEFORMATEX format = PcmFormat(c.Channels, 44100, c.Bits);
        const std::vector<uint8_t> pcm =
            MakePcm(Signal::Music, c.Channels, 44100, c.Bits, 44100 * seconds, 5);
        const EncodeResult outcome = Encode(
            wv,
            Settings({{"Compression Type", "Hybrid"}, {"Target Bitrate", std::to_string(c.Kbps)}}),
            format, pcm, static_cast<int64_t>(pcm.size()));
        ASSERT_TRUE(outcome.Finished) << outcome.LastError;
        ASSERT_TRUE(fs::exists(dir / "song.wvc"));
        WriteWav(dir / "in.wav", format, pcm);
        ASSERT_TRUE(RunWavpackProgram(dir / "in.wav", dir / "ref.wv",
                                      {"-b" + std::to_string(c.Kbps), "-c"}));
        auto kbps = [&](const path& file) {
            return double(fs::file_size(file)) * 8 / seconds / 1000;
        };
        const double ours = kbps(wv);
        const double program = kbps(dir / "ref.wv");
        EXPECT_NEAR(ours / program, 1.0, 0.005);
        EXPECT_TRUE(SamePcm(pcm, DecodeWithWvunpack(wv), c.Bits / 8u));
        const Difference d = Compare(pcm, DecodeWithWvunpack(wv, {"-i"}), c.Bits);
        if (d.MaxAbs == 0) {
            // A target above what lossless needs: the library stops at lossless.
            EXPECT_LT(ours, c.Kbps * 1.08);
        } else if (c.Kbps * 1000.0 / (44100 * c.Channels) > 2.3) {
            // Below about 2.3 bits per sample the library stays at its floor, as the program does.
            EXPECT_NEAR(ours / c.Kbps, 1.0, 0.08);
        }
        std::printf("%-4u %-3u %-6d %-8.1f %-8.1f %+6.2f%%  %-8lld %-7.1f\n", unsigned{c.Bits},
                    unsigned{c.Channels}, c.Kbps, ours, program, (ours / c.Kbps - 1) * 100,
                    static_cast<long long>(d.MaxAbs), d.SnrDb);
    }
}

TEST(WvLevels, EveryQualityAndExtraLevelIsValidAndSizesFall) {
    const std::vector<uint8_t> pcm = MakePcm(Signal::Music, 2, 44100, 16, 44100 * 3, 11);
    struct Level {
        const char* Name;
        const char* Compression;
        const char* Extra;
        uint32_t Mode; // the mode bits wvunpack reports for it (see WvInfo)
    };
    // Each group in order of rising effort.
    const std::vector<std::vector<Level>> groups = {
        {{"fast", "512", "0", 0x40},
         {"normal", "0", "0", 0},
         {"high", "2048", "0", 0x20},
         {"very high", "4096", "0", 0x420}},
        {{"normal x0", "0", "0", 0},
         {"normal x1", "0", "1", 0x1080},
         {"normal x2", "0", "2", 0x2080},
         {"normal x3", "0", "3", 0x3080},
         {"normal x4", "0", "4", 0x4080},
         {"normal x5", "0", "5", 0x5080},
         {"normal x6", "0", "6", 0x6080}},
    };
    std::printf("%-10s %10s %8s\n", "level", "bytes", "ratio");
    for (const auto& group : groups) {
        uintmax_t previous = UINTMAX_MAX;
        for (const Level& level : group) {
            SCOPED_TRACE(level.Name);
            TempDir dir;
            const path wv = dir / "out.wv";
            const EncodeResult outcome =
                Encode(wv,
                       Settings({{"Compression", level.Compression},
                                 {"Extra Encode Processing", level.Extra}}),
                       PcmFormat(2, 44100, 16), pcm, static_cast<int64_t>(pcm.size()));
            ASSERT_TRUE(outcome.Finished) << outcome.LastError;
            std::string log;
            EXPECT_TRUE(VerifyWithWvunpack(wv, &log)) << log;
            EXPECT_EQ(Info(wv).Mode & 0x74E0u, level.Mode);
            EXPECT_TRUE(SamePcm(pcm, DecodeWithWvunpack(wv), 2));
            const uintmax_t size = fs::file_size(wv);
            std::printf("%-10s %10ju %7.2f%%\n", level.Name, size, 100.0 * size / pcm.size());
            // Allow a hair of noise between neighbouring levels, never a real step back.
            EXPECT_LE(double(size), double(previous) * 1.001);
            previous = size;
        }
    }
}

} // namespace
