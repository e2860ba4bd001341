#include "zrenc/WavReader.h"

#include "foundation/ZrByteOrder.h"
#include "foundation/ZrPcm.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zrenc {

namespace {

using zrbytes::LoadLE16;
using zrbytes::LoadLE32;
using zrbytes::LoadLE64;

// Enough for the header of nearly every file in one read.
constexpr size_t HeadBytes = 4096;
// The stretch of sample data the libraries probe for a compressed bitstream disguised as PCM.
constexpr size_t ProbeBytes = size_t{1} << 17;
// Samples widened at a time on the way from 24 to another width: small enough for the cache.
constexpr size_t WideSamples = 4096;
constexpr int64_t Unbounded = INT64_MAX;

// The last twelve bytes of the sub-format GUIDs whose first four bytes are a format tag.
constexpr uint8_t SubFormatBase[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                       0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool Is(const uint8_t* p, const char (&id)[5]) {
    return std::memcmp(p, id, 4) == 0;
}

} // namespace

// What the chunks say, in the terms the libraries use for the same file.
struct WavReader::Header {
    bool rf64 = false;
    bool haveFormat = false;
    uint32_t tag = 0; // the format tag; an extensible record's sub-format tag
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint32_t bytesPerSecond = 0;
    uint16_t blockAlign = 0;
    int codedBits = 0; // the significant bits when the record gives them, else the width
    int width = 0;     // the record's own width
    bool extensible = false;
    uint32_t channelMask = 0; // the extensible record's speakers
    int extraBytes = 0;       // bytes after the record the libraries keep as extra data
    int64_t dataOffset = -1;
    int64_t dataSize = 0; // 0 when the header does not say
    int64_t dataEnd = 0;  // Unbounded when the data runs to the end of the file
    int64_t ds64DataSize = 0;
    int64_t sampleCount = 0; // from the ds64 or a fact chunk; 0 when absent
};

WavReader::~WavReader() {
    Close();
}

void WavReader::Close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool WavReader::ReadAt(uint64_t offset, void* out, size_t bytes) {
    if (offset + bytes <= m_head.size()) {
        std::memcpy(out, m_head.data() + offset, bytes);
        return true;
    }
    auto* p = static_cast<uint8_t*>(out);
    while (bytes > 0) {
        const ssize_t n = ::pread(m_fd, p, bytes, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        offset += static_cast<uint64_t>(n);
        bytes -= static_cast<size_t>(n);
    }
    return true;
}

bool WavReader::Open(const std::string& path) {
    Close();
    // Non-blocking: a named pipe must not hang here; the libraries report it.
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0)
        return false;
    struct stat info {};
    Header header;
    bool ok = ::fstat(m_fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 12;
    if (ok) {
        m_fileSize = info.st_size;
        m_head.clear();
        std::vector<uint8_t> head(std::min<size_t>(HeadBytes, static_cast<size_t>(m_fileSize)));
        ok = ReadAt(0, head.data(), head.size());
        m_head = std::move(head);
    }
    ok = ok && ParseChunks(header) && Accept(header);
    m_head.clear();
    m_head.shrink_to_fit();
    if (!ok)
        Close();
    return ok;
}

// Walks the chunks as the libraries do: the same pad bytes, the same stop at a data chunk of
// unknown length, the same end at the first chunk that would start past the end of the file.
bool WavReader::ParseChunks(Header& h) {
    uint8_t riff[12];
    if (!ReadAt(0, riff, sizeof riff) || !Is(riff + 8, "WAVE"))
        return false;
    const auto fileSize = static_cast<uint64_t>(m_fileSize);
    uint64_t pos = 12;
    if (Is(riff, "RF64")) {
        uint8_t ds64[32]; // id, size, RIFF size, data size, sample count
        if (!ReadAt(12, ds64, sizeof ds64) || !Is(ds64, "ds64"))
            return false;
        const uint32_t size = LoadLE32(ds64 + 4);
        h.ds64DataSize = static_cast<int64_t>(LoadLE64(ds64 + 16));
        h.sampleCount = static_cast<int64_t>(LoadLE64(ds64 + 24));
        // The libraries skip an odd-sized ds64 without its pad byte, read nothing from a data
        // size of 0 and zero one too large for them.
        if (size < 24 || (size & 1) || h.ds64DataSize <= 0 || h.ds64DataSize > (INT64_MAX >> 3) ||
            h.sampleCount < 0)
            return false;
        h.rf64 = true;
        pos = 20 + uint64_t{size};
    } else if (!Is(riff, "RIFF")) {
        return false;
    }

    for (;;) {
        uint8_t chunk[8];
        if (pos + 8 > fileSize || !ReadAt(pos, chunk, sizeof chunk))
            break;
        const uint32_t size = LoadLE32(chunk + 4);
        const uint64_t body = pos + 8;
        uint64_t next = body + size;
        if (Is(chunk, "fmt ")) {
            if (h.haveFormat || !ParseFormat(h, body, size))
                return false;
            h.haveFormat = true;
        } else if (Is(chunk, "data")) {
            // The libraries go on from one data chunk to the next: not worth following.
            if (h.dataOffset >= 0)
                return false;
            h.dataOffset = static_cast<int64_t>(body);
            if (h.rf64) {
                h.dataSize = h.ds64DataSize;
                next = body + static_cast<uint64_t>(h.ds64DataSize);
                h.dataEnd = static_cast<int64_t>(next);
            } else if (size != 0 && size != 0xFFFFFFFF) {
                // Streaming writers leave 0 or the largest size: the data runs to the end.
                h.dataSize = size;
                h.dataEnd = static_cast<int64_t>(next);
            } else {
                h.dataSize = 0;
                h.dataEnd = Unbounded;
                next = Unbounded;
            }
        } else if (Is(chunk, "fact")) {
            uint8_t count[4];
            if (!h.sampleCount) {
                if (body + 4 > fileSize || !ReadAt(body, count, 4))
                    return false;
                h.sampleCount = LoadLE32(count);
            }
        } else if (Is(chunk, "LIST")) {
            if (size < 4) // the libraries refuse the file
                return false;
        } else if (Is(chunk, "bext")) {
            // The libraries read at least 602 bytes of it and fail at the end of the file.
            if (body + std::max<uint64_t>(602, size) > fileSize)
                return false;
        } else if (Is(chunk, "XMA2") || Is(chunk, "SMV0")) {
            return false;
        }
        if (next >= fileSize)
            break;
        pos = next + (next & 1);
    }
    return h.haveFormat && h.dataOffset >= 0;
}

bool WavReader::ParseFormat(Header& h, uint64_t offset, uint32_t size) {
    if (size < 16 || offset + size > static_cast<uint64_t>(m_fileSize))
        return false;
    uint8_t f[40] = {}; // WAVEFORMATEXTENSIBLE
    if (!ReadAt(offset, f, std::min<size_t>(size, sizeof f)))
        return false;
    h.tag = LoadLE16(f);
    h.channels = LoadLE16(f + 2);
    h.rate = LoadLE32(f + 4);
    h.bytesPerSecond = LoadLE32(f + 8);
    h.blockAlign = LoadLE16(f + 12);
    h.codedBits = h.width = LoadLE16(f + 14);
    if (size < 18)
        return h.tag != WAVE_FORMAT_EXTENSIBLE;
    int extra = std::min<int>(static_cast<int>(size) - 18, LoadLE16(f + 16));
    if (h.tag == WAVE_FORMAT_EXTENSIBLE) {
        if (extra < 22 || std::memcmp(f + 28, SubFormatBase, sizeof SubFormatBase) != 0)
            return false;
        if (const uint16_t valid = LoadLE16(f + 18))
            h.codedBits = valid;
        h.tag = LoadLE32(f + 24);
        h.channelMask = LoadLE32(f + 20);
        h.extensible = true;
        extra -= 22;
    }
    h.extraBytes = extra;
    return true;
}

bool WavReader::Accept(const Header& h) {
    if (h.channels == 0 || h.rate == 0 || h.rate > INT_MAX)
        return false;
    // The sample types the libraries decode these into, and the bytes of one in the file.
    SourceSample sample{};
    size_t bytes = 0;
    if (h.tag == WAVE_FORMAT_PCM) {
        if (h.codedBits < 1 || h.codedBits > 32)
            return false;
        bytes = static_cast<size_t>(h.codedBits + 7) / 8;
        // Integer samples in containers wider than their valid bits (24 in 32) are integers in
        // the container the record names; the libraries take 24 of 32 bits for float.
        if (h.extensible && h.width % 8 == 0 && h.width / 8 > static_cast<int>(bytes) &&
            h.width <= 32 && h.blockAlign == h.channels * (h.width / 8))
            bytes = static_cast<size_t>(h.width) / 8;
        sample = bytes == 1 ? SourceSample::U8 : bytes == 2 ? SourceSample::S16 : SourceSample::S32;
        // Two bytes of extra data turn 32-bit PCM into 16-bit float for the libraries.
        if (bytes == 4 && h.extraBytes == 2)
            return false;
    } else if (h.tag == WAVE_FORMAT_IEEE_FLOAT && (h.codedBits == 32 || h.codedBits == 64)) {
        bytes = static_cast<size_t>(h.codedBits) / 8;
        sample = bytes == 4 ? SourceSample::F32 : SourceSample::F64;
    } else {
        return false;
    }
    if (h.blockAlign != h.channels * bytes)
        return false;

    // The announced length, computed as the libraries compute it.
    const int64_t fileSize = m_fileSize;
    const int channels = h.channels;
    const int64_t bitRate =
        uint64_t{h.bytesPerSecond} * 8 <= INT_MAX ? int64_t{h.bytesPerSecond} * 8 : 0;
    int64_t count = h.sampleCount;
    const int64_t dataSize = h.dataSize;
    if (bitRate > 0 && dataSize > 0 && count > 0 && channels > 1 && count % channels == 0) {
        // A fact chunk counting samples rather than frames.
        if (std::fabs(8.0 * static_cast<double>(dataSize) * channels * h.rate /
                          static_cast<double>(count) / static_cast<double>(bitRate) -
                      1.0) < 0.3)
            count /= channels;
    }
    if (dataSize > 0 && count && (dataSize << 3) / count / channels > h.codedBits + 1)
        count = 0;
    if (dataSize && h.dataEnd <= fileSize)
        count = (dataSize << 3) / static_cast<int64_t>(channels * bytes * 8);
    if (count > 0) {
        m_expectedFrames = count;
    } else if (fileSize > h.dataOffset) {
        // From the bit rate over the rest of the file, rounded to nearest.
        if (bitRate <= 0)
            return false;
        const auto rest = static_cast<unsigned __int128>(fileSize - h.dataOffset);
        m_expectedFrames = static_cast<int64_t>((rest * 8 * h.rate + bitRate / 2) /
                                                static_cast<unsigned __int128>(bitRate));
    }

    // The frames there are: up to the end of the data or of the file, whole ones only.
    m_fileAlign = h.blockAlign;
    m_declaredFrames = h.dataEnd != Unbounded ? h.dataSize / h.blockAlign : 0;
    const auto dataOffset = static_cast<uint64_t>(h.dataOffset);
    const uint64_t end = std::min<uint64_t>(static_cast<uint64_t>(h.dataEnd), fileSize);
    if (end <= dataOffset || (end - dataOffset) / m_fileAlign == 0)
        return false;
    m_position = dataOffset;
    m_end = dataOffset + (end - dataOffset) / m_fileAlign * m_fileAlign;
    if (h.tag == WAVE_FORMAT_PCM && CarriesBitstream(dataOffset, bytes == 2))
        return false;

    const bool wider = h.tag == WAVE_FORMAT_PCM && h.codedBits < static_cast<int>(bytes * 8) - 7;
    m_source =
        SourceSpec(sample, wider ? h.codedBits : static_cast<int>(bytes * 8), h.channels, h.rate);
    // A mask that names more or fewer speakers than there are channels says nothing usable.
    if (std::popcount(h.channelMask) == h.channels)
        m_source.channelMask = h.channelMask;
    m_output = m_source;
    m_widen24 = bytes == 3;
    m_layout = SourceLayout{sample, false, h.channels};
    return true;
}

// The libraries look for a compressed bitstream in PCM data (an IEC 61937 burst in any PCM
// file; a DTS stream in 16-bit ones, as on DTS audio CDs) and decode it instead. Files with one
// of their sync words near the start are left to them.
bool WavReader::CarriesBitstream(uint64_t offset, bool sixteenBits) {
    std::vector<uint8_t> data(static_cast<size_t>(
        std::min<uint64_t>(ProbeBytes, static_cast<uint64_t>(m_fileSize) - offset)));
    if (!ReadAt(offset, data.data(), data.size()))
        return true;
    static constexpr uint8_t Burst[][4] = {{0x72, 0xF8, 0x1F, 0x4E}, {0xF8, 0x72, 0x4E, 0x1F}};
    static constexpr uint8_t Dts[][4] = {{0xFE, 0x7F, 0x01, 0x80},
                                         {0x7F, 0xFE, 0x80, 0x01},
                                         {0xFF, 0x1F, 0x00, 0xE8},
                                         {0x1F, 0xFF, 0xE8, 0x00}};
    auto contains = [&](const uint8_t(&word)[4]) {
        return std::search(data.begin(), data.end(), word, word + 4) != data.end();
    };
    for (const auto& word : Burst)
        if (contains(word))
            return true;
    if (sixteenBits)
        for (const auto& word : Dts)
            if (contains(word))
                return true;
    return false;
}

size_t WavReader::ReadFrames(uint8_t* out, size_t frames) {
    const size_t wanted = frames * m_fileAlign;
    size_t got = 0;
    while (got < wanted) {
        const ssize_t n =
            ::pread(m_fd, out + got, wanted - got, static_cast<off_t>(m_position + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            m_error = std::string("reading failed: ") + std::strerror(errno);
            return SIZE_MAX;
        }
        if (n == 0) // the file became shorter: what is there is all there is
            break;
        got += static_cast<size_t>(n);
    }
    const size_t whole = got / m_fileAlign;
    m_position += whole * m_fileAlign;
    if (whole < frames)
        m_end = m_position;
    return whole;
}

// Through ConvertFrames, so that every conversion is the one the libraries' path makes.
void WavReader::ConvertInto(uint8_t* out, size_t frames) {
    if (!m_widen24) {
        const uint8_t* planes[1] = {m_raw.data()};
        ConvertFrames(planes, m_layout, frames, m_output, out, &m_conversion);
        return;
    }
    // 24-bit samples as the libraries decode them: 32 bits, aligned to the top.
    const size_t channels = m_layout.channels;
    const size_t slice = std::max<size_t>(1, WideSamples / channels);
    m_wide.resize(slice * channels);
    const size_t outAlign = m_output.BlockAlign();
    const uint8_t* in = m_raw.data();
    for (size_t done = 0; done < frames;) {
        const size_t n = std::min(slice, frames - done);
        zrpcm::ToInt32(in, n * channels, zrpcm::Sample::S24, m_wide.data(), zrpcm::Align::Top);
        in += n * channels * 3;
        const uint8_t* planes[1] = {reinterpret_cast<const uint8_t*>(m_wide.data())};
        ConvertFrames(planes, m_layout, n, m_output, out + done * outAlign, &m_conversion);
        done += n;
    }
}

bool WavReader::Read(std::vector<uint8_t>& block, size_t targetBytes) {
    const size_t outAlign = m_output.BlockAlign();
    const uint64_t left = (m_end - m_position) / m_fileAlign;
    const size_t frames =
        static_cast<size_t>(std::min<uint64_t>(left, std::max<size_t>(1, targetBytes / outAlign)));
    if (frames == 0) {
        block.clear();
        return true;
    }
    // Same size as the last block (the usual case): resize neither allocates nor clears.
    if (m_output == m_source && outAlign == m_fileAlign) {
        block.resize(frames * m_fileAlign);
        const size_t got = ReadFrames(block.data(), frames);
        if (got == SIZE_MAX) {
            block.clear();
            return false;
        }
        block.resize(got * m_fileAlign);
        return true;
    }
    if (m_raw.size() < frames * m_fileAlign)
        m_raw.resize(frames * m_fileAlign);
    const size_t got = ReadFrames(m_raw.data(), frames);
    if (got == SIZE_MAX) {
        block.clear();
        return false;
    }
    block.resize(got * outAlign);
    ConvertInto(block.data(), got);
    return true;
}

double WavReader::InputFraction() const {
    if (m_fileSize <= 0)
        return 0.0;
    return std::clamp(static_cast<double>(m_position) / static_cast<double>(m_fileSize), 0.0, 1.0);
}

} // namespace zrenc
