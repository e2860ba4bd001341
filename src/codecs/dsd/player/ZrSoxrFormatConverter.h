// The player's sample-format converter on libsoxr: integer or float PCM in, interleaved 64-bit
// floats at the output rate out, nominal full scale +-1.0, streamed through the sink.
#pragma once

#include "codecs/dsd/player/ZrAudioPlayer.h"
#include "foundation/ZrPcm.h"

#include <cstdint>
#include <memory>
#include <vector>

struct soxr;

class ZrSoxrFormatConverter final : public IZrAudioFormatConverter {
public:
    ZrSoxrFormatConverter();
    ~ZrSoxrFormatConverter() override;

    bool Init(const ZrAudioFormat& input, const ZrAudioFormat& output,
              IZrAudioPlayerFormatConverterOutput* sink, int32_t quality, bool dither, bool clip,
              uint32_t maxChunkFrames, uint32_t channelMask, bool downmix, bool interleaved,
              bool steep, bool allowAliasing, IZrAudioProcessor* processor, bool applyProcessor,
              const uint8_t* channelMap, bool bigEndianInput, int32_t phase,
              uint32_t startFrames) override;
    bool Feed(const void* data, uint64_t frames, uint32_t flags, bool discontinuity) override;
    bool Drain(bool endOfStream) override;

private:
    struct SoxrDelete {
        void operator()(soxr* resampler) const noexcept;
    };

    void ToDouble(const uint8_t* data, size_t frames);
    bool Resample(const double* data, size_t frames);
    void Deliver(double* data, size_t frames);

    IZrAudioPlayerFormatConverterOutput* m_sink = nullptr;
    IZrAudioProcessor* m_processor = nullptr;
    std::unique_ptr<soxr, SoxrDelete> m_resampler; // null when the rates are equal
    zrpcm::Sample m_sample = zrpcm::Sample::S16;
    uint32_t m_channels = 0;
    uint32_t m_inputFrameBytes = 0;
    uint32_t m_maxChunkFrames = 0;
    uint64_t m_framesToSkip = 0;
    bool m_clip = false;
    bool m_bigEndian = false;
    bool m_ready = false;
    std::vector<double> m_input;    // one slice of input as doubles
    std::vector<uint8_t> m_swapped; // one slice of big-endian input turned little-endian
    std::vector<double> m_output;   // one slice of resampled output
};
