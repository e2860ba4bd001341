// The engine's modulator against the plain reading of its formulas: every byte, the dither
// state and the loop memories must come out identical, whatever the rate, the channel count
// and the way the input is split into calls.
#include "codecs/dsd/DsdModulator.h"
#include "codecs/dsd/ReferenceModulator.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

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

struct Case {
    uint32_t Ratio;
    uint32_t Channels;
};

class ModulatorMatchesReference : public testing::TestWithParam<Case> {};

TEST_P(ModulatorMatchesReference, EveryByteAndTheStateAfterEachCall) {
    const auto [ratio, channels] = GetParam();
    std::vector<ZrDsdModulatorState> fast(channels);
    std::vector<dsdref::State> plain(channels);
    // One channel starts with memories that make all four sections flush on the first step,
    // so that the exact path runs for one lane of a vector and not for its neighbour.
    if (channels > 1) {
        fast[1].E = plain[1].e = 1e-151;
        fast[1].S1 = plain[1].s1 = 1e-151;
        fast[1].S2 = plain[1].s2 = 5e-151;
        fast[1].S3p = plain[1].s3p = 1e-151;
    }
    uint32_t fastDither = 0x9E3779B9, plainDither = fastDither;
    std::mt19937 rng(ratio * 16 + channels);

    // Calls of 1 frame, a few frames, and long runs, as the converter delivers them.
    size_t done = 0;
    for (size_t frames : {1u, 37u, 8u, 560u, 0u, 299u, 3u, 400u}) {
        const std::vector<double> in = MakeInput(done, frames, channels, rng);
        const size_t bytes = frames * ratio / 8 * channels;
        std::vector<uint8_t> expected(bytes, 0xAA), actual(bytes, 0x55);
        dsdref::Modulate(in.data(), frames, channels, ratio, plain.data(), plainDither,
                         expected.data());
        ZrDsdModulate(in.data(), frames, channels, ratio, fast.data(), fastDither, actual.data());
        done += frames;
        for (size_t k = 0; k < bytes; ++k)
            ASSERT_EQ(expected[k], actual[k])
                << "byte " << k / channels << " of channel " << k % channels << " in the call "
                << "ending at frame " << done;
        ASSERT_EQ(plainDither, fastDither) << "after frame " << done;
        for (uint32_t c = 0; c < channels; ++c) {
            const double a[] = {plain[c].e,  plain[c].p,   plain[c].s1, plain[c].s1p,
                                plain[c].s2, plain[c].s2p, plain[c].s3, plain[c].s3p,
                                plain[c].s4, plain[c].s4p};
            const double b[] = {fast[c].E,   fast[c].P,  fast[c].S1,  fast[c].S1p, fast[c].S2,
                                fast[c].S2p, fast[c].S3, fast[c].S3p, fast[c].S4,  fast[c].S4p};
            ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << "state of channel " << c;
        }
    }
}

std::vector<Case> Cases() {
    std::vector<Case> cases;
    // Every rate with mono (a lane repeating its neighbour), stereo (one vector) and 5.1
    // (three vectors side by side).
    for (uint32_t ratio : {8u, 16u, 32u, 64u})
        for (uint32_t channels : {1u, 2u, 6u})
            cases.push_back({ratio, channels});
    // Odd counts and the widest group.
    for (uint32_t channels : {3u, 5u, 8u})
        cases.push_back({8, channels});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Dsd, ModulatorMatchesReference, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<Case>& info) {
                             return "R" + std::to_string(info.param.Ratio) + "_" +
                                    std::to_string(info.param.Channels) + "ch";
                         });

TEST(DsdDither, SkipEqualsSteppingOneByOne) {
    for (uint32_t seed : {0u, 1u, 0xFFFFFFFFu, 0x12345678u}) {
        uint32_t stepped = seed;
        uint64_t at = 0;
        for (uint64_t target : {0ull, 1ull, 2ull, 3ull, 64ull, 1000ull, 123457ull}) {
            for (; at < target; ++at)
                stepped = ZrDsdDither::Next(stepped);
            EXPECT_EQ(stepped, ZrDsdDither::Skip(seed, target)) << seed << " + " << target;
        }
    }
    // The generator has period 2^32: a full turn comes back.
    EXPECT_EQ(0x12345678u, ZrDsdDither::Skip(0x12345678u, uint64_t{1} << 32));
}

} // namespace
