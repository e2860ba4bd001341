// AIFFEncoder ("AIFF Encoder"): the host's PCM in an AIFF file, big-endian. No settings.
#pragma once

#include "containers/AiffCreator.h"
#include "frame/ZrEncoderBase.h"

class AIFFEncoder : public ZrEncoderBase {
public:
    explicit AIFFEncoder(IZrEncoderCallback* callback) : ZrEncoderBase(callback) {}

    bool StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) override;
    bool EncodeBuffer(uint8_t* data, uint64_t bytes) override;
    bool FinishBufferBased() override;
    ZrString& GetDisplayName(ZrString& out) override { return out = u"AIFF Encoder"; }
    ZrString& GetExtension(ZrString& out) override { return out = u"aif"; }
    int32_t GetEstimatedBitrate() override;
    bool IsStreaming() override { return true; }
    int32_t GetConfigurable() override { return 0; }

private:
    // The body of StartBufferBased.
    bool Start(ZrTraceScope& scope, const WAVEFORMATEX* format, int64_t expectedBytes);
    AIFFCreator Creator;
};
