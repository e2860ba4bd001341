// AIFFCreator: the WAV writer's file handling and sample writing with an AIFF header. 16-, 24-
// and 32-bit samples are stored big-endian, 8-bit samples signed, as AIFF readers expect.
// Floating-point input goes into the AIFF-C form ("fl32"/"fl64"), the only one that can say so.
#pragma once

#include "containers/WavCreator.h"

#include <cstdint>

// One header layout: the plain AIFF form for integer samples, the AIFF-C form for float.
struct ZrAiffHeader {
    static constexpr size_t MaxSize = 92;

    size_t Size;              // bytes before the sample data
    uint64_t FramesOffset;    // COMM sample-frame count, patched at the end
    uint64_t SoundSizeOffset; // SSND chunk size (data + 8), patched at the end

    static ZrAiffHeader For(bool floatSamples);
    // The header with the sizes derived from `expectedBytes`; `frameSize` is not 0.
    void Build(const ZrAudioFormat& format, uint64_t expectedBytes, int32_t frameSize,
               uint8_t out[MaxSize]) const;
    // The rate as an 80-bit IEEE extended number (sign, 15-bit exponent, 64-bit mantissa).
    static void EncodeRate(uint32_t rate, uint8_t out[10]);
};

class AIFFCreator : public CWAVCreator {
public:
    AIFFCreator() = default;
    ~AIFFCreator() override;

    // Why AIFF cannot hold integer PCM or float samples of this (plain) format: a frame of
    // fewer than 8 bits, a rate of 0, integer samples wider than 32 bits. Empty when it can, and
    // for other sample types, which Start refuses without a reason of its own.
    static ZrString Refusal(const ZrAudioFormat& plain);
    // As CWAVCreator::Start, with the AIFF header; a Refusal fails it before the file is touched.
    int Start(const ZrString& fileName, const ZrAudioFormat& format, int64_t expectedBytes);
    // As CWAVCreator::Write, after turning 8-bit samples signed and 32/64-bit samples big-endian.
    int Write(uint8_t* data, uint64_t length);
    // Pads an odd-length file with one zero byte and patches the sizes; -1 (with the reason
    // kept) when the patch or the close failed.
    int Finish();

    // Whether the last Start refused an expected size past the 32-bit sizes of the format.
    bool RefusedAsTooLarge() const noexcept { return m_tooLarge; }

    int32_t FrameSize = 4; // bytes per sample frame, set at each start

private:
    ZrAiffHeader m_layout = ZrAiffHeader::For(false);
    bool m_tooLarge = false;
};
