// CDSDEncoder: the signal engine of the DSD encoder. The player's converter turns the input PCM
// into 64-bit floats at an intermediate rate (352.8 kHz, or the input's own rate when that is
// already 1/8 of the DSD rate); the modulator turns them into one-bit samples at the DSD rate,
// eight to a byte.
#pragma once

#include "codecs/dsd/DsdModulator.h"
#include "codecs/dsd/player/ZrAudioPlayer.h"
#include "frame/ZrAudioFormat.h"

#include <cstdint>
#include <memory>
#include <vector>

class CDSDEncoder final : public IZrAudioPlayerFormatConverterOutput {
public:
    // Takes the next dither seed of the process.
    CDSDEncoder();
    ~CDSDEncoder();
    CDSDEncoder(const CDSDEncoder&) = delete;
    CDSDEncoder& operator=(const CDSDEncoder&) = delete;

    // False for a DSD rate other than 64, 128, 256 or 512 x 44.1 kHz, or an input the
    // converter cannot take.
    bool Init(const ZrAudioFormat& input, uint32_t dsdRate);
    // Feeds `frames` frames of input PCM (none with a null buffer) through the converter and
    // modulates everything it has delivered; `final` drains the converter first.
    bool Process(const uint8_t* pcm, uint64_t frames, bool final);

    void OnConvertedData(void* data, uint32_t frames) override;
    uint32_t GetMaxFrames() override { return 0x7FFFFFFF; }

    // The modulator's bytes not yet taken: byte k of channel c at k * channels + c.
    std::vector<uint8_t>& Output() { return m_output; }
    const ZrAudioFormat& OutputFormat() const { return m_outputFormat; }
    const ZrAudioFormat& IntermediateFormat() const { return m_intermediateFormat; }
    uint32_t Ratio() const { return m_ratio; }

    static uint32_t IntermediateRate(uint32_t inputRate, uint32_t dsdRate);

private:
    bool m_initialised = false;
    ZrAudioFormat m_inputFormat;
    ZrAudioFormat m_intermediateFormat;
    ZrAudioFormat m_outputFormat;
    uint32_t m_ratio = 0; // one-bit samples per intermediate sample: 8, 16, 32 or 64
    std::vector<double> m_converted;
    std::vector<uint8_t> m_output;
    std::vector<ZrDsdModulatorState> m_states;
    std::unique_ptr<IZrAudioProcessor> m_processor;
    std::unique_ptr<IZrAudioFormatConverter> m_converter;
    uint32_t m_dither;
};
