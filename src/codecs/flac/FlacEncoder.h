// CFlacEncoder: FLAC, or FLAC in an Ogg stream, from the host's PCM buffers through the
// libFLAC++ stream encoder, written to the destination file by the encoder's own callbacks.
#pragma once

#include "codecs/flac/FlacSeekTable.h"
#include "foundation/ZrFile.h"
#include "frame/ZrEncoderBase.h"

#include <FLAC++/encoder.h>
#include <FLAC++/metadata.h>
#include <cstddef>
#include <cstdint>

class ZrTraceScope;

class CFlacEncoder final : public ZrEncoderBase, private FLAC::Encoder::Stream {
public:
    // libFLAC refuses more channels at initialisation.
    static constexpr uint32_t MaxChannels = 8;
    // Frames handed to libFLAC per call; the library gathers them into blocks itself.
    static constexpr uint32_t SliceFrames = 20;
    static constexpr size_t StagingBytes = 49152;
    static constexpr uint32_t ChannelSamples = 2048;
    static constexpr uint32_t PaddingBytes = 4096;

    explicit CFlacEncoder(IZrEncoderCallback* hostCallback);
    ~CFlacEncoder() override;

    bool StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) override;
    bool EncodeBuffer(uint8_t* data, uint64_t bytes) override;
    // True unless the stream fails only now (last block, header rewrite, close); a stream that
    // failed earlier was reported by the call that failed.
    bool FinishBufferBased() override;
    ZrString& GetDisplayName(ZrString& out) override;
    ZrString& GetExtension(ZrString& out) override;
    int32_t GetEstimatedBitrate() override { return 900; }
    bool Options() override;
    void SaveSettings() override;

private:
    // libFLAC calls these from init, process and finish on the caller's thread.
    ::FLAC__StreamEncoderWriteStatus write_callback(const FLAC__byte buffer[], size_t bytes,
                                                    uint32_t samples,
                                                    uint32_t currentFrame) override;
    ::FLAC__StreamEncoderReadStatus read_callback(FLAC__byte buffer[], size_t* bytes) override;
    ::FLAC__StreamEncoderSeekStatus seek_callback(FLAC__uint64 absoluteByteOffset) override;
    ::FLAC__StreamEncoderTellStatus tell_callback(FLAC__uint64* absoluteByteOffset) override;

    // The bodies of the slots of the same names.
    bool Start(ZrTraceScope& scope, const WAVEFORMATEX* format, int64_t expectedBytes);
    bool Encode(ZrTraceScope& scope, const uint8_t* data, uint64_t bytes);
    bool Configure(uint64_t totalSamples, ZrTraceScope& scope);
    bool AddMetadata(uint64_t totalSamples, ZrTraceScope& scope);
    bool Deinterleave(uint32_t frames, uint32_t channels, uint32_t bits);
    ZrString ProcessFailure();

    ZrFile m_file;
    // Set by the first failed write or read; every later one fails at once.
    bool m_writeFailed = false;
    // init succeeded and finish has not run yet.
    bool m_started = false;
    CFlacSeekTable m_seekTable;
    FLAC__StreamMetadata m_padding;
    // The speakers, where they are not the format's own for the channel count.
    FLAC::Metadata::VorbisComment m_layout;
    FLAC__StreamMetadata* m_metadata[3] = {};
    // Everything a buffer passes through lives here, so encoding allocates nothing.
    uint8_t m_staging[StagingBytes];
    FLAC__int32 m_channelData[MaxChannels][ChannelSamples];
    const FLAC__int32* m_channels[MaxChannels] = {};
};
