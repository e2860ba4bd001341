// ALACEncoder: Apple Lossless compression of one packet per call, on libavcodec's ALAC encoder.
//
// Calls: construct, SetFrameSize, InitializeEncoder (with the output description), Encode per
// packet, Finish, then the values of the configuration record. Every call that can fail returns
// a status: 0 for success, negative for a failure whose reason ErrorText() gives.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

// A description of an audio stream: the input PCM or the compressed output.
struct AudioFormatDescription {
    double SampleRate = 0;
    uint32_t FormatId = 0;
    uint32_t FormatFlags = 0;
    uint32_t BytesPerPacket = 0;
    uint32_t FramesPerPacket = 0;
    uint32_t BytesPerFrame = 0;
    uint32_t ChannelsPerFrame = 0;
    uint32_t BitsPerChannel = 0;
    uint32_t Reserved = 0;
};

inline constexpr uint32_t AlacFormatId = 0x616C6163;      // "alac"
inline constexpr uint32_t LinearPcmFormatId = 0x6C70636D; // "lpcm"
// Input flags: signed integer (4) and packed (8), little-endian.
inline constexpr uint32_t LinearPcmFlagsSignedPacked = 12;
// Output flags by source bit depth: 16, 20, 24 and 32 bits.
inline constexpr uint32_t AlacFlags16Bit = 1;
inline constexpr uint32_t AlacFlags20Bit = 2;
inline constexpr uint32_t AlacFlags24Bit = 3;
inline constexpr uint32_t AlacFlags32Bit = 4;

class ALACEncoder {
public:
    static constexpr uint32_t DefaultFrameSize = 4096;
    static constexpr int32_t StatusOk = 0;
    static constexpr int32_t StatusParameterError = -50;
    static constexpr int32_t StatusLibraryError = -1;

    explicit ALACEncoder(uint32_t frameSize = DefaultFrameSize, bool fastMode = false);
    ALACEncoder(const ALACEncoder&) = delete;
    ALACEncoder& operator=(const ALACEncoder&) = delete;
    ~ALACEncoder();

    void SetFrameSize(uint32_t frames) { m_frameSize = frames; }
    // Opens the codec for the output's rate, channels (1 to 8) and bit depth. 16-bit sources
    // are coded as 16 bits; 20 and 24-bit sources as 24 bits, which holds them losslessly.
    // 32-bit sources are refused: the codec library cannot store them without loss.
    int32_t InitializeEncoder(const AudioFormatDescription& output);
    // Encodes the interleaved little-endian frames at `in` (the input description gives their
    // layout) as one packet into `out`, which holds MaxPacketBytes(). `ioNumBytes`: the input
    // byte count in, the packet's byte count out.
    int32_t Encode(const AudioFormatDescription& input, const AudioFormatDescription& output,
                   const uint8_t* in, uint8_t* out, int32_t* ioNumBytes);
    int32_t Finish();

    uint32_t GetFrameSize() const { return m_frameSize; }
    uint32_t GetBitDepth() const { return m_bitDepth; }
    uint32_t GetChannelCount() const { return m_channels; }
    uint32_t GetMaxFrameBytes() const { return m_maxFrameBytes; }
    uint32_t GetAverageBitRate() const;
    uint32_t GetOutputSampleRate() const { return m_sampleRate; }
    uint64_t GetTotalBytes() const { return m_totalBytes; }
    // The output buffer every Encode call needs: ((source bits + 10) / 8) x channels x frame
    // size + 1024 bytes.
    size_t MaxPacketBytes() const;
    const std::string& ErrorText() const { return m_error; }

    // The Rice parameters of the codec's entropy coder (the pb, mb and kb of the record).
    static constexpr uint8_t HistoryMult = 40, InitialHistory = 10, KModifier = 14;

private:
    int32_t Fail(int32_t status, std::string text);
    int32_t FailLibrary(int code, const char* what);
    void Deinterleave(const uint8_t* in, uint32_t frames, uint32_t containerBytes);

    struct Codec;
    std::unique_ptr<Codec> m_codec;
    uint32_t m_frameSize;
    bool m_fastMode;
    uint32_t m_bitDepth = 0;   // coded: 16 or 24
    uint32_t m_sourceBits = 0; // 16, 20 or 24
    uint32_t m_channels = 0;
    uint32_t m_sampleRate = 0;
    uint32_t m_maxFrameBytes = 0;
    uint64_t m_totalBytes = 0;
    uint64_t m_totalFrames = 0;
    std::string m_error;
};
