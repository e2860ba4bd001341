// The AIFF encoder: header bytes and final sizes, the odd-length pad, refused formats, and round
// trips through ffmpeg and sox.
#include "containers/AiffCreator.h"
#include "containers/AiffEncoder.h"
#include "containers/Drive.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

using namespace zrtest;
using ct::Property;

namespace {

std::unique_ptr<AIFFEncoder> NewAiff() {
    return std::make_unique<AIFFEncoder>(nullptr);
}

std::string Id(const std::vector<uint8_t>& file, size_t offset) {
    return std::string(file.begin() + offset, file.begin() + offset + 4);
}

TEST(AiffEncoder, SixteenBitStereoExampleIsByteExact) {
    TempDir dir;
    const auto format = PcmFormat(2, 44100, 16);
    const auto pcm = MakePcm(Signal::Noise, 2, 44100, 16, 1000, 3);
    auto aiff = NewAiff();
    ASSERT_EQ(ct::Encode(*aiff, dir / "a.aif", {&format, pcm, 4000, 0, ""}), "");

    const auto file = ReadFile(dir / "a.aif");
    ASSERT_EQ(file.size(), 4054u);
    EXPECT_EQ(Id(file, 0), "FORM");
    EXPECT_EQ(Be32(&file[4]), 4046u);
    EXPECT_EQ(Id(file, 8), "AIFF");
    EXPECT_EQ(Id(file, 12), "COMM");
    EXPECT_EQ(Be32(&file[16]), 18u);
    EXPECT_EQ(Be16(&file[20]), 2);
    EXPECT_EQ(Be32(&file[22]), 1000u);
    EXPECT_EQ(Be16(&file[26]), 16);
    const std::vector<uint8_t> rate44100 = {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + 28, file.begin() + 38), rate44100);
    EXPECT_EQ(Id(file, 38), "SSND");
    EXPECT_EQ(Be32(&file[42]), 4008u);
    EXPECT_EQ(Be32(&file[46]), 0u);
    EXPECT_EQ(Be32(&file[50]), 0u);
    for (size_t i = 0; i < pcm.size(); i += 2) {
        ASSERT_EQ(file[54 + i], pcm[i + 1]) << "sample " << i / 2;
        ASSERT_EQ(file[54 + i + 1], pcm[i]) << "sample " << i / 2;
    }
}

TEST(AiffHeader, SampleRateAsExtendedFloat) {
    struct Case {
        uint32_t Rate;
        std::vector<uint8_t> Bytes;
    };
    const Case cases[] = {
        {44100, {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}},
        {48000, {0x40, 0x0E, 0xBB, 0x80, 0, 0, 0, 0, 0, 0}},
        {8000, {0x40, 0x0B, 0xFA, 0x00, 0, 0, 0, 0, 0, 0}},
        {1, {0x3F, 0xFF, 0x80, 0x00, 0, 0, 0, 0, 0, 0}}, // the smallest rate: exponent bias only
        {192000, {0x40, 0x10, 0xBB, 0x80, 0, 0, 0, 0, 0, 0}},
        {0xFFFFFFFF, {0x40, 0x1E, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}}, // all 32 bits in use
    };
    for (const Case& c : cases) {
        uint8_t out[10];
        ZrAiffHeader::EncodeRate(c.Rate, out);
        EXPECT_EQ(std::vector<uint8_t>(out, out + 10), c.Bytes) << c.Rate;
    }
}

TEST(AiffEncoder, FinalSizesAndThePadByte) {
    struct Case {
        const char* Name;
        uint16_t Channels, Bits;
        size_t Frames;
        int64_t Expected; // -1: the real size
        bool Float;
    };
    const Case cases[] = {
        // 54 + 3 x 1001 is odd: a zero byte is appended that FORM counts and SSND does not.
        {"24-bit mono, odd sample count", 1, 24, 1001, 0, false},
        {"24-bit mono, even sample count", 1, 24, 1000, 0, false},
        {"8-bit mono, odd", 1, 8, 7, 0, false},
        {"no samples", 2, 16, 0, 0, false},
        {"expected size exact", 2, 16, 999, -1, false},
        {"expected size too large", 2, 24, 10, 1'000'000, false},
        {"8 channels of 32 bits", 8, 32, 17, -1, false},
        {"float, AIFF-C layout", 2, 32, 333, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir dir;
        const auto format = PcmFormat(c.Channels, 44100, c.Bits,
                                      c.Float ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM);
        const auto pcm = MakePcm(Signal::Tone, c.Channels, 44100, c.Bits, c.Frames, 1, c.Float);
        const int64_t expected = c.Expected < 0 ? static_cast<int64_t>(pcm.size()) : c.Expected;
        auto aiff = NewAiff();
        ct::Set(*aiff, u"Add Output Extension", "0");
        ct::Set(*aiff, u"Destination Filename", (dir / "a.aif").string());
        ASSERT_TRUE(aiff->StartBufferBased(&format, expected));
        const auto atStart = ReadFile(dir / "a.aif");
        auto block = pcm;
        if (!block.empty()) {
            ASSERT_TRUE(aiff->EncodeBuffer(block.data(), block.size()));
        }
        ASSERT_TRUE(aiff->FinishBufferBased());
        const auto file = ReadFile(dir / "a.aif");

        const size_t header = c.Float ? 92 : 54;
        const size_t frameOffset = c.Float ? 34 : 22;
        const size_t soundOffset = c.Float ? 80 : 42;
        const size_t unpadded = header + pcm.size();
        ASSERT_EQ(file.size(), unpadded + (unpadded & 1));
        if (unpadded & 1) {
            EXPECT_EQ(file.back(), 0);
        }
        EXPECT_EQ(Be32(&file[4]), file.size() - 8);
        EXPECT_EQ(Be32(&file[frameOffset]), c.Frames);
        EXPECT_EQ(Be32(&file[soundOffset]), pcm.size() + 8);
        EXPECT_EQ(Id(file, header - 16), "SSND");

        // The header at start is derived from the expected size alone.
        ASSERT_EQ(atStart.size(), header);
        const uint64_t frameBytes = c.Channels * c.Bits / 8u;
        EXPECT_EQ(Be32(&atStart[4]), expected + header - 8);
        EXPECT_EQ(Be32(&atStart[frameOffset]), expected / frameBytes);
        EXPECT_EQ(Be32(&atStart[soundOffset]), expected + 8);
        if (c.Expected == -1 && !(unpadded & 1)) {
            EXPECT_TRUE(std::equal(atStart.begin(), atStart.end(), file.begin()))
                << "a right expected size needs no patch";
        }
    }
}

TEST(AiffEncoder, FloatInputIsWrittenAsAiffC) {
    TempDir dir;
    const auto format = PcmFormat(1, 96000, 32, WAVE_FORMAT_IEEE_FLOAT);
    auto aiff = NewAiff();
    ASSERT_EQ(ct::Encode(*aiff, dir / "f.aif", {&format, {}, 4096, 0, ""}), "");
    const auto file = ReadFile(dir / "f.aif");
    ASSERT_EQ(file.size(), 92u);
    EXPECT_EQ(Id(file, 8), "AIFC");
    EXPECT_EQ(Id(file, 12), "FVER");
    EXPECT_EQ(Be32(&file[20]), 0xA2805140u);
    EXPECT_EQ(Id(file, 24), "COMM");
    EXPECT_EQ(Id(file, 50), "fl32");
    EXPECT_EQ(file[54], 21);
}

TEST(AiffEncoder, EightBitSamplesAreStoredSigned) {
    TempDir dir;
    const auto format = PcmFormat(1, 8000, 8);
    const std::vector<uint8_t> pcm = {0x80, 0x00, 0xFF, 0x7F, 0x81};
    auto aiff = NewAiff();
    ASSERT_EQ(ct::Encode(*aiff, dir / "a.aif", {&format, pcm, 4096, 0, ""}), "");
    const auto file = ReadFile(dir / "a.aif");
    ASSERT_EQ(file.size(), 60u);
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + 54, file.begin() + 59),
              (std::vector<uint8_t>{0x00, 0x80, 0x7F, 0xFF, 0x01}));
}

TEST(AiffEncoder, RefusedFormats) {
    struct Case {
        const char* Name;
        WAVEFORMATEX Record;
        bool Reason; // a format AIFF cannot describe gets a reason; other sample types do not
    };
    const Case cases[] = {
        {"frame of 0 bytes: 1-bit samples", PcmFormat(2, 44100, 1), true},
        {"no channels", PcmFormat(0, 44100, 16), true},
        {"rate 0", PcmFormat(2, 0, 16), true},
        {"64-bit integers", PcmFormat(2, 44100, 64), true},
        {"tag 7", PcmFormat(1, 8000, 8, 7), false},
        {"tag 80", PcmFormat(2, 44100, 16, 80), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir dir;
        auto aiff = NewAiff();
        EXPECT_EQ(ct::Encode(*aiff, dir / "a.aif", {&c.Record, {}, 4096, 0, ""}), "start");
        EXPECT_EQ(Property(*aiff, u"Last Error").empty(), !c.Reason)
            << Property(*aiff, u"Last Error");
        EXPECT_FALSE(fs::exists(dir / "a.aif"));
        uint8_t byte = 0;
        EXPECT_FALSE(aiff->EncodeBuffer(&byte, 1));
    }
}

TEST(AiffEncoder, UnwritableDestinationsFailCleanly) {
    const auto format = PcmFormat(2, 44100, 16);
    for (const char* path : {"/proc/zr-no-such-folder/x.aif", "/dev/full"}) {
        SCOPED_TRACE(path);
        auto aiff = NewAiff();
        EXPECT_EQ(ct::Encode(*aiff, path, {&format, {}, 4096, 0, ""}), "start");
        EXPECT_EQ(Property(*aiff, u"Last Error"), "");
        aiff.reset();
    }
}

// --- Round trips through ffmpeg and sox -----------------------------------------------------

struct Depth {
    uint16_t Bits;
    bool Float;
};

// sox's raw output options for WAV-style PCM of each kind.
std::vector<std::string> SoxRaw(const Depth& d) {
    if (d.Float)
        return {"-e", "floating-point", "-b", "32", "-L"};
    if (d.Bits == 8)
        return {"-e", "unsigned-integer", "-b", "8"};
    return {"-e", "signed-integer", "-b", std::to_string(d.Bits), "-L"};
}

// sox's float path is not bit-exact even from raw to raw (it carries samples as 32-bit integers
// and rounds negative values a few float steps off), so sox checks float to 2^-23 and ffmpeg is
// the bit-exact check.
std::string FloatDifference(const std::vector<uint8_t>& expected,
                            const std::vector<uint8_t>& actual) {
    if (expected.size() != actual.size())
        return "sizes differ";
    for (size_t i = 0; i + 4 <= expected.size(); i += 4) {
        float a, b;
        std::memcpy(&a, &expected[i], 4);
        std::memcpy(&b, &actual[i], 4);
        if (std::fabs(a - b) > 0x1p-23f)
            return "sample " + std::to_string(i / 4) + ": " + std::to_string(a) + " became " +
                   std::to_string(b);
    }
    return "";
}

TEST(AiffEncoder, FfmpegAndSoxDecodeTheExactSamples) {
    const bool haveFfmpeg = HaveProgram("ffmpeg");
    const bool haveSox = HaveProgram("sox");
    if (!haveFfmpeg && !haveSox)
        GTEST_SKIP() << "neither ffmpeg nor sox is installed";
    const std::vector<uint16_t> channelCounts = ct::Exhaustive()
                                                    ? std::vector<uint16_t>{1, 2, 3, 4, 5, 6, 7, 8}
                                                    : std::vector<uint16_t>{1, 2, 8};
    const std::vector<uint32_t> rates = ct::Exhaustive()
                                            ? std::vector<uint32_t>{8000, 44100, 96000, 192000}
                                            : std::vector<uint32_t>{44100};
    const Depth depths[] = {{8, false}, {16, false}, {24, false}, {32, false}, {32, true}};
    TempDir dir;
    size_t combination = 0;
    for (const Depth d : depths) {
        for (const uint16_t channels : channelCounts) {
            for (const uint32_t rate : rates) {
                for (const size_t frames : ct::FrameCounts(combination++)) {
                    if (frames == 0)
                        continue; // sox will not write an empty raw file
                    const std::string name = std::to_string(d.Bits) + (d.Float ? "f-" : "-") +
                                             std::to_string(channels) + "ch-" +
                                             std::to_string(rate) + "-" + std::to_string(frames);
                    SCOPED_TRACE(name);
                    const auto format = PcmFormat(
                        channels, rate, d.Bits, d.Float ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM);
                    const auto pcm = MakePcm(Signal::Noise, channels, rate, d.Bits, frames,
                                             rate + channels + d.Bits, d.Float);
                    const auto file = dir / (name + ".aif");
                    auto aiff = NewAiff();
                    const size_t block = 4096u * channels * (d.Bits / 8u);
                    ASSERT_EQ(ct::Encode(*aiff, file, {&format, pcm, block, 0, ""}), "");

                    if (haveFfmpeg) {
                        EXPECT_EQ(FirstDifference(
                                      pcm, DecodeWithFfmpeg(file, RawFormatFor(d.Bits, d.Float)),
                                      d.Bits / 8u),
                                  "")
                            << "ffmpeg";
                    }
                    if (haveSox) {
                        const auto raw = dir / (name + ".sox.raw");
                        std::vector<std::string> argv = {"sox", "-V1", file.string(), "-t", "raw"};
                        for (const auto& a : SoxRaw(d))
                            argv.push_back(a);
                        argv.push_back(raw.string());
                        const auto r = zrtest::Run(argv);
                        ASSERT_EQ(r.ExitCode, 0) << r.Output;
                        if (d.Float) {
                            EXPECT_EQ(FloatDifference(pcm, ReadFile(raw)), "") << "sox";
                        } else {
                            EXPECT_EQ(FirstDifference(pcm, ReadFile(raw), d.Bits / 8u), "")
                                << "sox";
                        }
                    }
                }
            }
        }
    }
}

} // namespace
