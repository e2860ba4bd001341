// CDSDEncoderPlugin: the DSD encoder as the host sees it. PCM in, a DSF file of one-bit DSD at
// 64, 128, 256 or 512 x 44.1 kHz out. The engine (CDSDEncoder) makes the bits; this class owns
// the file, writes the provisional header at start, the blocks as they fill, and the real sizes
// at finish. Failures are reported by the result alone; only an exception also leaves a reason.
#pragma once

#include "codecs/dsd/DSDEncoder.h"
#include "codecs/dsd/DsfFile.h"
#include "frame/ZrEncoderBase.h"

#include <cstdint>
#include <memory>
#include <vector>

class CDSDEncoderPlugin final : public ZrEncoderBase {
public:
    explicit CDSDEncoderPlugin(IZrEncoderCallback* callback);
    // Leaves an unfinished file as far as it got, with its provisional header.
    ~CDSDEncoderPlugin() override;

    bool StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) override;
    bool EncodeBuffer(uint8_t* data, uint64_t bytes) override;
    bool FinishBufferBased() override;
    ZrString& GetDisplayName(ZrString& out) override { return out = u"DSD"; }
    ZrString& GetExtension(ZrString& out) override { return out = u"dsf"; }
    int32_t GetEstimatedBitrate() override { return 5644; }
    bool Options() override;
    void SaveSettings() override;
    void LoadSettings() override;

    // The engine's output format of the running job (8-bit frames at the DSD rate / 8).
    const ZrAudioFormat& OutputFormat() const { return m_outputFormat; }

private:
    bool Start(const WAVEFORMATEX* format, int64_t expectedBytes);
    bool Encode(const uint8_t* data, uint64_t bytes);
    bool Finish();
    bool KeepFileFailure();
    void FillHeader(uint32_t dsdRate, int64_t expectedBytes);
    void Abandon();

    ZrAudioFormat m_inputFormat;
    ZrAudioFormat m_outputFormat;
    std::unique_ptr<CDSFWriter> m_file;
    std::unique_ptr<CDSDEncoder> m_engine;
    std::vector<uint8_t> m_pending; // the start of a frame that a buffer cut off
};
