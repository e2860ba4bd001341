// Helpers of the DSD tests: encoding generated PCM to a DSF file, reading its header, decoding
// it with ffmpeg and measuring a tone in the result.
#pragma once

#include "support/TestSupport.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace dsdtest {

namespace fs = std::filesystem;

struct EncodeJob {
    int32_t DsdRate = 2822400;
    size_t BufferBytes = 16384; // PCM handed over per EncodeBuffer call
    int64_t ExpectedBytes = -1; // -1: the true PCM size
};

// Encodes `pcm` in `format` through the DSD encoder; false when any step fails.
bool EncodeDsf(const fs::path& path, const WAVEFORMATEX& format, const std::vector<uint8_t>& pcm,
               const EncodeJob& job = {});

// The header fields of a DSF file.
struct DsfInfo {
    uint64_t FileSize = 0, SampleCount = 0, DataSize = 0;
    uint32_t ChannelType = 0, Channels = 0, SampleRate = 0, BlockSize = 0;
};
DsfInfo ReadDsfHeader(const std::vector<uint8_t>& file);

// ffmpeg's decoding of a DSF file, brought to 44.1 kHz through a sharp 20 kHz low-pass (soxr,
// 28 bits); interleaved doubles, full scale 1.0.
std::vector<double> DecodeTo44k(const fs::path& path);

struct ToneFit {
    double Amplitude = 0;
    double SinadDb = 0; // tone power against everything else but DC
};
// Least-squares fit of a sine of `frequency` to one channel, leaving out `skip` frames at each
// end, where the filters of the encoder and the decoder settle.
ToneFit FitTone(const std::vector<double>& samples, uint32_t channels, uint32_t channel,
                double rate, double frequency, size_t skip);
// The RMS of one channel in dB re 1.0, leaving out `skip` frames at each end.
double RmsDb(const std::vector<double>& samples, uint32_t channels, uint32_t channel, size_t skip);

// Interleaved PCM of a sine (or silence with amplitude 0) in the given sample type.
std::vector<uint8_t> Sine(uint32_t channels, uint32_t rate, uint16_t bits, bool isFloat,
                          size_t frames, double frequency, double amplitude);

using zrtest::Exhaustive;

} // namespace dsdtest
