// CApeEncoder: Monkey's Audio (APE) files through CApeCompressor. The PCM goes to the compressor
// unchanged; every result of the compressor that is not 0 makes the slot fail.
#pragma once

#include "codecs/ape/ApeCompressor.h"
#include "frame/ZrEncoderBase.h"

#include <memory>

class CApeEncoder final : public ZrEncoderBase {
public:
    explicit CApeEncoder(IZrEncoderCallback* hostCallback) : ZrEncoderBase(hostCallback) {}
    ~CApeEncoder() override;

    // Starts a new compressor on DestinationFilename at the level of "Compression". An
    // expected size of -1 stays unknown; any other is given as the maximum x 1.2.
    bool StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) override;
    bool EncodeBuffer(uint8_t* data, uint64_t bytes) override;
    bool FinishBufferBased() override;
    ZrString& GetDisplayName(ZrString& out) override;
    ZrString& GetExtension(ZrString& out) override;
    int32_t GetEstimatedBitrate() override { return 900; }
    bool Options() override;
    void SaveSettings() override;
    void LoadSettings() override;

    // The compressor's maximum audio bytes for a host's expected size.
    static int64_t MaxAudioBytesFor(int64_t expectedBytes);

private:
    bool KeepFileFailure(bool ok);
    std::unique_ptr<CApeCompressor> m_compressor;
};
