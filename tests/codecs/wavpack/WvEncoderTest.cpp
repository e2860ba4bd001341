// Header fields, hybrid mode with its correction file, the levels, refused destinations, log
// lines and calling order. Round trips, the correction file's too: LosslessRoundTripTest;
// refused formats and a full disk: RefusalTest.
#include "frame/ZrEncoderFactory.h"
#include "support/TestSupport.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace {

using namespace zrtest;

EncodeResult EncodeWv(const fs::path& wv, const std::string& settings, const WAVEFORMATEX& format,
                      const std::vector<uint8_t>& pcm, int64_t expectedBytes) {
    return Encode(CreateWvEncoder, wv, {&format, pcm, 0, expectedBytes, settings});
}

// The total sample count in the first block header (32 bits at 12, the upper 8 at 11); -1 when
// unreadable or unknown.
int64_t HeaderTotalSamples(const fs::path& file) {
    const std::vector<uint8_t> data = ReadFile(file);
    if (data.size() < 32 || std::memcmp(data.data(), "wvpk", 4) != 0 ||
        Le32(data.data() + 12) == 0xFFFFFFFFu)
        return -1;
    return Le32(data.data() + 12) + (int64_t{data[11]} << 32);
}

// Field `index` of `wvunpack -f`: "rate;bits;int|float;channels;0xmask;samples;md5;version;0xmode;
// name". Mode bits: 1 correction file found, 2 lossless, 4 hybrid, 0x20 high, 0x40 fast,
// 0x80 extra, 0x400 very high, 0x7000 extra level << 12.
uint32_t WvunpackHexField(const fs::path& file, size_t index) {
    const RunResult r = Run({"wvunpack", "-f", file.string()});
    std::vector<std::string> fields(1);
    for (char c : r.Output.substr(0, r.Output.find('\n')))
        if (c == ';')
            fields.emplace_back();
        else
            fields.back() += c;
    if (r.ExitCode != 0 || fields.size() < 9) {
        ADD_FAILURE() << "wvunpack -f " << file << ":\n" << r.Output;
        return 0;
    }
    return static_cast<uint32_t>(std::stoul(fields[index], nullptr, 16));
}

void ExpectWvunpackVerifies(const fs::path& file) {
    const RunResult r = Run({"wvunpack", "-q", "-v", file.string()});
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
}

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
        const fs::path wv = dir / "out.wv";
        const std::vector<uint8_t> pcm = MakePcm(Signal::Music, c.Channels, 44100, c.Bits, 5000);
        const EncodeResult outcome =
            EncodeWv(wv, "", PcmFormat(c.Channels, 44100, c.Bits), pcm,
                     c.Announced == -2 ? static_cast<int64_t>(pcm.size()) : c.Announced);
        ASSERT_TRUE(outcome.Finished) << outcome.LastError;
        EXPECT_FALSE(fs::exists(dir / "out.wvc")) << "lossless never writes a correction file";
        EXPECT_EQ(HeaderTotalSamples(wv), 5000);
        EXPECT_EQ(WvunpackHexField(wv, 4), c.Channels == 1   ? 4u
                                           : c.Channels == 2 ? 3u
                                                             : (1u << c.Channels) - 1);
        EXPECT_EQ(WvunpackHexField(wv, 8) & 6u, 2u) << "lossless, not hybrid";
    }
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
        const char* Settings;
        bool Hybrid;
        bool Wvc;
    };
    const Case cases[] = {
        {"Compression Type=Hybrid|Correction File=1", true, true},
        {"Compression Type=Hybrid|Correction File=0", true, false},
        // Lossless never writes one, whatever the flag says; the type is case-sensitive.
        {"Compression Type=Lossless|Correction File=1", false, false},
        {"Compression Type=hybrid|Correction File=1", false, false},
    };
    const std::vector<uint8_t> pcm = MakePcm(Signal::Music, 2, 44100, 16, 44100 * 2, 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Settings);
        TempDir dir;
        const fs::path wv = dir / "song.wv";
        const EncodeResult outcome = EncodeWv(wv, c.Settings, PcmFormat(2, 44100, 16), pcm, 0);
        ASSERT_TRUE(outcome.Finished) << outcome.LastError;
        // The hybrid flag (bit 3) of the first block header's flags word.
        EXPECT_EQ((Le32(ReadFile(wv).data() + 24) & 8u) != 0, c.Hybrid);
        EXPECT_EQ(fs::exists(dir / "song.wvc"), c.Wvc);
        EXPECT_EQ(HeaderTotalSamples(wv), 44100 * 2);
        if (c.Wvc) {
            EXPECT_EQ(HeaderTotalSamples(dir / "song.wvc"), 44100 * 2);
        }
        ExpectWvunpackVerifies(wv);
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
        const fs::path wv = dir / "song.wv";
        const WAVEFORMATEX format = PcmFormat(c.Channels, 44100, c.Bits);
        const std::vector<uint8_t> pcm =
            MakePcm(Signal::Music, c.Channels, 44100, c.Bits, 44100 * seconds, 5);
        const std::string kbps = std::to_string(c.Kbps);
        const EncodeResult outcome = EncodeWv(wv, "Compression Type=Hybrid|Target Bitrate=" + kbps,
                                              format, pcm, static_cast<int64_t>(pcm.size()));
        ASSERT_TRUE(outcome.Finished) << outcome.LastError;
        ASSERT_TRUE(fs::exists(dir / "song.wvc"));
        WriteWav(dir / "in.wav", format, pcm);
        const RunResult program =
            zrtest::Run({"wavpack", "-q", "-y", "-b" + kbps, "-c", (dir / "in.wav").string(), "-o",
                         (dir / "ref.wv").string()});
        ASSERT_EQ(program.ExitCode, 0) << program.Output;
        auto rate = [&](const fs::path& file) {
            return double(fs::file_size(file)) * 8 / seconds / 1000;
        };
        const double ours = rate(wv), theirs = rate(dir / "ref.wv");
        EXPECT_NEAR(ours / theirs, 1.0, 0.005);
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
                    unsigned{c.Channels}, c.Kbps, ours, theirs, (ours / c.Kbps - 1) * 100,
                    static_cast<long long>(d.MaxAbs), d.SnrDb);
    }
}

// Each group in order of rising effort: the four qualities, then the extra levels 0 to 6 at
// normal quality. Every file verifies, decodes to the input, carries the mode bits wvunpack
// reports for its level, and is no bigger than the one before.
TEST(WvLevels, EveryQualityAndExtraLevelIsValidAndSizesFall) {
    const std::vector<uint8_t> pcm = MakePcm(Signal::Music, 2, 44100, 16, 44100 * 3, 11);
    struct Level {
        std::string Settings;
        uint32_t Mode;
    };
    std::vector<std::vector<Level>> groups = {
        {{"Compression=512|Extra Encode Processing=0", 0x40},
         {"Compression=0|Extra Encode Processing=0", 0},
         {"Compression=2048|Extra Encode Processing=0", 0x20},
         {"Compression=4096|Extra Encode Processing=0", 0x420}},
        {}};
    for (uint32_t x = 0; x <= 6; ++x)
        groups[1].push_back(
            {"Compression=0|Extra Encode Processing=" + std::to_string(x), x ? x << 12 | 0x80 : 0});
    std::printf("%-45s %10s %8s\n", "settings", "bytes", "ratio");
    for (const auto& group : groups) {
        uintmax_t previous = UINTMAX_MAX;
        for (const Level& level : group) {
            SCOPED_TRACE(level.Settings);
            TempDir dir;
            const fs::path wv = dir / "out.wv";
            const EncodeResult outcome = EncodeWv(wv, level.Settings, PcmFormat(2, 44100, 16), pcm,
                                                  static_cast<int64_t>(pcm.size()));
            ASSERT_TRUE(outcome.Finished) << outcome.LastError;
            ExpectWvunpackVerifies(wv);
            EXPECT_EQ(WvunpackHexField(wv, 8) & 0x74E0u, level.Mode);
            EXPECT_TRUE(SamePcm(pcm, DecodeWithWvunpack(wv), 2));
            const uintmax_t size = fs::file_size(wv);
            std::printf("%-45s %10ju %7.2f%%\n", level.Settings.c_str(), size,
                        100.0 * size / pcm.size());
            // Allow a hair of noise between neighbouring levels, never a real step back.
            EXPECT_LE(double(size), double(previous) * 1.001);
            previous = size;
        }
    }
}

TEST(WvStart, UnwritableMainOrCorrectionFileIsNamedInTheError) {
    TempDir dir;
    const WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    const std::vector<uint8_t> pcm = MakePcm(Signal::Tone, 2, 44100, 16, 100);
    // A folder where the correction file should go: the main file opens, the second fails.
    fs::create_directory(dir / "song.wvc");
    const EncodeResult outcome =
        EncodeWv(dir / "song.wv", "Compression Type=Hybrid", format, pcm, 0);
    EXPECT_FALSE(outcome.Started);
    EXPECT_EQ(outcome.LastError, "Failed to create / open output file:\r\n" +
                                     (dir / "song.wvc").string() + ": Is a directory");
    // Without a correction file the same destination encodes.
    EXPECT_TRUE(
        EncodeWv(dir / "song.wv", "Compression Type=Hybrid|Correction File=0", format, pcm, 0)
            .Finished);
}

TEST(WvStart, ConfigurationRefusedByTheLibraryFailsTheStart) {
    TempDir dir;
    LogCapture log;
    std::unique_ptr<IZrEncoder> encoder(CreateWvEncoder(nullptr));
    encoder->SetProperty(u"Destination Filename", U(dir / "song").c_str());
    WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    format.nSamplesPerSec = 0; // the library refuses a rate of 0
    EXPECT_FALSE(encoder->StartBufferBased(&format, 0));
    EXPECT_EQ(Property(*encoder, u"Last Error"), "");
    EXPECT_EQ(log.Errors(), std::vector<std::string>{"Failed to set Configuration\n"});
    uint8_t frame[4] = {};
    EXPECT_FALSE(encoder->EncodeBuffer(frame, sizeof frame));
    EXPECT_FALSE(encoder->FinishBufferBased());
}

TEST(WvFinish, NoSamplesLeavesNoFileBehind) {
    // WavPack decoders open no file without a sample, so an empty job must not look finished.
    for (const char* type : {"Lossless", "Hybrid"}) {
        SCOPED_TRACE(type);
        TempDir dir;
        const EncodeResult outcome =
            EncodeWv(dir / "empty.wv", "Compression Type=" + std::string(type),
                     PcmFormat(2, 44100, 16), {}, 0);
        EXPECT_TRUE(outcome.Started);
        EXPECT_FALSE(outcome.Finished);
        EXPECT_EQ(outcome.LastError,
                  "No audio to encode: a WavPack file needs at least one sample");
        EXPECT_FALSE(fs::exists(dir / "empty.wv"));
        EXPECT_FALSE(fs::exists(dir / "empty.wvc"));
    }
}

TEST(WvEncode, CallsOutOfOrderFailAndOneEncoderRunsTwoJobs) {
    TempDir dir;
    std::unique_ptr<IZrEncoder> encoder(CreateWvEncoder(nullptr));
    std::vector<uint8_t> pcm = MakePcm(Signal::Tone, 1, 48000, 24, 3000);
    EXPECT_FALSE(encoder->EncodeBuffer(pcm.data(), pcm.size())) << "before start";
    EXPECT_FALSE(encoder->FinishBufferBased()) << "before start";
    encoder->SetProperty(u"Add Output Extension", u"0");
    const WAVEFORMATEX format = PcmFormat(1, 48000, 24);
    for (const char* name : {"first.wv", "second.wv"}) {
        encoder->SetProperty(u"Destination Filename", U(dir / name).c_str());
        ASSERT_TRUE(encoder->StartBufferBased(&format, 0));
        EXPECT_TRUE(encoder->EncodeBuffer(pcm.data(), 0)) << "an empty buffer is fine";
        EXPECT_TRUE(encoder->EncodeBuffer(pcm.data(), pcm.size()));
        EXPECT_TRUE(encoder->FinishBufferBased());
        EXPECT_FALSE(encoder->FinishBufferBased()) << "after finish";
        EXPECT_FALSE(encoder->EncodeBuffer(pcm.data(), pcm.size())) << "after finish";
        EXPECT_TRUE(SamePcm(pcm, DecodeWithWvunpack(dir / name), 3));
    }
}

} // namespace
