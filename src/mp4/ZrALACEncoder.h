// The Apple Lossless encoder: PCM from the host in packets of 4096 frames, compressed by
// ALACEncoder and stored in an M4A file by CMP4File.
#pragma once

#include "frame/ZrEncoderBase.h"
#include "mp4/ALACEncoder.h"
#include "mp4/MP4File.h"

#include <memory>
#include <vector>

class ZrALACEncoder final : public ZrEncoderBase {
public:
    static constexpr uint32_t FramesPerPacket = 4096;

    explicit ZrALACEncoder(IZrEncoderCallback* callback);
    // A started encoder that was not finished leaves the raw packets in the destination.
    ~ZrALACEncoder() override;

    // Accepts integer PCM of 16, 20 (in 3-byte containers) and 24 bits, 1 to 8 channels.
    bool StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) override;
    bool EncodeBuffer(uint8_t* data, uint64_t bytes) override;
    bool FinishBufferBased() override;
    ZrString& GetDisplayName(ZrString& out) override;
    ZrString& GetExtension(ZrString& out) override;
    int32_t GetEstimatedBitrate() override { return 900; }
    int32_t GetConfigurable() override { return 0; }

private:
    // The bodies of the slots of the same names.
    bool Start(ZrTraceScope& scope, const WAVEFORMATEX* format, int64_t expectedBytes);
    bool Encode(ZrTraceScope& scope, const uint8_t* data, uint64_t bytes);
    bool Finish(ZrTraceScope& scope);
    bool EncodePacket(ZrTraceScope& scope, const uint8_t* pcm, uint32_t bytes, uint32_t frames);
    void Release();

    std::unique_ptr<ALACEncoder> m_encoder;
    std::unique_ptr<CMP4File> m_file;
    std::unique_ptr<AudioFormatDescription> m_inputDescription;
    std::unique_ptr<AudioFormatDescription> m_outputDescription;
    const WAVEFORMATEX* m_hostFormat = nullptr; // not copied
    std::vector<uint8_t> m_carryOver;           // input that did not fill a whole packet
    std::vector<uint8_t> m_packet;              // the compressed packet of one encode call
    uint32_t m_packetInputBytes = 0;
};
