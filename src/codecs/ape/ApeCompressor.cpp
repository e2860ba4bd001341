#include "codecs/ape/ApeCompressor.h"

#include "codecs/ape/ApeFrameEncoder.h"
#include "foundation/ZrByteOrder.h"
#include "foundation/ZrFileSystem.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <sys/stat.h>

using namespace ape;

namespace {

bool IsPcmRecord(const WAVEFORMATEX& format) {
    if (format.wFormatTag == WAVE_FORMAT_PCM)
        return true;
    if (format.wFormatTag != WAVE_FORMAT_EXTENSIBLE || format.cbSize < 22)
        return false;
    const auto& extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format);
    const uint16_t valid = extensible.Samples.wValidBitsPerSample;
    // Padded containers would come back with their padding as signal: refuse them.
    return extensible.SubFormat == KSDATAFORMAT_SUBTYPE_PCM &&
           (valid == 0 || valid == format.wBitsPerSample);
}

// Seek-table slots for `maxAudioBytes`: one per frame of the longest input allowed.
uint32_t SeekSlots(int64_t maxAudioBytes, uint32_t blockAlign, uint32_t blocksPerFrame) {
    const uint64_t maxBlocks =
        maxAudioBytes <= 0
            ? 0xFFFFFFFFu
            : std::min<uint64_t>(static_cast<uint64_t>(maxAudioBytes) / blockAlign, 0xFFFFFFFFu);
    return static_cast<uint32_t>(
        std::max<uint64_t>((maxBlocks + blocksPerFrame - 1) / blocksPerFrame, 1));
}

} // namespace

CApeCompressor::CApeCompressor() = default;

CApeCompressor::~CApeCompressor() {
    Abandon();
}

int CApeCompressor::Validate(const char16_t* outputFilename, const WAVEFORMATEX* format, int level,
                             const void* headerData, int64_t headerBytes) const {
    if (!outputFilename || !*outputFilename || !format)
        return ErrorBadParameter;
    if (format->nChannels < 1 || format->nChannels > 2)
        return ErrorUnsupportedChannelCount;
    const int bits = format->wBitsPerSample;
    if ((bits != 8 && bits != 16 && bits != 24) || !IsPcmRecord(*format))
        return ErrorUnsupportedBitDepth;
    // 24 bits at the insane level: decoders disagree on its arithmetic whenever a sum outgrows
    // 32 bits, which this combination does all the time (ffmpeg 5.1 computes the stereo
    // prediction in 64 bits, JMAC wraps it and the adaptive filters' rounding at 32), so no file
    // could satisfy them all: it is refused.
    if (bits == 24 && level == LevelInsane)
        return ErrorUnsupportedBitDepth;
    if (format->nSamplesPerSec == 0)
        return ErrorUnsupportedSampleRate;
    if (format->nBlockAlign != bits / 8 * format->nChannels || !IsCompressionLevel(level))
        return ErrorBadParameter;
    if (headerBytes < CreateWavHeaderOnDecompression || (headerBytes > 0 && !headerData) ||
        headerBytes > 0xFFFFFFFF)
        return ErrorBadParameter;
    return Success;
}

int CApeCompressor::Start(const char16_t* outputFilename, const WAVEFORMATEX* format,
                          int64_t maxAudioBytes, int compressionLevel, const void* headerData,
                          int64_t headerBytes, int flags) {
    Abandon();
    if (const int invalid =
            Validate(outputFilename, format, compressionLevel, headerData, headerBytes))
        return invalid;

    // The format
    m_blockAlign = format->nBlockAlign;
    m_blocksPerFrame = BlocksPerFrame(compressionLevel);
    m_descriptor = Descriptor{};
    m_header = Header{};
    m_header.CompressionLevel = static_cast<uint16_t>(compressionLevel);
    m_header.FormatFlags = static_cast<uint16_t>(
        flags | (headerBytes == CreateWavHeaderOnDecompression ? FlagCreateWavHeader : 0));
    m_header.BlocksPerFrame = m_blocksPerFrame;
    m_header.BitsPerSample = format->wBitsPerSample;
    m_header.Channels = format->nChannels;
    m_header.SampleRate = format->nSamplesPerSec;

    // The working memory, which grows with the input (a short file at a high level needs
    // little of a frame's worth)
    try {
        m_seekTable.assign(SeekSlots(maxAudioBytes, m_blockAlign, m_blocksPerFrame), 0);
        m_frames = std::make_unique<CApeFrameEncoder>(format->wBitsPerSample, format->nChannels,
                                                      compressionLevel);
        m_frameBytes = size_t{m_blocksPerFrame} * m_blockAlign;
        m_pcm.clear();
        m_streamCapacity = 8; // the closing word of a file without frames
        m_stream = std::make_unique_for_overwrite<uint8_t[]>(m_streamCapacity);
    } catch (const std::bad_alloc&) {
        return ErrorInsufficientMemory;
    }
    md5_init(&m_md5);
    m_pcmBytes = 0;
    m_streamPending = 0;
    m_streamBytes = 0;
    m_frameCount = 0;
    m_lastFrameBlocks = m_blocksPerFrame;
    m_failure = Success;

    // The file
    if (!m_file.Open(ZrString(outputFilename), ZrFile::Mode::Write))
        return ErrorInvalidOutputFile;
    struct stat info {};
    m_outputIsRegularFile = fstat(m_file.Descriptor(), &info) == 0 && S_ISREG(info.st_mode);
    m_ownsOutput = true;
    int failed = ErrorInsufficientMemory;
    try {
        failed = WriteHead(headerData, headerBytes);
    } catch (const std::bad_alloc&) {
    }
    if (failed) {
        Abandon();
        return failed;
    }
    m_state = State::Started;
    return Success;
}

int CApeCompressor::WriteHead(const void* headerData, int64_t headerBytes) {
    // The descriptor, header and seek table are written again by Finish with their final values.
    m_descriptor.SeekTableBytes = static_cast<uint32_t>(m_seekTable.size() * 4);
    m_descriptor.WavHeaderBytes = headerBytes > 0 ? static_cast<uint32_t>(headerBytes) : 0;
    std::vector<uint8_t> head(Descriptor::Size + Header::Size + m_seekTable.size() * 4, 0);
    m_descriptor.Write(head.data());
    m_header.Write(head.data() + Descriptor::Size);
    if (int failed = WriteData(head.data(), head.size()))
        return failed;
    m_dataStart = head.size();
    if (m_descriptor.WavHeaderBytes) {
        md5_update(&m_md5, m_descriptor.WavHeaderBytes, static_cast<const uint8_t*>(headerData));
        if (int failed = WriteData(headerData, m_descriptor.WavHeaderBytes))
            return failed;
        m_dataStart += m_descriptor.WavHeaderBytes;
    }
    return Success;
}

int64_t CApeCompressor::AddData(const unsigned char* data, int64_t bytes) {
    if (m_state != State::Started)
        return m_state == State::Failed ? m_failure : ErrorUndefined;
    if (bytes < 0 || (bytes > 0 && !data))
        return ErrorBadParameter;

    const size_t frameBytes = m_frameBytes;
    size_t left = static_cast<size_t>(bytes);
    while (left) {
        if (m_pcmBytes == 0 && left >= frameBytes) {
            // A whole frame in the caller's buffer needs no copy.
            if (int failed = EncodeFrame(data, m_blocksPerFrame))
                return Fail(failed);
            data += frameBytes;
            left -= frameBytes;
            continue;
        }
        const size_t take = std::min(left, frameBytes - m_pcmBytes);
        if (m_pcm.size() < m_pcmBytes + take) {
            try {
                m_pcm.resize(std::min(frameBytes, std::max(m_pcm.size() * 2, m_pcmBytes + take)));
            } catch (const std::bad_alloc&) {
                return Fail(ErrorInsufficientMemory);
            }
        }
        std::memcpy(m_pcm.data() + m_pcmBytes, data, take);
        m_pcmBytes += take;
        data += take;
        left -= take;
        if (m_pcmBytes == frameBytes) {
            m_pcmBytes = 0;
            if (int failed = EncodeFrame(m_pcm.data(), m_blocksPerFrame))
                return Fail(failed);
        }
    }
    return Success;
}

int CApeCompressor::EncodeFrame(const uint8_t* pcm, uint32_t blocks) {
    if (m_frameCount >= m_seekTable.size())
        return ErrorTooMuchData;
    // Seek entries are 32-bit: past 4 GiB they wrap, and readers unwrap them in order.
    m_seekTable[m_frameCount] = static_cast<uint32_t>(m_dataStart + m_streamBytes);
    size_t bytes = 0;
    try {
        // Room for the pending bytes, the frame, and the padding of the last word.
        const size_t needed = m_streamPending + m_frames->MaxBytes(blocks) + 4;
        if (m_streamCapacity < needed) {
            auto grown = std::make_unique_for_overwrite<uint8_t[]>(needed);
            std::memcpy(grown.get(), m_stream.get(), m_streamPending);
            m_stream = std::move(grown);
            m_streamCapacity = needed;
        }
        bytes = m_frames->Encode(pcm, blocks, m_stream.get() + m_streamPending);
    } catch (const std::bad_alloc&) {
        return ErrorInsufficientMemory;
    }
    m_streamPending += bytes;
    m_streamBytes += bytes;
    ++m_frameCount;
    m_lastFrameBlocks = blocks;
    return WriteStream(false);
}

int CApeCompressor::WriteStream(bool final) {
    uint8_t* const stream = m_stream.get();
    if (final) {
        // The last word is padded with zeros; a stream ending on a word boundary still gets one
        // more (zero) word, as decoders have always been given.
        const size_t padded = (m_streamPending / 4 + 1) * 4;
        std::memset(stream + m_streamPending, 0, padded - m_streamPending);
        m_streamPending = padded;
    }
    const size_t whole = m_streamPending / 4 * 4;
    for (size_t i = 0; i < whole; i += 4) {
        std::swap(stream[i], stream[i + 3]);
        std::swap(stream[i + 1], stream[i + 2]);
    }
    md5_update(&m_md5, whole, stream);
    const int failed = WriteData(stream, whole);
    std::memmove(stream, stream + whole, m_streamPending - whole);
    m_streamPending -= whole;
    return failed;
}

int CApeCompressor::WriteData(const void* data, size_t bytes) {
    return bytes == 0 || m_file.WriteAll(data, bytes) ? Success : ErrorIoWrite;
}

int CApeCompressor::Finish(const unsigned char* terminatingData, int64_t terminatingBytes,
                           int64_t wavTerminatingBytes) {
    if (m_state != State::Started)
        return m_state == State::Failed ? m_failure : ErrorUndefined;
    if (terminatingBytes < 0 || (terminatingBytes > 0 && !terminatingData) ||
        wavTerminatingBytes < 0 || wavTerminatingBytes > terminatingBytes ||
        wavTerminatingBytes > 0xFFFFFFFF)
        return ErrorBadParameter;
    int failed = ErrorInsufficientMemory;
    try {
        failed = Complete(terminatingData, terminatingBytes, wavTerminatingBytes);
    } catch (const std::bad_alloc&) {
    }
    if (failed)
        return Fail(failed);
    m_ownsOutput = false;
    m_state = State::Finished;
    return Success;
}

int CApeCompressor::Complete(const unsigned char* terminatingData, int64_t terminatingBytes,
                             int64_t wavTerminatingBytes) {
    // The last frame: whatever whole blocks are left (a partial block cannot be coded).
    if (m_pcmBytes >= m_blockAlign) {
        if (int failed =
                EncodeFrame(m_pcm.data(), static_cast<uint32_t>(m_pcmBytes / m_blockAlign)))
            return failed;
    }
    m_pcmBytes = 0;
    if (int failed = WriteStream(true))
        return failed;
    const uint64_t frameDataEnd = m_dataStart + (m_streamBytes / 4 + 1) * 4;

    // The stored WAV trailer
    if (terminatingBytes > 0) {
        md5_update(&m_md5, static_cast<size_t>(wavTerminatingBytes), terminatingData);
        if (int failed = WriteData(terminatingData, static_cast<size_t>(terminatingBytes)))
            return failed;
    }

    // The final head; the MD5 ends with the header and the seek table as stored.
    m_header.TotalFrames = m_frameCount;
    m_header.FinalFrameBlocks = m_lastFrameBlocks;
    m_descriptor.FrameDataBytes = frameDataEnd - m_dataStart;
    m_descriptor.WavTrailerBytes = static_cast<uint32_t>(wavTerminatingBytes);
    std::vector<uint8_t> head(Descriptor::Size + Header::Size + m_seekTable.size() * 4);
    uint8_t* const header = head.data() + Descriptor::Size;
    m_header.Write(header);
    for (size_t i = 0; i < m_seekTable.size(); ++i)
        zrbytes::StoreLE32(header + Header::Size + 4 * i, m_seekTable[i]);
    md5_update(&m_md5, head.size() - Descriptor::Size, header);
    md5_digest(&m_md5, MD5_DIGEST_SIZE, m_descriptor.Md5);
    m_descriptor.Write(head.data());
    if (m_file.WriteAt(head.data(), head.size(), 0) != static_cast<int64_t>(head.size()))
        return ErrorIoWrite;
    return m_file.Close() ? Success : ErrorIoWrite;
}

int CApeCompressor::Fail(int result) {
    DiscardOutput();
    m_state = State::Failed;
    m_failure = result;
    return result;
}

void CApeCompressor::DiscardOutput() {
    m_file.Close();
    if (m_ownsOutput && m_outputIsRegularFile)
        ZrFileSystem::DeleteFile(m_file.Path());
    m_ownsOutput = false;
}

void CApeCompressor::Abandon() {
    DiscardOutput();
    m_state = State::Idle;
    m_frames.reset();
}
