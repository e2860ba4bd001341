// Helpers shared by the tests: temporary folders, generated PCM, wave-format records, running
// programs without a shell, and decoding through independent decoders.
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "foundation/ZrString.h"
#include "tessary/WaveFormat.h"

namespace zrtest {

namespace fs = std::filesystem;

// A fresh folder below $TMPDIR, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& Path() const { return m_path; }
    fs::path operator/(const std::string& name) const { return m_path / name; }

private:
    fs::path m_path;
};

fs::path BuildDir();  // the CMake build folder (ZR_BUILD_DIR)
fs::path SourceDir(); // the source tree (ZR_SOURCE_DIR)
fs::path LibDir();    // BuildDir()/lib: the shared objects

ZrString U(const fs::path& path);
ZrString U(const std::string& utf8);

WAVEFORMATEX PcmFormat(uint16_t channels, uint32_t rate, uint16_t bits,
                       uint16_t tag = WAVE_FORMAT_PCM);
WAVEFORMATEXTENSIBLE ExtensibleFormat(uint16_t channels, uint32_t rate, uint16_t bits,
                                      uint16_t validBits, uint32_t mask, const ZrGuid& subFormat);

enum class Signal {
    Silence,
    Tone,      // a sine per channel at different frequencies, -6 dBFS
    Noise,     // white noise, full scale
    FullScale, // alternating extremes
    Music,     // chords with a sweep and a little noise: realistic for compression
};

// Interleaved little-endian PCM as WAV holds it: 8-bit unsigned, 16/24/32-bit signed integer,
// or 32-bit float when `isFloat`. Deterministic for a given seed.
std::vector<uint8_t> MakePcm(Signal signal, uint16_t channels, uint32_t rate, uint16_t bits,
                             size_t frames, uint32_t seed = 1, bool isFloat = false);

std::vector<uint8_t> ReadFile(const fs::path& path);
void WriteFile(const fs::path& path, const void* data, size_t bytes);
inline void WriteFile(const fs::path& path, const std::vector<uint8_t>& data) {
    WriteFile(path, data.data(), data.size());
}

struct RunResult {
    int ExitCode = -1;  // -1 when the program could not be started or was killed by a signal
    std::string Output; // standard output and standard error together
};
// Runs a program directly (no shell), waits for it, captures its output.
RunResult Run(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
bool HaveProgram(const std::string& name);

// Decodes any file with ffmpeg to interleaved little-endian PCM of the given kind ("u8",
// "s16le", "s24le", "s32le", "f32le"). Fails the calling test and returns empty on error.
std::vector<uint8_t> DecodeWithFfmpeg(const fs::path& path, const std::string& rawFormat,
                                      std::string* log = nullptr);
// The raw format name ffmpeg uses for WAV-style PCM of this width.
std::string RawFormatFor(uint16_t bits, bool isFloat = false);

// A readable description of the first difference of two sample buffers, or "" when equal.
std::string FirstDifference(const std::vector<uint8_t>& expected,
                            const std::vector<uint8_t>& actual, size_t bytesPerSample);

uint16_t Le16(const uint8_t* p);
uint32_t Le32(const uint8_t* p);
uint16_t Be16(const uint8_t* p);
uint32_t Be32(const uint8_t* p);

} // namespace zrtest
