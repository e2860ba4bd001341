#include "DsdTestSupport.h"

#include "codecs/dsd/DSDEncoderPlugin.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

namespace dsdtest {

bool EncodeDsf(const fs::path& path, const WAVEFORMATEX& format, const std::vector<uint8_t>& pcm,
               int32_t dsdRate, size_t bufferBytes) {
    CDSDEncoderPlugin encoder(nullptr);
    return zrtest::Encode(
               encoder, path,
               {&format, pcm, bufferBytes, std::nullopt, "SampleRate=" + std::to_string(dsdRate)})
        .Ok();
}

std::vector<double> DecodeTo44k(const fs::path& path) {
    const std::vector<uint8_t> bytes = zrtest::DecodeWithFfmpeg(
        path, "f64le", {}, {"-af", "aresample=44100:resampler=soxr:precision=28:cutoff=0.907"});
    std::vector<double> samples(bytes.size() / 8);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 8);
    return samples;
}

ToneFit FitTone(const std::vector<double>& samples, uint32_t channels, uint32_t channel,
                double rate, double frequency, size_t skip) {
    const size_t frames = samples.size() / channels;
    if (frames <= 2 * skip + 16) {
        ADD_FAILURE() << "too few frames to measure: " << frames;
        return {};
    }
    // Normal equations of x ~ a cos + b sin + c, solved by elimination.
    const double w = 2 * M_PI * frequency / rate;
    double m[3][4] = {};
    for (size_t i = skip; i < frames - skip; ++i) {
        const double basis[3] = {std::cos(w * i), std::sin(w * i), 1.0};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                m[r][c] += basis[r] * basis[c];
            m[r][3] += basis[r] * samples[i * channels + channel];
        }
    }
    for (int p = 0; p < 3; ++p)
        for (int r = p + 1; r < 3; ++r)
            for (int c = 3; c >= p; --c)
                m[r][c] -= m[r][p] / m[p][p] * m[p][c];
    double coef[3];
    for (int r = 2; r >= 0; --r) {
        coef[r] = m[r][3];
        for (int c = r + 1; c < 3; ++c)
            coef[r] -= m[r][c] * coef[c];
        coef[r] /= m[r][r];
    }
    double residual = 0, power = 0;
    for (size_t i = skip; i < frames - skip; ++i) {
        const double x = samples[i * channels + channel];
        const double d = x - (coef[0] * std::cos(w * i) + coef[1] * std::sin(w * i) + coef[2]);
        residual += d * d;
        power += x * x;
    }
    const double n = static_cast<double>(frames - 2 * skip);
    const double amplitude = std::hypot(coef[0], coef[1]);
    return {amplitude, 10 * std::log10(amplitude * amplitude / 2 / (residual / n)),
            10 * std::log10(power / n)};
}

} // namespace dsdtest
