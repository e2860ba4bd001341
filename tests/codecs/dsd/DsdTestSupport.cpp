#include "DsdTestSupport.h"

#include "codecs/dsd/DSDEncoderPlugin.h"
#include "support/TestSupport.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>

namespace dsdtest {

using zrtest::Le64;
using zrtest::PutLe;

bool EncodeDsf(const fs::path& path, const WAVEFORMATEX& format, const std::vector<uint8_t>& pcm,
               const EncodeJob& job) {
    CDSDEncoderPlugin encoder(nullptr);
    return zrtest::Encode(
               encoder, path,
               {&format, pcm, job.BufferBytes,
                job.ExpectedBytes < 0 ? static_cast<int64_t>(pcm.size()) : job.ExpectedBytes,
                "SampleRate=" + std::to_string(job.DsdRate)})
        .Ok();
}

DsfInfo ReadDsfHeader(const std::vector<uint8_t>& file) {
    DsfInfo info;
    if (file.size() < 92 || std::memcmp(file.data(), "DSD ", 4) != 0 ||
        std::memcmp(file.data() + 28, "fmt ", 4) != 0 ||
        std::memcmp(file.data() + 80, "data", 4) != 0) {
        ADD_FAILURE() << "not a DSF header (" << file.size() << " bytes)";
        return info;
    }
    info.FileSize = Le64(&file[12]);
    info.ChannelType = zrtest::Le32(&file[48]);
    info.Channels = zrtest::Le32(&file[52]);
    info.SampleRate = zrtest::Le32(&file[56]);
    info.SampleCount = Le64(&file[64]);
    info.BlockSize = zrtest::Le32(&file[72]);
    info.DataSize = Le64(&file[84]);
    return info;
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
    // Normal equations of x ~ a cos + b sin + c.
    const double w = 2 * M_PI * frequency / rate;
    double m[3][4] = {};
    for (size_t i = skip; i < frames - skip; ++i) {
        const double basis[3] = {std::cos(w * i), std::sin(w * i), 1.0};
        const double x = samples[i * channels + channel];
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                m[r][c] += basis[r] * basis[c];
            m[r][3] += basis[r] * x;
        }
    }
    for (int p = 0; p < 3; ++p)
        for (int r = p + 1; r < 3; ++r) {
            const double f = m[r][p] / m[p][p];
            for (int c = p; c < 4; ++c)
                m[r][c] -= f * m[p][c];
        }
    double coef[3];
    for (int r = 2; r >= 0; --r) {
        double s = m[r][3];
        for (int c = r + 1; c < 3; ++c)
            s -= m[r][c] * coef[c];
        coef[r] = s / m[r][r];
    }
    double residual = 0;
    for (size_t i = skip; i < frames - skip; ++i) {
        const double fit = coef[0] * std::cos(w * i) + coef[1] * std::sin(w * i) + coef[2];
        const double d = samples[i * channels + channel] - fit;
        residual += d * d;
    }
    residual /= static_cast<double>(frames - 2 * skip);
    ToneFit result;
    result.Amplitude = std::hypot(coef[0], coef[1]);
    result.SinadDb = 10 * std::log10(result.Amplitude * result.Amplitude / 2 / residual);
    return result;
}

double RmsDb(const std::vector<double>& samples, uint32_t channels, uint32_t channel, size_t skip) {
    const size_t frames = samples.size() / channels;
    double sum = 0;
    for (size_t i = skip; i + skip < frames; ++i)
        sum += samples[i * channels + channel] * samples[i * channels + channel];
    return 10 * std::log10(sum / static_cast<double>(frames - 2 * skip));
}

std::vector<uint8_t> Sine(uint32_t channels, uint32_t rate, uint16_t bits, bool isFloat,
                          size_t frames, double frequency, double amplitude) {
    std::vector<uint8_t> out;
    out.reserve(frames * channels * bits / 8);
    for (size_t i = 0; i < frames; ++i) {
        const double x = amplitude * std::sin(2 * M_PI * frequency * i / rate);
        for (uint32_t c = 0; c < channels; ++c) {
            if (isFloat && bits == 32) {
                const float f = static_cast<float>(x);
                uint32_t v;
                std::memcpy(&v, &f, 4);
                PutLe(out, v, 4);
            } else if (isFloat) {
                uint64_t v;
                std::memcpy(&v, &x, 8);
                PutLe(out, v, 8);
            } else if (bits == 8) {
                out.push_back(static_cast<uint8_t>(std::lrint(x * 127) + 128));
            } else {
                const double scale = std::ldexp(1.0, bits - 1) - 1;
                PutLe(out, static_cast<uint64_t>(std::llrint(x * scale)), bits / 8);
            }
        }
    }
    return out;
}

} // namespace dsdtest
