// Files of the compressor decoded by two independent decoders, compared sample by sample with
// the input: every level, 8/16/24 bits, mono and stereo, lengths around the frame size, signals
// from silence to full-scale noise. The default matrix is a representative subset (JMAC starts
// a JVM per call); ZR_EXHAUSTIVE=1 runs all of it.
#include "codecs/ape/ApeCompressor.h"
#include "codecs/ape/ApeTestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>

namespace {

using namespace apetest;
using zrtest::Signal;

enum class Input {
    Silence,
    Tone,
    Noise,     // full-scale white noise
    FullScale, // alternating extremes
    Music,
    OneSilent, // stereo with its first channel all zero: a frame code of 16-bit input
    Twin,      // stereo with equal channels: coded as one channel from 16 bits
};

const char* NameOf(Input input) {
    static const char* const names[] = {"Silence", "Tone",      "Noise", "FullScale",
                                        "Music",   "OneSilent", "Twin"};
    return names[static_cast<int>(input)];
}

std::vector<uint8_t> MakeInput(Input input, uint16_t channels, uint16_t bits, size_t blocks) {
    if (input != Input::OneSilent && input != Input::Twin) {
        static const Signal signals[] = {Signal::Silence, Signal::Tone, Signal::Noise,
                                         Signal::FullScale, Signal::Music};
        return zrtest::MakePcm(signals[static_cast<int>(input)], channels, 44100, bits, blocks, 7);
    }
    // One channel of music, written into both channels or into the second only.
    const std::vector<uint8_t> mono = zrtest::MakePcm(Signal::Music, 1, 44100, bits, blocks, 7);
    const size_t width = bits / 8;
    std::vector<uint8_t> pcm(blocks * 2 * width);
    const uint8_t zero = bits == 8 ? 0x80 : 0;
    for (size_t t = 0; t < blocks; ++t)
        for (size_t b = 0; b < width; ++b) {
            pcm[(2 * t) * width + b] = input == Input::Twin ? mono[t * width + b] : zero;
            pcm[(2 * t + 1) * width + b] = mono[t * width + b];
        }
    return pcm;
}

// What JMAC is asked: nothing, to decode (which checks every frame's CRC), or to verify the
// file's MD5 as well (one more JVM start).
enum class Jmac { None, Decode, Verify };

struct RoundTrip {
    int Level;
    uint16_t Bits;
    uint16_t Channels;
    size_t Blocks;
    Input Signal;
    Jmac ByJmac;
    bool UnknownLength; // Start without the input's size

    friend std::ostream& operator<<(std::ostream& out, const RoundTrip& c) {
        return out << c.Level << "_" << c.Bits << "bit_" << c.Channels << "ch_" << c.Blocks << "_"
                   << NameOf(c.Signal) << (c.UnknownLength ? "_unknown" : "")
                   << (c.ByJmac == Jmac::Verify   ? "_jmac_md5"
                       : c.ByJmac == Jmac::Decode ? "_jmac"
                                                  : "");
    }
};

// The lengths where framing can go wrong, for a level: empty, one block, one frame less one,
// exactly one frame, one block into the second frame, and three frames with a part.
std::vector<size_t> Lengths(int level) {
    const size_t frame = ape::BlocksPerFrame(level);
    return {0, 1, frame - 1, frame, frame + 1, 2 * frame + 777};
}

std::vector<RoundTrip> Matrix() {
    const std::vector<Input> signals = {Input::Music, Input::Noise, Input::Tone, Input::FullScale,
                                        Input::Silence};
    std::vector<RoundTrip> cases;
    size_t pick = 0;
    const bool all = Exhaustive();
    for (int level : {1000, 2000, 3000, 4000, 5000}) {
        for (uint16_t bits : {8, 16, 24}) {
            for (uint16_t channels : {1, 2}) {
                if (level == 5000 && bits == 24)
                    continue; // refused: see ApeCompressorTest
                std::vector<size_t> lengths = Lengths(level);
                if (!all && level != 2000) {
                    // Framing is the same code at every level: elsewhere a mid-frame length
                    // and, for the quicker levels, the step into a second frame.
                    lengths = {4099};
                    if (level <= 3000)
                        lengths.push_back(ape::BlocksPerFrame(level) + 1);
                }
                for (size_t blocks : lengths)
                    cases.push_back({level, bits, channels, blocks,
                                     signals[pick++ % signals.size()],
                                     all ? Jmac::Verify : Jmac::None, false});
            }
        }
    }
    // The frame codes of 16-bit input: silence, one silent channel, equal channels. The silent
    // ones span four frames, which keeps their files past the 128 bytes JMAC needs.
    const size_t four = 4 * size_t{ape::BlocksPerFrame(2000)};
    const Jmac special = all ? Jmac::Verify : Jmac::Decode;
    cases.push_back({2000, 16, 2, four, Input::Silence, special, false});
    cases.push_back({2000, 16, 1, four, Input::Silence, all ? Jmac::Verify : Jmac::None, false});
    cases.push_back({2000, 16, 2, 5000, Input::OneSilent, special, false});
    cases.push_back({2000, 16, 2, 5000, Input::Twin, special, false});
    cases.push_back({2000, 24, 2, 5000, Input::Twin, Jmac::None, true});
    cases.push_back({4000, 16, 2, 300000, Input::Twin, all ? Jmac::Verify : Jmac::None, false});

    if (!all) {
        // JMAC on a file of each level, of each depth and channel count, and on an empty one.
        auto is = [](const RoundTrip& c, int level, uint16_t bits, uint16_t channels,
                     size_t blocks) {
            return c.Level == level && c.Bits == bits && c.Channels == channels &&
                   c.Blocks == blocks;
        };
        for (RoundTrip& c : cases) {
            if (is(c, 2000, 16, 2, 0) || is(c, 1000, 8, 2, 4099) || is(c, 5000, 16, 2, 4099))
                c.ByJmac = Jmac::Verify;
            else if (is(c, 3000, 24, 2, 4099) || is(c, 4000, 16, 2, 4099) ||
                     is(c, 4000, 24, 1, 4099))
                c.ByJmac = Jmac::Decode;
        }
    }
    return cases;
}

class ApeRoundTrip : public testing::TestWithParam<RoundTrip> {};

TEST_P(ApeRoundTrip, DecodersGiveBackTheInput) {
    const RoundTrip& c = GetParam();
    zrtest::TempDir dir;
    const fs::path file = dir / "out.ape";
    const std::vector<uint8_t> pcm = MakeInput(c.Signal, c.Channels, c.Bits, c.Blocks);
    const WAVEFORMATEX format = zrtest::PcmFormat(c.Channels, 44100, c.Bits);
    const int64_t maxBytes =
        c.UnknownLength ? ape::MaxAudioBytesUnknown : static_cast<int64_t>(pcm.size());
    ASSERT_EQ(Compress(file, format, pcm, c.Level, maxBytes), 0);

    // The head describes what was written.
    const std::vector<uint8_t> bytes = zrtest::ReadFile(file);
    const ApeHead head = ReadHead(bytes);
    const uint32_t perFrame = ape::BlocksPerFrame(c.Level);
    const uint32_t frames = static_cast<uint32_t>((c.Blocks + perFrame - 1) / perFrame);
    EXPECT_EQ(head.Version, 3990);
    EXPECT_EQ(head.Level, c.Level);
    EXPECT_EQ(head.Flags, 32) << "no stored WAV header, decoders create one";
    EXPECT_EQ(head.Bits, c.Bits);
    EXPECT_EQ(head.Channels, c.Channels);
    EXPECT_EQ(head.Rate, 44100u);
    EXPECT_EQ(head.BlocksPerFrame, perFrame);
    EXPECT_EQ(head.TotalFrames, frames);
    EXPECT_EQ(head.FinalFrameBlocks,
              frames ? c.Blocks - (frames - 1) * size_t{perFrame} : perFrame);
    EXPECT_EQ(head.DataStart + head.FrameDataBytes, bytes.size());
    // One seek entry per frame, in order, inside the frame data. The table has room for the
    // frames of the maximum: of the input, or of 2^32 - 1 blocks when unknown (0 means unknown).
    const size_t slots =
        maxBytes > 0 ? std::max<size_t>(frames, 1) : (size_t{0xFFFFFFFF} + perFrame - 1) / perFrame;
    ASSERT_EQ(head.SeekTable.size(), slots);
    for (uint32_t i = frames; i < slots; ++i)
        ASSERT_EQ(head.SeekTable[i], 0u) << "unused seek entry " << i;
    for (uint32_t i = 0; i < frames; ++i) {
        if (i == 0)
            EXPECT_EQ(head.SeekTable[i], head.DataStart);
        else
            EXPECT_GT(head.SeekTable[i], head.SeekTable[i - 1]) << "seek entry " << i;
        EXPECT_LT(head.SeekTable[i], bytes.size());
    }

    if (c.Blocks > 0) { // ffmpeg opens no file without frames
        bool crcMessage = false;
        const std::vector<uint8_t> decoded = DecodeWithFfmpeg(file, c.Bits, &crcMessage);
        EXPECT_FALSE(crcMessage) << "ffmpeg reported a CRC mismatch";
        EXPECT_TRUE(zrtest::SamePcm(pcm, decoded, c.Bits / 8)) << "ffmpeg";
    }
    // JMAC looks for a 128-byte tag at the end without checking the size: it opens no smaller file.
    if (c.ByJmac != Jmac::None && HaveJmac() && bytes.size() >= 128) {
        EXPECT_EQ(zrtest::FirstDifference(pcm, DecodeWithJmac(file, c.ByJmac == Jmac::Verify),
                                          c.Bits / 8),
                  "")
            << "JMAC";
    }
}

INSTANTIATE_TEST_SUITE_P(Matrix, ApeRoundTrip, testing::ValuesIn(Matrix()),
                         [](const testing::TestParamInfo<RoundTrip>& info) {
                             std::ostringstream name;
                             name << info.param;
                             return name.str();
                         });

} // namespace
