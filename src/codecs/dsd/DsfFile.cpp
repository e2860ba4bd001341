#include "codecs/dsd/DsfFile.h"

#include "foundation/ZrByteOrder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

// DSF stores the earliest sample in the least significant bit; the modulator makes the
// opposite order.
constexpr std::array<uint8_t, 256> ReversedBits = [] {
    std::array<uint8_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = 0;
        for (unsigned b = 0; b < 8; ++b)
            if (i & (1u << b))
                r |= 0x80u >> b;
        table[i] = static_cast<uint8_t>(r);
    }
    return table;
}();

} // namespace

CDSFHeader::CDSFHeader() {
    std::memcpy(&m_image[0], "DSD ", 4);
    Put64(4, DsdChunkSize);
    std::memcpy(&m_image[28], "fmt ", 4);
    Put64(32, FmtChunkSize);
    Put32(40, 1);
    Put32(44, 0);
    Put32(60, 1);
    Put32(72, CDSFWriter::BlockSize);
    std::memcpy(&m_image[80], "data", 4);
}

void CDSFHeader::SetFormat(uint32_t channels, uint32_t sampleRate, uint32_t mask) {
    Put32(48, ChannelTypeFor(channels, mask));
    Put32(52, channels);
    Put32(56, sampleRate);
}

uint32_t CDSFHeader::ChannelTypeFor(uint32_t channels, uint32_t mask) {
    // The format's seven layouts, by their speakers.
    static constexpr uint32_t Layouts[] = {0x4, 0x3, 0x7, 0x33, 0xF, 0x37, 0x3F};
    if (mask != 0) {
        for (uint32_t type = 1; type <= 7; ++type)
            if (Layouts[type - 1] == mask && static_cast<uint32_t>(std::popcount(mask)) == channels)
                return type;
        return 0;
    }
    switch (channels) {
    case 1:
        return 1;
    case 2:
        return 2;
    case 3:
        return 3;
    case 4:
        return 5;
    case 5:
        return 6;
    case 6:
        return 7;
    default:
        return 0;
    }
}

void CDSFHeader::Put32(size_t offset, uint32_t value) {
    zrbytes::StoreLE32(&m_image[offset], value);
}

void CDSFHeader::Put64(size_t offset, uint64_t value) {
    zrbytes::StoreLE64(&m_image[offset], value);
}

bool CDSFWriter::WriteHeader() {
    const uint8_t* bytes = m_header.Bytes();
    return m_file.WriteAll(bytes, CDSFHeader::DsdChunkSize) &&
           m_file.WriteAll(bytes + CDSFHeader::DsdChunkSize, CDSFHeader::FmtChunkSize) &&
           m_file.WriteAll(bytes + CDSFHeader::DsdChunkSize + CDSFHeader::FmtChunkSize,
                           CDSFHeader::DataHeaderSize);
}

bool CDSFWriter::WriteBlocks(std::vector<uint8_t>& output, uint32_t channels, bool final) {
    const size_t available = output.size() / channels;
    const size_t writable = final ? available : available - available % BlockSize;
    const size_t blocks = (writable + BlockSize - 1) / BlockSize;
    m_block.resize(size_t{channels} * BlockSize);
    size_t written = 0; // bytes per channel
    bool ok = true;
    for (size_t k = 0; k < blocks; ++k) {
        const size_t n = std::min(BlockSize, writable - k * BlockSize);
        const uint8_t* source = output.data() + k * BlockSize * channels;
        // Every channel fills its own slot of the block; a short last block ends in zeros.
        for (uint32_t c = 0; c < channels; ++c) {
            uint8_t* slot = m_block.data() + size_t{c} * BlockSize;
            for (size_t j = 0; j < n; ++j)
                slot[j] = ReversedBits[source[j * channels + c]];
            std::fill(slot + n, slot + BlockSize, 0);
        }
        if (!m_file.WriteAll(m_block.data(), m_block.size())) {
            ok = false;
            break;
        }
        m_bytesPerChannel += n;
        written += n;
    }
    output.erase(output.begin(), output.begin() + static_cast<ptrdiff_t>(written * channels));
    return ok;
}

bool CDSFWriter::FinishHeader() {
    const int64_t length = m_file.Size();
    if (length < 0)
        return false;
    m_header.SetFileSize(static_cast<uint64_t>(length));
    m_header.SetSampleCount(m_bytesPerChannel * 8);
    m_header.SetDataSize(static_cast<uint64_t>(length) - CDSFHeader::DsdChunkSize -
                         CDSFHeader::FmtChunkSize);
    return m_file.Seek(0) && WriteHeader();
}
