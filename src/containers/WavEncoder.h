// CWavEncoder ("Uncompressed Wave"): the host's PCM unchanged in a WAV file, or as headerless
// raw PCM in little- or big-endian byte order (extensions "l16" and "l24").
#pragma once

#include "containers/WavCreator.h"
#include "frame/ZrEncoderBase.h"
#include "frame/ZrSetting.h"

class CWavEncoder : public ZrEncoderBase {
public:
    // Exactly 1 means no header; any other value keeps it.
    static constexpr ZrIntSetting NoHeader{u"NOHDR", 0, 0};
    // Not 0: big-endian samples; with no header also the extension "l16" or "l24".
    static constexpr ZrIntSetting L16{u"L16", 0, 0};
    static constexpr ZrIntSetting L24{u"L24", 0, 0};

    explicit CWavEncoder(IZrEncoderCallback* callback) : ZrEncoderBase(callback) {}

    bool StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) override;
    bool EncodeBuffer(uint8_t* data, uint64_t bytes) override;
    bool FinishBufferBased() override;
    // The "WAVE/AIFF plugin configuration" window; true when closed with OK.
    bool Options() override;
    ZrString& GetDisplayName(ZrString& out) override { return out = u"Uncompressed Wave"; }
    ZrString& GetExtension(ZrString& out) override;
    int32_t GetEstimatedBitrate() override;
    bool IsStreaming() override { return true; }
    bool IsUncompressedWavOutput() override { return true; }
    void SaveSettings() override;

private:
    // The body of StartBufferBased.
    bool Start(ZrTraceScope& scope, const WAVEFORMATEX* format, int64_t expectedBytes);
    bool Headerless() const { return NoHeader.Get(Settings) == 1; }
    bool BigEndianRaw() const { return L16.Get(Settings) != 0 || L24.Get(Settings) != 0; }

    CWAVCreator Creator;
};
