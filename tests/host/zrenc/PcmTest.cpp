// Sample delivery: the depth the encoder gets, and the conversion of every decoder sample type
// at the values where conversions go wrong (full scale, the rounding step, planes); and the
// encoders' unpacking of WAV PCM into numbers.
#include "zrenc/Pcm.h"

#include "foundation/ZrPcm.h"

#include <algorithm>
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
    };
    const Case cases[] = {
        {SourceSample::U8, 0, 8},    {SourceSample::S16, 12, 16}, {SourceSample::S32, 0, 32},
        {SourceSample::S32, 20, 24}, {SourceSample::S32, 17, 24}, {SourceSample::S32, 25, 32},
        {SourceSample::S64, 0, 32},  {SourceSample::F64, 0, 32}, // doubles travel as float
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.sample) * 100 + c.significant);
        const PcmSpec spec = zrenc::SourceSpec(c.sample, c.significant, 8, 48000);
        EXPECT_EQ(spec.bits, c.bits);
        const WAVEFORMATEX f = spec.ToWaveFormat();
        EXPECT_EQ(f.wFormatTag, spec.isFloat ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM);
        EXPECT_EQ(spec.isFloat, c.sample == SourceSample::F64);
        EXPECT_EQ(f.nBlockAlign, 8 * c.bits / 8);
    }
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
        {32, true, {}, 32, true},                // no list: every depth, float stays float
        {24, false, {16}, 16, false},            // only narrower: the widest listed
        {8, false, {16, 24}, 16, false},         // the smallest wider
        {20, false, {24, 16}, 24, false},        // order of the list does not matter
        {32, true, {16, 24}, 24, false},         // float to the widest integer
        {24, false, {12, 0, 16, 99}, 16, false}, // nonsense depths are ignored
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.supported));
        const PcmSpec out = zrenc::NegotiateSpec(PcmSpec{2, 44100, c.bits, c.isFloat}, c.supported);
        EXPECT_EQ(out.bits, c.expectedBits);
        EXPECT_EQ(out.isFloat, c.expectedFloat);
        EXPECT_EQ(out.rate, 44100u);
    }
}

template <class T>
std::vector<uint8_t> Bytes(std::initializer_list<T> values) {
    std::vector<uint8_t> out(values.size() * sizeof(T));
    std::memcpy(out.data(), std::data(values), out.size());
    return out;
}

// ... and says whether the conversion was exact, or its peak and how much clipped.
TEST(PcmTest, ConvertsSamplesAtTheEdges) {
    const int32_t s32max = std::numeric_limits<int32_t>::max();
    const int32_t s32min = std::numeric_limits<int32_t>::min();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* what;
        SourceSample sample;
        std::vector<uint8_t> in;
        uint16_t bits;
        bool isFloat;
        std::vector<uint8_t> expected;
        const char* note; // what zrenc says about the conversion
    };
    const Case cases[] = {
        {"u8 to 16: centre is zero", SourceSample::U8, Bytes<uint8_t>({0, 128, 255}), 16, false,
         Bytes<int16_t>({-32768, 0, 32512}), "8-bit -> 16-bit, exact"},
        {"s16 to 24: shifted up", SourceSample::S16, Bytes<int16_t>({-32768, 1, 32767}), 24, false,
         Bytes<uint8_t>({0x00, 0x00, 0x80, 0x00, 0x01, 0x00, 0x00, 0xFF, 0x7F}),
         "16-bit -> 24-bit, exact"},
        // A 24-bit source in 32-bit containers: the low byte is empty and drops exactly.
        {"s32 (24 significant) to 24", SourceSample::S32,
         Bytes<int32_t>({0x7FFFFF00, -256, s32min}), 24, false,
         Bytes<uint8_t>({0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x80}),
         "32-bit -> 24-bit, exact: low bytes were zero"},
        // Narrowing rounds to nearest; the top value saturates instead of wrapping.
        {"s32 to 16 rounds", SourceSample::S32, Bytes<int32_t>({0x00008000, 0x00007FFF, s32max}),
         16, false, Bytes<int16_t>({1, 0, 32767}),
         "32-bit -> 16-bit, rounded: 3 of 3 samples had signal in the low bytes"},
        {"s64 keeps its top 32 bits", SourceSample::S64,
         Bytes<int64_t>({int64_t{-1} << 62, int64_t{5} << 32}), 32, false,
         Bytes<int32_t>({-(1 << 30), 5}), ""},
        {"double to float", SourceSample::F64, Bytes<double>({0.5, -0.125}), 32, true,
         Bytes<float>({0.5f, -0.125f}), ""},
        // Integer delivery clips at full scale; NaN becomes silence.
        {"float to 16 clips", SourceSample::F32, Bytes<float>({1.0f, -1.0f, 2.0f, -3.0f, nan}), 16,
         false, Bytes<int16_t>({32767, -32768, 32767, -32768, 0}),
         "32-bit float -> 16-bit, peak 9.5 dBFS, 3 samples clipped"},
        {"float to 24 rounds", SourceSample::F32, Bytes<float>({0.5f / 8388608.0f * 3}), 24, false,
         Bytes<uint8_t>({0x02, 0x00, 0x00}),
         "32-bit float -> 24-bit, peak -135.0 dBFS, 0 samples clipped"},
        {"s16 to float", SourceSample::S16, Bytes<int16_t>({-32768, 16384}), 32, true,
         Bytes<float>({-1.0f, 0.5f}), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const PcmSpec dest{1, 44100, c.bits, c.isFloat};
        const size_t frames = c.expected.size() / dest.BlockAlign();
        std::vector<uint8_t> out(c.expected.size());
        const uint8_t* planes[] = {c.in.data()};
        zrenc::ConversionStats stats;
        zrenc::ConvertFrames(planes, {c.sample, false, 1}, frames, dest, out.data(), &stats);
        EXPECT_EQ(out, c.expected);
        EXPECT_EQ(zrenc::DescribeConversion(stats, zrenc::SourceSpec(c.sample, 0, 1, 44100), dest),
                  c.note);
    }
}

// Planes interleave in channel order and split again; three channels, an odd number of frames.
TEST(PcmTest, InterleavesAndSplitsPlanes) {
    const std::vector<int16_t> interleaved = {0, 100, 200, 1, 101, 201, 2, 102, 202};
    std::vector<int16_t> p16[3], out(9);
    std::vector<int32_t> p32[3];
    for (int c = 0; c < 3; ++c) {
        p16[c] = {int16_t(c * 100), int16_t(c * 100 + 1), int16_t(c * 100 + 2)};
        p32[c].resize(3);
    }
    const uint8_t* in[] = {reinterpret_cast<const uint8_t*>(p16[0].data()),
                           reinterpret_cast<const uint8_t*>(p16[1].data()),
                           reinterpret_cast<const uint8_t*>(p16[2].data())};
    const auto bytes = reinterpret_cast<uint8_t*>(out.data());
    zrenc::ConvertFrames(in, {SourceSample::S16, true, 3}, 3, PcmSpec{3, 44100, 16, false}, bytes);
    EXPECT_EQ(out, interleaved);
    for (std::vector<int16_t>& plane : p16)
        std::fill(plane.begin(), plane.end(), int16_t{-1}); // filled again by the split
    int16_t* planes16[] = {p16[0].data(), p16[1].data(), p16[2].data()};
    int32_t* planes32[] = {p32[0].data(), p32[1].data(), p32[2].data()};
    const auto source = reinterpret_cast<const uint8_t*>(interleaved.data());
    zrpcm::ToInt16Planar(source, 3, 3, planes16);
    zrpcm::ToInt32Planar(source, 3, 3, zrpcm::Sample::S16, planes32, zrpcm::Align::Top);
    for (int c = 0; c < 3; ++c)
        for (int f = 0; f < 3; ++f) {
            EXPECT_EQ(p16[c][f], c * 100 + f);
            EXPECT_EQ(p32[c][f], (c * 100 + f) * 65536);
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
    using I = std::vector<int32_t>;
    using D = std::vector<double>;
    const int32_t min = std::numeric_limits<int32_t>::min();
    const Case cases[] = {
        {Sample::U8, Bytes<uint8_t>({0, 128, 255}), I{-128, 0, 127}, 24, D{-1.0, 0.0, 127 / 128.0}},
        {Sample::S16, Bytes<int16_t>({-32768, 1, 32767}), I{-32768, 1, 32767}, 16,
         D{-1.0, 1 / 32768.0, 32767 / 32768.0}},
        {Sample::S24, Bytes<uint8_t>({0x00, 0x00, 0x80, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0x7F}),
         I{-8388608, 1, 8388607}, 8, D{-1.0, 1 / 8388608.0, 8388607 / 8388608.0}},
        {Sample::S32, Bytes<int32_t>({min, -1}), I{min, -1}, 0, D{-1.0, -1 / 2147483648.0}},
        {Sample::F32, Bytes<float>({-1.5f, 0.25f}), I{}, 0, D{-1.5, 0.25}},
        {Sample::F64, Bytes<double>({0.1, -2.0}), I{}, 0, D{0.1, -2.0}},
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

} // namespace
