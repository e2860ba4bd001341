// The engine's two stages. The player layer's converter: every input sample type to doubles at
// full scale 1.0, exact lengths through soxr, streaming that does not depend on how the input is
// cut, and refusals. The modulator against the plain reading of its formulas: every byte, the
// dither state and the loop memories must come out identical, whatever the rate, the channel
// count and the way the input is split into calls.
#include "codecs/dsd/DsdModulator.h"
#include "codecs/dsd/ReferenceModulator.h"
#include "codecs/dsd/player/ZrAudioPlayer.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <tuple>
#include <vector>

namespace {

struct Collect final : IZrAudioPlayerFormatConverterOutput {
    std::vector<double> Samples;
    uint32_t Channels = 1;
    uint32_t MaxFrames = 0x7FFFFFFF;
    void OnConvertedData(void* data, uint32_t frames) override {
        EXPECT_LE(frames, MaxFrames);
        const auto* d = static_cast<const double*>(data);
        Samples.insert(Samples.end(), d, d + size_t{frames} * Channels);
    }
    uint32_t GetMaxFrames() override { return MaxFrames; }
};

ZrAudioFormat Format(const WAVEFORMATEX& record) {
    ZrAudioFormat f;
    f.FromWaveFormat(&record);
    return f;
}

ZrAudioFormat Doubles(uint16_t channels, uint32_t rate) {
    return Format(zrtest::PcmFormat(channels, rate, 64, WAVE_FORMAT_IEEE_FLOAT));
}

bool Init(IZrAudioFormatConverter& converter, Collect& sink, const ZrAudioFormat& in,
          const ZrAudioFormat& out, bool downmix = false, bool interleaved = true) {
    sink.Channels = out.Channels;
    return converter.Init(in, out, &sink, 2, false, false, 0, 0, downmix, interleaved, false, false,
                          nullptr, false, nullptr, false, 2, 0);
}

std::unique_ptr<IZrAudioFormatConverter> Make(const ZrAudioFormat& in, const ZrAudioFormat& out,
                                              Collect& sink) {
    auto converter = ZrGetAudioPlayer()->CreateFormatConverter();
    return Init(*converter, sink, in, out) ? std::move(converter) : nullptr;
}

template <typename T>
std::vector<uint8_t> Bytes(std::initializer_list<T> values, int width = sizeof(T)) {
    std::vector<uint8_t> out;
    for (T v : values) // little-endian: the first `width` bytes are the low ones
        out.insert(out.end(), reinterpret_cast<uint8_t*>(&v),
                   reinterpret_cast<uint8_t*>(&v) + width);
    return out;
}

// At equal rates the converter only converts: the extremes and a middle value of each type.
// Float passes as it is, beyond full scale too; what is not a number becomes silence.
TEST(DsdConverter, SampleTypesToFullScaleOne) {
    using zrtest::PcmFormat;
    const double inf = INFINITY;
    const WAVEFORMATEX f32 = PcmFormat(1, 352800, 32, 3), f64 = PcmFormat(1, 352800, 64, 3);
    const std::tuple<WAVEFORMATEX, std::vector<uint8_t>, std::vector<double>> cases[] = {
        {PcmFormat(1, 352800, 8), {0, 128, 255, 192}, {-1, 0, 127 / 128.0, 0.5}},
        {PcmFormat(1, 352800, 16),
         Bytes<int16_t>({-32768, 0, 32767, 16384}),
         {-1, 0, 32767 / 32768.0, 0.5}},
        {PcmFormat(1, 352800, 24),
         Bytes<int32_t>({-8388608, 0, 8388607, -4194304}, 3),
         {-1, 0, 8388607 / 8388608.0, -0.5}},
        {PcmFormat(1, 352800, 32),
         Bytes<int32_t>({INT32_MIN, 0, INT32_MAX, 1 << 30}),
         {-1, 0, INT32_MAX / 2147483648.0, 0.5}},
        {f32, Bytes<float>({-1.5f, 0.25f, NAN, (float)inf}), {-1.5, 0.25, 0, 0}},
        {f64, Bytes<double>({0.1, -inf, NAN, 1.0}), {0.1, 0, 0, 1.0}},
    };
    for (const auto& [format, input, expected] : cases) {
        SCOPED_TRACE(std::to_string(format.wBitsPerSample) + " bits");
        Collect sink;
        auto converter = Make(Format(format), Doubles(1, 352800), sink);
        ASSERT_TRUE(converter);
        ASSERT_TRUE(converter->Feed(input.data(), expected.size(), 0, false));
        ASSERT_TRUE(converter->Drain(true));
        EXPECT_EQ(expected, sink.Samples);
    }
}

// 44.1 kHz to 352.8 kHz: exactly 8 frames out per frame in, a tone at its level and in time
// (the filter delay compensated), and the same doubles however the input is cut.
TEST(DsdConverter, ResamplesExactlyAndStreams) {
    const size_t frames = 4410;
    const auto pcm = zrtest::MakePcm(zrtest::Signal::Tone, 2, 44100, 16, frames);
    const auto in = Format(zrtest::PcmFormat(2, 44100, 16));
    Collect whole;
    auto converter = Make(in, Doubles(2, 352800), whole);
    ASSERT_TRUE(converter);
    ASSERT_TRUE(converter->Feed(pcm.data(), frames, 0, false));
    ASSERT_TRUE(converter->Drain(true));
    ASSERT_EQ(frames * 8 * 2, whole.Samples.size());
    // Away from the ends, where the filter settles, each channel is its tone at 8 times the rate.
    double worst = 0;
    for (size_t i = 4000; i < frames * 8 - 4000; ++i)
        for (size_t c = 0; c < 2; ++c)
            worst = std::max(worst,
                             std::fabs(whole.Samples[i * 2 + c] -
                                       0.5 * std::sin(2 * M_PI * (440.0 + 110 * c) * i / 352800)));
    EXPECT_LT(worst, 1e-4);
    EXPECT_FALSE(converter->Feed(pcm.data(), 1, 0, false)) << "fed after the end";

    Collect pieces;
    pieces.MaxFrames = 1000; // the sink's limit on a chunk holds
    converter = Make(in, Doubles(2, 352800), pieces);
    size_t at = 0;
    for (size_t n : {1, 7, 2000, 0, 2402}) {
        ASSERT_TRUE(converter->Feed(pcm.data() + at * 4, n, 0, false));
        at += n;
    }
    ASSERT_TRUE(converter->Drain(true));
    EXPECT_EQ(whole.Samples, pieces.Samples);
}

TEST(DsdConverter, RefusesWhatItCannotDo) {
    Collect sink;
    auto converter = ZrGetAudioPlayer()->CreateFormatConverter();
    const auto stereo = Format(zrtest::PcmFormat(2, 44100, 16));
    const auto out = Doubles(2, 352800);
    auto init = [&](const auto&... args) { return Init(*converter, sink, args...); };
    EXPECT_TRUE(init(stereo, out));
    EXPECT_FALSE(init(Format(zrtest::PcmFormat(9, 44100, 16)), Doubles(9, 352800)));
    EXPECT_FALSE(init(Format(zrtest::PcmFormat(2, 44100, 16, 146)), out));
    EXPECT_FALSE(init(Format(zrtest::PcmFormat(2, 44100, 64)), out)) << "64-bit integer";
    EXPECT_FALSE(init(stereo, Doubles(1, 352800))) << "channel count changes";
    EXPECT_FALSE(init(stereo, Format(zrtest::PcmFormat(2, 352800, 32, WAVE_FORMAT_IEEE_FLOAT))));
    EXPECT_FALSE(init(stereo, out, true));
    EXPECT_FALSE(init(stereo, out, false, false));
    EXPECT_FALSE(converter->Feed("abcd", 1, 0, false)) << "fed after a refused Init";
}

// ---- the modulator ------------------------------------------------------------------------

// Input that visits every branch of the loop: silence (the filter memories start at exact
// zeros, which the flush must leave alone), tones with a little noise, an overload that drives
// the error into the clamp, and a held value.
std::vector<double> MakeInput(size_t first, size_t frames, uint32_t channels, std::mt19937& rng) {
    std::uniform_real_distribution<double> noise(-1e-3, 1e-3);
    std::vector<double> in(frames * channels);
    for (size_t i = 0; i < frames; ++i) {
        const size_t n = first + i;
        for (uint32_t c = 0; c < channels; ++c) {
            double x;
            if (n < 40)
                x = 0.0;
            else if (n >= 600 && n < 700)
                x = (n / 7 % 2 ? 1.6 : -1.6) * (c % 2 ? -1 : 1); // overload
            else if (n >= 900 && n < 950)
                x = 0.3;
            else
                x = 0.45 * std::sin(0.01 * (c + 1) * static_cast<double>(n)) + noise(rng);
            in[i * channels + c] = x;
        }
    }
    return in;
}

// A modulator's run over the calls: the bytes of each call and the state after it.
struct Outcome {
    std::vector<std::vector<uint8_t>> Bytes;
    std::vector<uint32_t> Dither;
    std::vector<std::vector<double>> States; // the ten memories of every channel, in turn
};

// The ten memories of a channel, in turn; their references let Prime set them.
std::array<double*, 10> Memories(ZrDsdModulatorState& s) {
    return {&s.E, &s.P, &s.S1, &s.S1p, &s.S2, &s.S2p, &s.S3, &s.S3p, &s.S4, &s.S4p};
}
std::array<double*, 10> Memories(dsdref::State& s) {
    return {&s.e, &s.p, &s.s1, &s.s1p, &s.s2, &s.s2p, &s.s3, &s.s3p, &s.s4, &s.s4p};
}
template <typename State>
void Prime(State& s) {
    const auto m = Memories(s);
    *m[0] = *m[2] = *m[7] = 1e-151; // e, s1, s3p
    *m[4] = 5e-151;                 // s2
}

// Calls of 1 frame, a few frames, none and long runs, as the converter delivers them.
constexpr size_t CallFrames[] = {1, 37, 8, 560, 0, 299, 3, 400};

template <typename State, typename Modulate>
Outcome RunCalls(uint32_t ratio, uint32_t channels, Modulate modulate) {
    std::vector<State> states(channels);
    // One channel starts with memories that make all four sections flush on the first step,
    // so that the exact path runs for one lane of a vector and not for its neighbour.
    if (channels > 1)
        Prime(states[1]);
    uint32_t dither = 0x9E3779B9;
    std::mt19937 rng(ratio * 16 + channels);
    Outcome run;
    size_t done = 0;
    for (size_t frames : CallFrames) {
        const std::vector<double> in = MakeInput(done, frames, channels, rng);
        std::vector<uint8_t> out(frames * ratio / 8 * channels, 0x5A);
        modulate(in.data(), frames, channels, ratio, states.data(), dither, out.data());
        done += frames;
        run.Bytes.push_back(std::move(out));
        run.Dither.push_back(dither);
        run.States.emplace_back();
        for (State& state : states)
            for (double* m : Memories(state))
                run.States.back().push_back(*m);
    }
    return run;
}

// Every rate with mono (a lane repeating its neighbour), stereo (one vector) and 5.1 (three
// vectors side by side); at R = 8 also odd counts and the widest group. The dither's jumps
// between channels are checked here too: the reference steps it one by one.
TEST(DsdModulator, MatchesReferenceInEveryByteAndTheStateAfterEachCall) {
    const ZrDsdKernel chosen = ZrDsdActiveKernel();
    for (uint32_t ratio : {8u, 16u, 32u, 64u})
        for (uint32_t channels : {1u, 2u, 3u, 5u, 6u, 8u}) {
            if (ratio != 8 && channels != 1 && channels != 2 && channels != 6)
                continue;
            SCOPED_TRACE("R = " + std::to_string(ratio) + ", " + std::to_string(channels) + " ch");
            const Outcome expected = RunCalls<dsdref::State>(ratio, channels, dsdref::Modulate);
            for (ZrDsdKernel kernel : {ZrDsdKernel::Portable, ZrDsdKernel::Sse2, ZrDsdKernel::Avx2,
                                       ZrDsdKernel::Avx512}) {
                if (!ZrDsdSelectKernel(kernel))
                    continue;
                const Outcome actual =
                    RunCalls<ZrDsdModulatorState>(ratio, channels, ZrDsdModulate);
                const int k = static_cast<int>(kernel);
                for (size_t call = 0; call < std::size(CallFrames); ++call) {
                    const auto& a = expected.Bytes[call];
                    const auto& b = actual.Bytes[call];
                    for (size_t i = 0; i < a.size(); ++i)
                        ASSERT_EQ(a[i], b[i]) << "kernel " << k << ", call " << call << ": byte "
                                              << i / channels << " of channel " << i % channels;
                    ASSERT_EQ(expected.Dither[call], actual.Dither[call]) << "kernel " << k;
                    // Bitwise: the memories carry on into the next call.
                    ASSERT_EQ(0,
                              std::memcmp(expected.States[call].data(), actual.States[call].data(),
                                          expected.States[call].size() * sizeof(double)))
                        << "kernel " << k << ", memories after call " << call;
                }
            }
        }
    ZrDsdSelectKernel(chosen);
}

} // namespace
