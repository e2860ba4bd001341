// The encoder's sound, judged by an independent decoder: ffmpeg decodes the DSF file, its soxr
// resampler brings it to 44.1 kHz through a sharp low-pass at 20 kHz, and the result is
// measured against the tone that went in.
#include "DsdTestSupport.h"
#include "support/TestSupport.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace {

using namespace dsdtest;

// Long enough for the in-band noise to be measured to a fraction of a dB; ZR_EXHAUSTIVE=1
// measures 10 seconds.
double MeasureSeconds() {
    return Exhaustive() ? 10.0 : 2.0;
}
constexpr size_t Settle = 11025; // a quarter second at each end

struct SinadCase {
    int32_t DsdRate;
    double MinimumDb;
};

class DsdSinad : public testing::TestWithParam<SinadCase> {};

// A 1 kHz sine at -6 dBFS from a float source, encoded and decoded again.
TEST_P(DsdSinad, ToneComesBackClean) {
    if (!zrtest::HaveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg is not installed";
    const auto [dsdRate, minimum] = GetParam();
    zrtest::TempDir dir;
    const fs::path path = dir / "tone.dsf";
    const size_t frames = static_cast<size_t>(MeasureSeconds() * 44100);
    const auto format = zrtest::PcmFormat(1, 44100, 32, WAVE_FORMAT_IEEE_FLOAT);
    ASSERT_TRUE(
        EncodeDsf(path, format, Sine(1, 44100, 32, true, frames, 1000, 0.5), {dsdRate, 65536}));
    const std::vector<double> decoded = DecodeTo44k(path);
    ASSERT_GE(decoded.size() + 64, frames); // the decoder may trim a few frames
    const ToneFit fit = FitTone(decoded, 1, 0, 44100, 1000, Settle);
    std::printf("[ DSD%d ] 1 kHz at -6 dBFS, %.0f s: SINAD %.1f dB (amplitude %.4f)\n",
                dsdRate / 44100, MeasureSeconds(), fit.SinadDb, fit.Amplitude);
    RecordProperty("SinadDb", std::to_string(fit.SinadDb));
    EXPECT_GE(fit.SinadDb, minimum);
    // The engine's gain stage halves the level: -6 dBFS in, -12 dB of DSD full scale out.
    EXPECT_NEAR(0.25, fit.Amplitude, 0.0025);
}

INSTANTIATE_TEST_SUITE_P(Dsd, DsdSinad,
                         testing::Values(SinadCase{2822400, 110.0}, SinadCase{5644800, 130.0}),
                         [](const testing::TestParamInfo<SinadCase>& info) {
                             return "DSD" + std::to_string(info.param.DsdRate / 44100);
                         });

TEST(DsdNoiseFloor, SilenceStaysBelowMinus115dBFSAtDsd64) {
    if (!zrtest::HaveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg is not installed";
    zrtest::TempDir dir;
    const fs::path path = dir / "silence.dsf";
    const size_t frames = static_cast<size_t>(MeasureSeconds() * 44100);
    const auto format = zrtest::PcmFormat(2, 44100, 24);
    ASSERT_TRUE(EncodeDsf(path, format, std::vector<uint8_t>(frames * 6, 0), {2822400, 65536}));
    const std::vector<double> decoded = DecodeTo44k(path);
    ASSERT_GE(decoded.size() / 2 + 64, frames); // the decoder may trim a few frames
    for (uint32_t c = 0; c < 2; ++c) {
        const double floor = RmsDb(decoded, 2, c, Settle);
        std::printf("[ DSD64 ] silence, channel %u: in-band noise %.1f dBFS\n", c, floor);
        EXPECT_LT(floor, -115.0);
    }
}

} // namespace
