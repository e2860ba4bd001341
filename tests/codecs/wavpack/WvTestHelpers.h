// Driving CWvEncoder the way a host does, and reading back what it wrote.
#pragma once

#include "support/TestSupport.h"

#include <cstdint>
#include <string>
#include <vector>

namespace wvtest {

using zrtest::EncodeResult;

using zrtest::fs::path;

// One whole job through IZrEncoder with the settings text, in buffers of `bufferFrames` whole
// frames (0: 64 KiB like a host).
EncodeResult Encode(const path& destination, const std::string& settings,
                    const WAVEFORMATEX& format, const std::vector<uint8_t>& pcm,
                    int64_t expectedBytes, size_t bufferFrames = 0);

// "Compression Type=Hybrid|Target Bitrate=256|..." from pairs.
std::string Settings(const std::vector<std::pair<std::string, std::string>>& pairs);

// The total sample count in the first block header of a WavPack (or correction) file; -1 when
// unreadable or unknown.
int64_t HeaderTotalSamples(const path& file);

// What `wvunpack -f` reads from a file. Mode bits: 1 correction file found, 2 lossless,
// 4 hybrid, 0x20 high, 0x40 fast, 0x80 extra, 0x400 very high, 0x7000 extra level << 12.
struct WvInfo {
    uint32_t Rate = 0;
    uint32_t Bits = 0;
    uint32_t Channels = 0;
    uint32_t Mask = 0;
    int64_t Samples = -1;
    uint32_t Mode = 0;
};
WvInfo Info(const path& file);

// wvunpack -v: true when every block checks out.
bool VerifyWithWvunpack(const path& file, std::string* output = nullptr);

// Runs the wavpack program on `wav` with `options`, writing `out`; fails the test on error.
bool RunWavpackProgram(const path& wav, const path& out, const std::vector<std::string>& options);

} // namespace wvtest
