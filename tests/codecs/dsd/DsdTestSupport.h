// Helpers of the DSD tests: encoding PCM to a DSF file, decoding it with ffmpeg and measuring
// a tone in the result.
#pragma once

#include "support/TestSupport.h"

#include <cstdint>
#include <filesystem>
#include <vector>

namespace dsdtest {

namespace fs = std::filesystem;

// Encodes `pcm` in `format` through the DSD encoder, `bufferBytes` per EncodeBuffer call.
bool EncodeDsf(const fs::path& path, const WAVEFORMATEX& format, const std::vector<uint8_t>& pcm,
               int32_t dsdRate = 2822400, size_t bufferBytes = 16384);

// ffmpeg's decoding of a DSF file, brought to 44.1 kHz through a sharp 20 kHz low-pass (soxr,
// 28 bits); interleaved doubles, full scale 1.0.
std::vector<double> DecodeTo44k(const fs::path& path);

struct ToneFit {
    double Amplitude = 0;
    double SinadDb = 0; // tone power against everything else but DC
    double RmsDb = 0;   // all of the channel, in dB re 1.0
};
// Least-squares fit of a sine of `frequency` to one channel, leaving out `skip` frames at each
// end, where the filters of the encoder and the decoder settle.
ToneFit FitTone(const std::vector<double>& samples, uint32_t channels, uint32_t channel,
                double rate, double frequency, size_t skip);

// The frequency of channel `c` in zrtest::Signal::Tone.
inline double ToneHz(uint32_t c) {
    return 440.0 + 110.0 * c;
}

} // namespace dsdtest
