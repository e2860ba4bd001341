// Sample delivery: the depth the encoder gets, and the conversion of every decoder sample type
// at the values where conversions go wrong (full scale, the rounding step, planes); and the
// encoders' unpacking of WAV PCM into numbers.
#include "zrenc/Pcm.h"

#include "foundation/ZrPcm.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>

namespace {

using zrenc::PcmSpec;
using zrenc::SourceSample;

TEST(PcmTest, SourceDepthTravelsInWholeBytes) {
    struct Case {
        SourceSample sample;
        int significant;
        uint16_t bits;
        bool isFloat;
    };
    const Case cases[] = {
        {SourceSample::U8, 0, 8, false},    {SourceSample::S16, 0, 16, false},
        {SourceSample::S16, 12, 16, false}, // a 12-bit source decodes into 16 bits already
        {SourceSample::S32, 0, 32, false},  {SourceSample::S32, 32, 32, false},
        {SourceSample::S32, 24, 24, false}, {SourceSample::S32, 20, 24, false}, // 20 in 24
        {SourceSample::S32, 17, 24, false}, {SourceSample::S32, 25, 32, false},
        {SourceSample::S64, 0, 32, false},  {SourceSample::F32, 0, 32, true},
        {SourceSample::F64, 0, 32, true}, // doubles travel as float
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.sample) * 100 + c.significant);
        const PcmSpec spec = zrenc::SourceSpec(c.sample, c.significant, 2, 48000);
        EXPECT_EQ(spec.bits, c.bits);
        EXPECT_EQ(spec.isFloat, c.isFloat);
        const WAVEFORMATEX f = spec.ToWaveFormat();
        EXPECT_EQ(f.wFormatTag, c.isFloat ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM);
        EXPECT_EQ(f.nBlockAlign, 2 * c.bits / 8);
        EXPECT_EQ(f.nAvgBytesPerSec, 48000u * f.nBlockAlign);
        EXPECT_EQ(f.cbSize, 0);
    }
}

TEST(PcmTest, EightChannelsStayAPlainRecord) {
    const WAVEFORMATEX f = PcmSpec{8, 96000, 24, false}.ToWaveFormat();
    EXPECT_EQ(f.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(f.nChannels, 8);
    EXPECT_EQ(f.nBlockAlign, 24);
}

TEST(PcmTest, NegotiatesWithTheEncodersDepths) {
    struct Case {
        uint16_t bits;
        bool isFloat;
        std::vector<int32_t> supported;
        uint16_t expectedBits;
        bool expectedFloat;
    };
    const Case cases[] = {
        {24, false, {}, 24, false},          // no list: every depth
        {32, true, {}, 32, true},            // float stays float
        {16, false, {16}, 16, false},        // listed
        {24, false, {16}, 16, false},        // only narrower: the widest listed
        {8, false, {16, 24}, 16, false},     // the smallest wider
        {20, false, {24, 16}, 24, false},    // order of the list does not matter
        {32, true, {16, 24}, 24, false},     // float to the widest integer
        {16, false, {12, 0, -5}, 16, false}, // nonsense depths are ignored
        {24, false, {12, 16, 99}, 16, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.supported));
        const PcmSpec out = zrenc::NegotiateSpec(PcmSpec{2, 44100, c.bits, c.isFloat}, c.supported);
        EXPECT_EQ(out.bits, c.expectedBits);
        EXPECT_EQ(out.isFloat, c.expectedFloat);
        EXPECT_EQ(out.rate, 44100u);
        EXPECT_EQ(out.channels, 2);
    }
}

template <class T>
std::vector<uint8_t> Bytes(std::initializer_list<T> values) {
    std::vector<uint8_t> out(values.size() * sizeof(T));
    std::memcpy(out.data(), std::data(values), out.size());
    return out;
}

// Converts one packed plane of mono samples.
std::vector<uint8_t> Convert(SourceSample sample, const std::vector<uint8_t>& in, size_t frames,
                             uint16_t bits, bool isFloat) {
    const PcmSpec dest{1, 44100, bits, isFloat};
    std::vector<uint8_t> out(frames * dest.BlockAlign());
    const uint8_t* planes[] = {in.data()};
    zrenc::ConvertFrames(planes, {sample, false, 1}, frames, dest, out.data());
    return out;
}

TEST(PcmTest, ConvertsIntegerSamplesAtTheEdges) {
    struct Case {
        const char* what;
        SourceSample sample;
        std::vector<uint8_t> in;
        size_t frames;
        uint16_t bits;
        std::vector<uint8_t> expected;
    };
    const int32_t s32max = std::numeric_limits<int32_t>::max();
    const int32_t s32min = std::numeric_limits<int32_t>::min();
    const Case cases[] = {
        {"u8 to 8: unchanged", SourceSample::U8, {0, 128, 255}, 3, 8, {0, 128, 255}},
        {"u8 to 16: centre is zero",
         SourceSample::U8,
         {0, 128, 255},
         3,
         16,
         Bytes<int16_t>({-32768, 0, 32512})},
        {"s16 to 24: shifted up",
         SourceSample::S16,
         Bytes<int16_t>({-32768, 1, 32767}),
         3,
         24,
         {0x00, 0x00, 0x80, 0x00, 0x01, 0x00, 0x00, 0xFF, 0x7F}},
        // A 24-bit source in 32-bit containers: the low byte is empty and drops exactly.
        {"s32 (24 significant) to 24",
         SourceSample::S32,
         Bytes<int32_t>({0x7FFFFF00, -256, s32min}),
         3,
         24,
         {0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x80}},
        // Narrowing rounds to nearest; the top value saturates instead of wrapping.
        {"s32 to 16 rounds", SourceSample::S32, Bytes<int32_t>({0x00008000, 0x00007FFF, s32max}), 3,
         16, Bytes<int16_t>({1, 0, 32767})},
        {"s32 to 8", SourceSample::S32, Bytes<int32_t>({s32min, 0, s32max}), 3, 8, {0, 128, 255}},
        {"s64 keeps its top 32 bits", SourceSample::S64,
         Bytes<int64_t>({int64_t{-1} << 62, int64_t{5} << 32}), 2, 32,
         Bytes<int32_t>({-(1 << 30), 5})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Convert(c.sample, c.in, c.frames, c.bits, false), c.expected);
    }
}

TEST(PcmTest, ConvertsFloatSamples) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* what;
        SourceSample sample;
        std::vector<uint8_t> in;
        size_t frames;
        uint16_t bits;
        bool isFloat;
        std::vector<uint8_t> expected;
    };
    const Case cases[] = {
        {"float to float: unchanged", SourceSample::F32, Bytes<float>({-1.5f, 0.25f}), 2, 32, true,
         Bytes<float>({-1.5f, 0.25f})},
        {"double to float", SourceSample::F64, Bytes<double>({0.5, -0.125}), 2, 32, true,
         Bytes<float>({0.5f, -0.125f})},
        // Integer delivery clips at full scale; NaN becomes silence.
        {"float to 16 clips", SourceSample::F32, Bytes<float>({1.0f, -1.0f, 2.0f, -3.0f, nan}), 5,
         16, false, Bytes<int16_t>({32767, -32768, 32767, -32768, 0})},
        {"float to 24 rounds",
         SourceSample::F32,
         Bytes<float>({0.5f / 8388608.0f * 3}),
         1,
         24,
         false,
         {0x02, 0x00, 0x00}},
        {"s16 to float", SourceSample::S16, Bytes<int16_t>({-32768, 16384}), 2, 32, true,
         Bytes<float>({-1.0f, 0.5f})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Convert(c.sample, c.in, c.frames, c.bits, c.isFloat), c.expected);
    }
}

// Planes interleave in channel order; one channel or eleven, with an odd number of frames.
TEST(PcmTest, InterleavesPlanes) {
    for (uint16_t channels : {1, 2, 11}) {
        SCOPED_TRACE(channels);
        const size_t frames = 3;
        std::vector<std::vector<int16_t>> planes(channels);
        std::vector<const uint8_t*> pointers;
        for (uint16_t c = 0; c < channels; ++c) {
            for (size_t f = 0; f < frames; ++f)
                planes[c].push_back(static_cast<int16_t>(c * 100 + f));
            pointers.push_back(reinterpret_cast<const uint8_t*>(planes[c].data()));
        }
        const PcmSpec dest{channels, 44100, 16, false};
        std::vector<int16_t> out(frames * channels);
        zrenc::ConvertFrames(pointers.data(), {SourceSample::S16, true, channels}, frames, dest,
                             reinterpret_cast<uint8_t*>(out.data()));
        for (size_t f = 0; f < frames; ++f)
            for (uint16_t c = 0; c < channels; ++c)
                EXPECT_EQ(out[f * channels + c], c * 100 + static_cast<int>(f));
    }
}

// Every WAV sample type at its extremes, as int32 (as stored and at the top) and as double.
TEST(PcmTest, UnpacksWavSamples) {
    using zrpcm::Sample;
    struct Case {
        Sample sample;
        std::vector<uint8_t> in;
        std::vector<int32_t> ints; // empty for float samples
        unsigned shift;            // to the top of 32 bits
        std::vector<double> doubles;
    };
    const Case cases[] = {
        {Sample::U8, {0, 128, 255}, {-128, 0, 127}, 24, {-1.0, 0.0, 127 / 128.0}},
        {Sample::S16,
         Bytes<int16_t>({-32768, 1, 32767}),
         {-32768, 1, 32767},
         16,
         {-1.0, 1 / 32768.0, 32767 / 32768.0}},
        {Sample::S24,
         {0x00, 0x00, 0x80, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0x7F},
         {-8388608, 1, 8388607},
         8,
         {-1.0, 1 / 8388608.0, 8388607 / 8388608.0}},
        {Sample::S32,
         Bytes<int32_t>({std::numeric_limits<int32_t>::min(), -1}),
         {std::numeric_limits<int32_t>::min(), -1},
         0,
         {-1.0, -1 / 2147483648.0}},
        {Sample::F32, Bytes<float>({-1.5f, 0.25f}), {}, 0, {-1.5, 0.25}},
        {Sample::F64, Bytes<double>({0.1, -2.0}), {}, 0, {0.1, -2.0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.sample));
        const size_t n = c.doubles.size();
        std::vector<double> doubles(n);
        zrpcm::ToDouble(c.in.data(), n, c.sample, doubles.data());
        EXPECT_EQ(doubles, c.doubles);
        if (c.ints.empty())
            continue;
        std::vector<int32_t> ints(n), top(n), expectedTop;
        zrpcm::ToInt32(c.in.data(), n, c.sample, ints.data());
        EXPECT_EQ(ints, c.ints);
        zrpcm::ToInt32(c.in.data(), n, c.sample, top.data(), zrpcm::Align::Top);
        for (int32_t v : c.ints)
            expectedTop.push_back(static_cast<int32_t>(static_cast<uint32_t>(v) << c.shift));
        EXPECT_EQ(top, expectedTop);
    }
}

// Frames split into one array per channel; three channels and an odd number of frames.
TEST(PcmTest, UnpacksIntoPlanes) {
    const std::vector<int16_t> interleaved = {0, 100, 200, 1, 101, 201, 2, 102, 202};
    const auto in = reinterpret_cast<const uint8_t*>(interleaved.data());
    std::vector<int16_t> p16[3] = {std::vector<int16_t>(3), std::vector<int16_t>(3),
                                   std::vector<int16_t>(3)};
    std::vector<int32_t> p32[3] = {std::vector<int32_t>(3), std::vector<int32_t>(3),
                                   std::vector<int32_t>(3)};
    int16_t* planes16[] = {p16[0].data(), p16[1].data(), p16[2].data()};
    int32_t* planes32[] = {p32[0].data(), p32[1].data(), p32[2].data()};
    zrpcm::ToInt16Planar(in, 3, 3, planes16);
    zrpcm::ToInt32Planar(in, 3, 3, zrpcm::Sample::S16, planes32, zrpcm::Align::Top);
    for (int c = 0; c < 3; ++c)
        for (int f = 0; f < 3; ++f) {
            EXPECT_EQ(p16[c][f], c * 100 + f);
            EXPECT_EQ(p32[c][f], (c * 100 + f) * 65536);
        }
}

} // namespace
