// The DSF file: its 92-byte header (DSD chunk, fmt chunk, data chunk header) and the blocks of
// one-bit samples, 4096 bytes per channel each, written through a plain file.
#pragma once

#include "foundation/ZrFile.h"
#include "foundation/ZrString.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// The header image, laid out as in the file (all integers little-endian):
//    0  "DSD "            4   chunk ID
//    4  28                8   DSD chunk size
//   12  file size         8   total file size
//   20  0                 8   offset of the metadata chunk (no tag is written)
//   28  "fmt "            4   chunk ID
//   32  52                8   fmt chunk size
//   40  1                 4   format version
//   44  0                 4   format ID: raw DSD
//   48  channel type      4   see ChannelTypeFor
//   52  channels          4
//   56  sampling rate     4   DSD rate in Hz
//   60  1                 4   bits per sample
//   64  sample count      8   per channel
//   72  4096              4   block size per channel
//   76  0                 4   reserved
//   80  "data"            4   chunk ID
//   84  data size         8   12 + sample data bytes
class CDSFHeader {
public:
    static constexpr size_t DsdChunkSize = 28;
    static constexpr size_t FmtChunkSize = 52;
    static constexpr size_t DataHeaderSize = 12;
    static constexpr size_t Size = DsdChunkSize + FmtChunkSize + DataHeaderSize;

    CDSFHeader();
    // `mask` the input's speakers, 0 for the usual layout of the channel count.
    void SetFormat(uint32_t channels, uint32_t sampleRate, uint32_t mask = 0);
    void SetFileSize(uint64_t bytes) { Put64(12, bytes); }
    void SetSampleCount(uint64_t samplesPerChannel) { Put64(64, samplesPerChannel); }
    void SetDataSize(uint64_t bytes) { Put64(84, bytes); }
    const uint8_t* Bytes() const { return m_image.data(); }

    // 1 for mono, 2 stereo, 5 for 4 channels, 6 for 5, 7 for 6, 0 for any other count.
    // The channel type for these speakers; 0 when the format has no layout for them.
    static uint32_t ChannelTypeFor(uint32_t channels, uint32_t mask);

private:
    void Put32(size_t offset, uint32_t value);
    void Put64(size_t offset, uint64_t value);
    std::array<uint8_t, Size> m_image{};
};

class CDSFWriter {
public:
    static constexpr size_t BlockSize = 4096; // bytes per channel per block

    explicit CDSFWriter(const ZrString& path) : m_file(path) {}

    bool Open() { return m_file.Open(ZrFile::Mode::Write); }
    CDSFHeader& Header() { return m_header; }
    // The three parts of the header at the current position, each written whole.
    bool WriteHeader();
    // Writes the one-bit bytes of `output` (interleaved by channel, earliest sample in the
    // most significant bit) as DSF blocks and removes what was written from its front. Without
    // `final` only whole blocks go; with it the rest follows, zero-padded. False on a short
    // write: the unwritten bytes stay.
    bool WriteBlocks(std::vector<uint8_t>& output, uint32_t channels, bool final);
    // Puts the real sizes into the header and rewrites it at the start of the file.
    bool FinishHeader();
    bool Close() { return m_file.Close(); }
    // The file, for the reason of a failed write (its error outlives the close).
    const ZrFile& File() const { return m_file; }

    uint64_t BytesPerChannel() const { return m_bytesPerChannel; }

private:
    ZrFile m_file;
    CDSFHeader m_header;
    uint64_t m_bytesPerChannel = 0; // each byte carries 8 samples
    std::vector<uint8_t> m_block;
};
