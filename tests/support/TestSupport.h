// Helpers shared by the tests: temporary folders, generated PCM, wave-format records, running
// programs without a shell, driving an encoder as a host does, capturing the log, and decoding
// through independent decoders.
#pragma once

#include "foundation/ZrString.h"
#include "tessary/IZrEncoder.h"
#include "tessary/IZrEncoderCallback.h"
#include "tessary/WaveFormat.h"

#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

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

fs::path BuildDir(); // the CMake build folder (ZR_BUILD_DIR)
fs::path LibDir();   // BuildDir()/lib: the shared objects

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
// The same with options before the input ("-err_detect", "crccheck") and after it ("-af", ...).
std::vector<uint8_t> DecodeWithFfmpeg(const fs::path& path, const std::string& rawFormat,
                                      const std::vector<std::string>& inputOptions,
                                      const std::vector<std::string>& outputOptions,
                                      std::string* log = nullptr);
// ffprobe's fields of a file's first audio stream ("channels", "duration_ts", ...); empty when
// ffprobe finds none.
std::map<std::string, std::string> ProbeAudioStream(const fs::path& path);
// The raw format name ffmpeg uses for WAV-style PCM of this width.
std::string RawFormatFor(uint16_t bits, bool isFloat = false);

// The frequency in Hz (to a fraction of 1 Hz) that carries the most energy in one channel of
// interleaved samples (from Samples), searched from 20 Hz to half the rate over up to 8192
// frames from the middle: where a codec put each channel's tone. 0 when there are too few
// frames.
double DominantFrequency(const std::vector<int32_t>& interleaved, unsigned channels,
                         unsigned channel, uint32_t rate);

// A readable description of the first difference of two sample buffers, or "" when equal.
std::string FirstDifference(const std::vector<uint8_t>& expected,
                            const std::vector<uint8_t>& actual, size_t bytesPerSample);

// Equal buffers, or a failure naming the first difference (see FirstDifference).
testing::AssertionResult SamePcm(const std::vector<uint8_t>& expected,
                                 const std::vector<uint8_t>& actual, size_t bytesPerSample);

uint16_t Le16(const uint8_t* p);
uint32_t Le32(const uint8_t* p);
uint64_t Le64(const uint8_t* p);
uint16_t Be16(const uint8_t* p);
uint32_t Be32(const uint8_t* p);
uint64_t Be64(const uint8_t* p);
void PutLe(std::vector<uint8_t>& out, uint64_t value, int bytes);

// Little-endian PCM of `bits` (8 unsigned, 16/24/32 signed) to signed integers.
std::vector<int32_t> Samples(const std::vector<uint8_t>& pcm, uint16_t bits);

// True when ZR_EXHAUSTIVE=1: the full matrices instead of their fast representative subsets.
bool Exhaustive();
// The whole list in the exhaustive mode; otherwise every `stride`-th entry starting at `phase`
// (mod stride), so that a fast run still meets every value somewhere in a matrix.
template <typename T>
std::vector<T> Pick(const std::vector<T>& all, size_t stride, size_t phase = 0) {
    if (Exhaustive() || stride <= 1)
        return all;
    std::vector<T> some;
    for (size_t i = phase % stride; i < all.size(); i += stride)
        some.push_back(all[i]);
    return some;
}

// --- Driving an encoder --------------------------------------------------------------------

// A property as UTF-8, and setting one from UTF-8.
std::string Property(IZrEncoder& encoder, const char16_t* name);
bool SetProperty(IZrEncoder& encoder, const char16_t* name, const std::string& utf8);

using EncoderCreator = IZrEncoder* (*)(IZrEncoderCallback*);

struct EncodeJob {
    EncodeJob() = default;
    // Brace-initialised in this order, as {&format, pcm, 4096} or {&format, pcm, 0, 0, "L16=1"}.
    EncodeJob(const WAVEFORMATEX* format, std::span<const uint8_t> pcm = {}, size_t blockBytes = 0,
              std::optional<int64_t> expectedBytes = std::nullopt,
              std::optional<std::string> settings = std::nullopt, bool addExtension = false)
        : Format(format), Pcm(pcm), BlockBytes(blockBytes), ExpectedBytes(expectedBytes),
          Settings(std::move(settings)), AddExtension(addExtension) {}

    const WAVEFORMATEX* Format = nullptr; // or a WAVEFORMATEXTENSIBLE's Format member
    std::span<const uint8_t> Pcm;
    size_t BlockBytes = 0;                // per EncodeBuffer call; 0: 64 KiB of whole frames
    std::optional<int64_t> ExpectedBytes; // the host's expected size; unset: Pcm.size()
    std::optional<std::string> Settings;  // "Settings" text, set first when present
    bool AddExtension = false;            // "Add Output Extension"
};

struct EncodeResult {
    bool Started = false;
    bool Encoded = false; // every EncodeBuffer call succeeded
    bool Finished = false;
    std::string LastError; // "Last Error" after the last step taken
    bool Ok() const { return Started && Encoded && Finished; }
    // "start", "encode", "finish", or "" when every step succeeded.
    std::string FailedStep() const;
};

// As a host does: settings, "Add Output Extension", "Destination Filename", start, the PCM in
// blocks (each a fresh copy: encoders may work in the host's buffer), finish. Stops at the
// first step that fails.
EncodeResult Encode(IZrEncoder& encoder, const fs::path& destination, const EncodeJob& job);
EncodeResult Encode(EncoderCreator create, const fs::path& destination, const EncodeJob& job);

// --- The log -------------------------------------------------------------------------------

// Installs a logger for its lifetime that keeps every line as "scope: text", with the varying
// "Finish (... ms)" durations cut to "Finish". One at a time.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    std::vector<std::string> Lines() const;
    // The texts after "ERROR - " of the lines that carry one.
    std::vector<std::string> Errors() const;
    void Clear();
};

// --- Independent decoders ------------------------------------------------------------------

// The audio of a WAV file's "data" chunk; fails the calling test when there is none.
std::vector<uint8_t> WavData(const std::vector<uint8_t>& wav);
inline std::vector<uint8_t> WavData(const fs::path& path) {
    return WavData(ReadFile(path));
}
// A canonical 44-byte-header PCM WAV file.
void WriteWav(const fs::path& file, const WAVEFORMATEX& format, const std::vector<uint8_t>& pcm);

// WAV files built chunk by chunk.
struct Shape {
    uint16_t bits = 16;
    bool isFloat = false;
    uint16_t channels = 2;
    bool extensible = false;
    uint16_t validBits = 0; // extensible only; 0: the width
    uint32_t rate = 44100;
    uint32_t mask = 0; // extensible only; 0: 5.1 (back) for 6 channels, else none
};
// Generated music in the shape's sample format, as a WAV file holds it.
std::vector<uint8_t> Pcm(const Shape& s, size_t frames, uint32_t seed = 7);
struct Piece {
    std::string id;
    std::vector<uint8_t> body;
    std::optional<uint32_t> declared; // a size other than the body's
};
Piece Fmt(const Shape& s);
Piece Data(const std::vector<uint8_t>& pcm, std::optional<uint32_t> declared = {});
// A RIFF file of these chunks, each padded to an even length.
std::vector<uint8_t> Riff(const std::vector<Piece>& pieces);
// Writes a canonical WAV file of generated music; returns its samples.
std::vector<uint8_t> MakeWav(const fs::path& path, const Shape& s = {}, size_t frames = 44100,
                             uint32_t seed = 7);

// --- Files and texts -----------------------------------------------------------------------

#define EXPECT_CONTAINS(text, part) EXPECT_NE((text).find(part), std::string::npos) << (text)

// A file's bytes as text; empty when it does not exist. The lines of a text.
std::string ReadText(const fs::path& path);
std::vector<std::string> Lines(const std::string& text);
// Every file below `folder`, hidden ones included, as sorted paths relative to it.
std::vector<std::string> FilesIn(const fs::path& folder);
inline fs::path ZrencProgram() {
    return BuildDir() / "bin" / "zrenc";
}
// zrenc with a settings store and temporary folder of its own below `home`, and `env` on top.
RunResult RunZrencAt(const fs::path& home, const std::vector<std::string>& args,
                     const std::vector<std::string>& env = {});

// Each runs the program to a WAV file and returns its PCM as WAV holds it; empty with a failure
// added when the decoder complains. `extra` goes before the input's name.
std::vector<uint8_t> DecodeWithFlac(const fs::path& file,
                                    const std::vector<std::string>& extra = {});
std::vector<uint8_t> DecodeWithWvunpack(const fs::path& file,
                                        const std::vector<std::string>& extra = {});
std::vector<uint8_t> DecodeWithSox(const fs::path& file);
bool HaveJmac();
// JMAC checks every frame's CRC; with `verifyMd5` it first checks the file's MD5 too.
std::vector<uint8_t> DecodeWithJmac(const fs::path& file, bool verifyMd5 = true);

// ---- tslim-rest ----

// PATH with a folder in front while the object lives.
class PathPrefix {
public:
    explicit PathPrefix(const fs::path& folder);
    ~PathPrefix();
    PathPrefix(const PathPrefix&) = delete;
    PathPrefix& operator=(const PathPrefix&) = delete;

private:
    std::string m_old;
};
// A stand-in program: an executable shell script with this body, its folder made.
void WriteScript(const fs::path& file, const std::string& body);
// True once the process is reaped; a zombie still answers.
bool ProcessGone(int process);

} // namespace zrtest
