#include "codecs/dsd/player/ZrAudioPlayer.h"

#include "codecs/dsd/player/ZrSoxrFormatConverter.h"

namespace {

// Scales every sample by the configured value; works on interleaved 64-bit floats.
class ZrGainProcessor final : public IZrAudioProcessor {
public:
    void ProcessInPlace(void* data, uint32_t frames) override {
        auto* samples = static_cast<double*>(data);
        const size_t count = size_t{frames} * m_channels;
        for (size_t i = 0; i < count; ++i)
            samples[i] *= m_gain;
    }
    void Configure(double value) override { m_gain = value; }
    bool SetFormat(const ZrAudioFormat& format) override {
        if (!format.IsFloat() || format.BitsPerSample != 64 || format.Channels == 0)
            return false;
        m_channels = format.Channels;
        return true;
    }

private:
    double m_gain = 1.0;
    uint32_t m_channels = 0; // nothing is touched until a format is set
};

class ZrAudioPlayer final : public IZrAudioPlayer {
public:
    std::unique_ptr<IZrAudioProcessor> CreateProcessor(int32_t code, uint32_t) override {
        if (code != GainProcessor)
            return nullptr;
        return std::make_unique<ZrGainProcessor>();
    }
    std::unique_ptr<IZrAudioFormatConverter> CreateFormatConverter() override {
        return std::make_unique<ZrSoxrFormatConverter>();
    }
};

} // namespace

IZrAudioPlayer* ZrGetAudioPlayer() {
    static ZrAudioPlayer player;
    return &player;
}
