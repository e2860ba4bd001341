// CApeCompressor: writes a Monkey's Audio file (file version 3990) from interleaved PCM, with
// the calls and results of the format's reference SDK: Start, AddData, Finish, each returning 0
// or an error code (ape::Result).
//
// Accepted input: integer PCM of 8 (unsigned), 16 or 24 bits, one or two channels, in a
// WAVEFORMATEX (tag 1) or a WAVEFORMATEXTENSIBLE with the PCM sub-format; anything the file
// format cannot hold (float, 32 bits, more channels) is refused by Start. Levels 1000 to 5000,
// except 24 bits at 5000, which decoders disagree on (refused as an unsupported depth).
//
// The output is created by Start and completed by Finish. An output that was not finished when
// the compressor is destroyed or started again, or whose Finish failed, is deleted (when it is a
// regular file), so no half-written file is left looking like a good one.
#pragma once

#include "codecs/ape/ApeFileFormat.h"
#include "foundation/ZrFile.h"
#include "foundation/ZrString.h"
#include "tessary/WaveFormat.h"

#include <cstdint>
#include <memory>
#include <nettle/md5.h>
#include <vector>

namespace ape {

class CApeFrameEncoder;

// The SDK's result codes.
enum Result : int {
    Success = 0,
    ErrorIoWrite = 1001,
    ErrorInvalidOutputFile = 1003,
    ErrorUnsupportedBitDepth = 1005, // also for sample types other than integer PCM
    ErrorUnsupportedSampleRate = 1006,
    ErrorUnsupportedChannelCount = 1007,
    ErrorInsufficientMemory = 2000,
    ErrorBadParameter = 5000,
    ErrorTooMuchData = 6000, // more audio than the maximum given to Start
    ErrorUndefined = -1,     // a call out of order
};

// Start's maximum for an unknown length: the seek table then has room for 2^32 - 1 blocks.
inline constexpr int64_t MaxAudioBytesUnknown = -1;
// Start's header size that stores no WAV header and has decoders create one.
inline constexpr int64_t CreateWavHeaderOnDecompression = -1;

} // namespace ape

class CApeCompressor {
public:
    CApeCompressor();
    CApeCompressor(const CApeCompressor&) = delete;
    CApeCompressor& operator=(const CApeCompressor&) = delete;
    ~CApeCompressor();

    // Creates `outputFilename` and writes the file's head. `maxAudioBytes`: the most PCM bytes
    // that will be added (sizes the seek table); 0 or negative is unknown. `headerData` /
    // `headerBytes`: a WAV header to store, or null and -1 for none. `flags` join the header's
    // format flags.
    int Start(const char16_t* outputFilename, const WAVEFORMATEX* format,
              int64_t maxAudioBytes = ape::MaxAudioBytesUnknown,
              int compressionLevel = ape::LevelNormal, const void* headerData = nullptr,
              int64_t headerBytes = ape::CreateWavHeaderOnDecompression, int flags = 0);
    // Adds interleaved PCM in the started format; frames are coded as they fill.
    int64_t AddData(const unsigned char* data, int64_t bytes);
    // Codes what is left, appends `terminatingBytes` of `terminatingData` (of which the first
    // `wavTerminatingBytes` count as WAV data), and completes the head and the seek table.
    int Finish(const unsigned char* terminatingData, int64_t terminatingBytes,
               int64_t wavTerminatingBytes);

    // The output file, for the reason of a failed write (its error outlives the close).
    const ZrFile& Output() const { return m_file; }

private:
    enum class State { Idle, Started, Failed, Finished };

    int Validate(const char16_t* outputFilename, const WAVEFORMATEX* format, int level,
                 const void* headerData, int64_t headerBytes) const;
    int WriteHead(const void* headerData, int64_t headerBytes);
    int EncodeFrame(const uint8_t* pcm, uint32_t blocks);
    int WriteStream(bool final);
    int WriteData(const void* data, size_t bytes);
    int Complete(const unsigned char* terminatingData, int64_t terminatingBytes,
                 int64_t wavTerminatingBytes);
    // Sticky failure: the output is deleted and every later call returns `result`.
    int Fail(int result);
    // Closes the output and deletes it unless it was finished (or is not a regular file).
    void DiscardOutput();
    void Abandon();

    State m_state = State::Idle;
    int m_failure = ape::Success;
    ZrFile m_file;
    bool m_outputIsRegularFile = false;
    bool m_ownsOutput = false; // created by Start and not finished yet

    uint32_t m_blockAlign = 0;
    uint32_t m_blocksPerFrame = 0;
    ape::Descriptor m_descriptor;
    ape::Header m_header;
    std::unique_ptr<ape::CApeFrameEncoder> m_frames;

    size_t m_frameBytes = 0;    // PCM bytes of a whole frame
    std::vector<uint8_t> m_pcm; // PCM of the frame being filled (grows up to m_frameBytes)
    size_t m_pcmBytes = 0;
    // Frame data in stream order not yet written (at most three bytes between frames): the
    // file holds it in 32-bit words, most significant byte first, each stored little-endian.
    std::unique_ptr<uint8_t[]> m_stream;
    size_t m_streamCapacity = 0;
    size_t m_streamPending = 0;
    uint64_t m_streamBytes = 0; // frame data produced so far, written or not
    uint64_t m_dataStart = 0;   // file offset of the frame data
    std::vector<uint32_t> m_seekTable;
    uint32_t m_frameCount = 0;
    uint32_t m_lastFrameBlocks = 0;
    md5_ctx m_md5{};
};
