// Decodes one input file into interleaved PCM blocks, streaming: memory does not grow with the
// file's length. PCM WAV files are read directly; everything else goes through libavformat and
// libavcodec, loaded on first need so that a process that never needs them never pays for them.
#pragma once

#include "zrenc/Pcm.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zrenc {

class WavReader;

class InputDecoder {
public:
    InputDecoder();
    ~InputDecoder();
    InputDecoder(const InputDecoder&) = delete;
    InputDecoder& operator=(const InputDecoder&) = delete;

    // Opens the file and decodes up to its first audio frame, so that the format is known.
    // False with a readable reason in Error(). `allowNative` false sends even WAV files through
    // the libraries (to compare the two paths).
    bool Open(const std::string& path, bool allowNative = true);
    // True when the file is read directly rather than through the libraries.
    bool IsNative() const { return m_wav != nullptr; }
    // The source's own format (depth in whole bytes, float for float sources).
    const PcmSpec& Source() const { return m_source; }
    // The format Read delivers; the source's own until changed. Call before the first Read.
    void SetOutput(const PcmSpec& spec);
    const PcmSpec& Output() const { return m_output; }
    // What the conversions to the output format lost so far.
    const ConversionStats& Conversion() const;
    // How a DSD source became PCM, "" for other sources.
    const std::string& SourceNote() const { return m_sourceNote; }
    // Frames the stream's duration announces; 0 when unknown.
    int64_t ExpectedFrames() const { return m_expectedFrames; }
    // What a WAV file's header announces (0 for other inputs): more than is there when the file
    // was cut short.
    int64_t DeclaredFrames() const;
    // Replaces `block` with the next interleaved PCM, about `targetBytes` long (whole frames).
    // An empty block at the end. False on a decoding error (Error() says why).
    bool Read(std::vector<uint8_t>& block, size_t targetBytes);
    // Share of the input read so far, 0 to 1, from the file position.
    double InputFraction() const;
    const std::string& Error() const { return m_error; }
    // The decoding libraries' own warnings about this input so far, one line each: they never
    // go to the terminal directly.
    std::vector<std::string> TakeLibraryWarnings();

    // DSD sources arrive as PCM at this rate: 88.2 kHz from DSD64, 176.4 kHz from faster ones.
    static uint32_t PcmRateForDsd(uint32_t decodedRate);
    // DSD at 50 % modulation, the level the DSD encoder gives 0 dBFS, becomes 0 dBFS again:
    // the decoder's full modulation is 1.0, so the PCM is raised by 6 dB.
    static constexpr float DsdGain = 2.0f;

private:
    struct Av;
    struct Dsd;
    bool StartDsd(uint32_t decodedRate);
    bool ReadDsd(std::vector<uint8_t>& block, size_t targetBytes);
    bool OpenWithLibraries(const std::string& path);
    bool Fail(const std::string& what, int averror);
    bool NextFrame(); // decodes into the pending frame; false at the end or on error
    bool AppendPending(std::vector<uint8_t>& block, size_t maxBytes);

    std::unique_ptr<WavReader> m_wav;
    std::unique_ptr<Av> m_av;
    std::unique_ptr<Dsd> m_dsd; // the resampler of a DSD source's decoded PCM
    PcmSpec m_source;
    PcmSpec m_output;
    SourceLayout m_layout;
    ConversionStats m_conversion;
    int64_t m_expectedFrames = 0;
    int64_t m_fileSize = 0;
    size_t m_pendingOffset = 0; // frames of the pending frame already delivered
    bool m_havePending = false;
    bool m_ended = false;
    std::string m_error;
    std::string m_sourceNote;
    std::vector<std::string> m_libraryLines;
};

// Why the decoding libraries cannot be used, "" when they can. The decoder loads them on first
// need, once per process, under the names of the major versions it was compiled against.
std::string CheckDecodingLibraries();
// The same for libraries of other names (avutil, avcodec, avformat), loaded anew.
std::string CheckDecodingLibraries(const char* avutil, const char* avcodec, const char* avformat);

} // namespace zrenc
