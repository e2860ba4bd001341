// The engine's modulator against the plain reading of its formulas: every byte, the dither
// state and the loop memories must come out identical, whatever the rate, the channel count
// and the way the input is split into calls.
#include "codecs/dsd/DsdModulator.h"
#include "codecs/dsd/ReferenceModulator.h"

#include <array>
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
