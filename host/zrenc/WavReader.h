// Reads PCM WAV files (RIFF and RF64) without the decoding libraries. Most inputs are plain WAV
// files: for them, loading the libraries costs more processor time than many encodes, and their
// packets cost an allocation and a copy each. What this reader delivers (format, announced
// length, samples) is byte for byte what the libraries' path delivers for the same file; a file
// on which the two would differ is left to the libraries.
#pragma once

#include "zrenc/Pcm.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zrenc {

class WavReader {
public:
    WavReader() = default;
    ~WavReader();
    WavReader(const WavReader&) = delete;
    WavReader& operator=(const WavReader&) = delete;

    // True when the file is a PCM WAV file this reader takes. False, with nothing left open,
    // for anything else (another format, a sample format or header quirk the libraries treat
    // in their own way, a damaged header, no audio): the caller hands those to the libraries,
    // which give their own reason when they cannot read them either.
    bool Open(const std::string& path);
    // The file's format: its container width (20 significant bits travel in 24).
    const PcmSpec& Source() const { return m_source; }
    // The format Read delivers; the source's own until changed. Call before the first Read.
    void SetOutput(const PcmSpec& spec) { m_output = spec; }
    // What the conversions to the output format lost so far.
    const ConversionStats& Conversion() const { return m_conversion; }
    const PcmSpec& Output() const { return m_output; }
    // Frames the header announces, as the libraries compute them; 0 when unknown.
    int64_t ExpectedFrames() const { return m_expectedFrames; }
    // The frames the data chunk's size announces; 0 when it does not say.
    int64_t DeclaredFrames() const { return m_declaredFrames; }
    // Replaces `block` with the next frames, about `targetBytes` long (at least one frame); an
    // empty block at the end. A partial frame at the end of the file is dropped. False on a
    // read error (Error() says why).
    bool Read(std::vector<uint8_t>& block, size_t targetBytes);
    // Share of the file read so far, 0 to 1.
    double InputFraction() const;
    const std::string& Error() const { return m_error; }

private:
    struct Header;
    bool ParseChunks(Header& header);
    bool ParseFormat(Header& header, uint64_t offset, uint32_t size);
    bool Accept(const Header& header);
    bool CarriesBitstream(uint64_t offset, bool sixteenBits);
    bool ReadAt(uint64_t offset, void* out, size_t bytes);
    size_t ReadFrames(uint8_t* out, size_t frames);
    void ConvertInto(uint8_t* out, size_t frames);
    void Close();

    int m_fd = -1;
    int64_t m_fileSize = 0;
    std::vector<uint8_t> m_head; // the first bytes of the file, where the header usually is
    PcmSpec m_source;
    PcmSpec m_output;
    SourceLayout m_layout;  // how the samples reach ConvertFrames
    bool m_widen24 = false; // 24-bit samples go through ConvertFrames as 32-bit ones
    ConversionStats m_conversion;
    size_t m_fileAlign = 0; // bytes of one frame in the file
    int64_t m_expectedFrames = 0;
    int64_t m_declaredFrames = 0;
    uint64_t m_position = 0;     // next byte to read
    uint64_t m_end = 0;          // end of the last whole frame
    std::vector<uint8_t> m_raw;  // the file's bytes, when the output differs from the source
    std::vector<int32_t> m_wide; // widened 24-bit samples, a slice at a time
    std::string m_error;
};

} // namespace zrenc
