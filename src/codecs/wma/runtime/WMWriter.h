// The runtime's writer: PCM in, Windows Media Audio (libavcodec's wmav2) in ASF out, through
// libavformat's muxer into a temporary file beside the destination.
//
// wmav2 takes one or two channels at up to 48 kHz as floating point; every other PCM input is
// converted by libswresample: integer and float samples of any width to float, more than two
// channels mixed down to stereo, rates above 48 kHz resampled to 44.1 kHz (multiples of
// 11,025 Hz) or 48 kHz, rates below 8 kHz up to 8 kHz. The codec has no VBR mode: a VBR profile
// is written at constant bit rate, its bitrate attribute.
#pragma once

#include "codecs/wma/runtime/AsfHeader.h"
#include "codecs/wma/runtime/WMRuntime.h"

#include <memory>

class CWMWriter final : public IWMWriter, private IWMHeaderInfo {
public:
    CWMWriter();
    ~CWMWriter() override;

    WMStatus SetProfile(const WMProfile& profile) override;
    WMStatus SetOutputFilename(const std::string& path) override;
    WMStatus GetInputCount(uint32_t* count) override;
    WMStatus GetInputProps(uint32_t input, std::unique_ptr<IWMInputMediaProps>& out) override;
    WMStatus SetInputProps(uint32_t input, const IWMInputMediaProps& props) override;
    WMStatus BeginWriting() override;
    WMStatus AllocateSample(uint32_t bytes, std::unique_ptr<INSSBuffer>& out) override;
    WMStatus WriteSample(uint32_t input, uint64_t time, uint32_t flags,
                         INSSBuffer& sample) override;
    WMStatus Flush() override;
    WMStatus EndWriting() override;
    IWMHeaderInfo* HeaderInfo() override { return this; }
    const std::string& LastErrorText() const override { return m_error; }

    // The format the codec is given, for tests and logs: valid after BeginWriting.
    uint32_t OutputRate() const { return m_outputRate; }
    uint32_t OutputChannels() const { return m_outputChannels; }

private:
    WMStatus GetAttributeByName(uint16_t stream, std::u16string_view name,
                                WMAttribute& out) override;
    WMStatus SetAttribute(uint16_t stream, std::u16string_view name,
                          const WMAttribute& value) override;

    WMStatus Fail(WMStatus status, std::string text);
    WMStatus FailLibrary(int code, const char* what);
    WMStatus Convert(const uint8_t* data, uint32_t frames);
    WMStatus SendFrame(bool last);
    WMStatus Drain();
    void Discard();

    struct Codec;
    std::unique_ptr<Codec> m_codec;
    WMProfile m_profile;
    bool m_haveProfile = false;
    std::string m_path;
    std::string m_temporary;
    WMMediaType m_input;
    bool m_haveInput = false;
    enum class State { Setup, Writing, Ended, Broken } m_state = State::Setup;

    // The input, from its wave-format record.
    uint16_t m_channels = 0;
    uint32_t m_rate = 0;
    uint16_t m_blockAlign = 0;
    uint16_t m_containerBits = 0;
    bool m_float = false;
    uint32_t m_outputRate = 0;
    uint32_t m_outputChannels = 0;

    std::vector<uint8_t> m_carry; // a frame split across samples
    std::vector<int32_t> m_wide;  // 24-bit samples widened for the converter
    int m_frameFill = 0;
    int64_t m_framesOut = 0;
    std::vector<CAsfHeader::Entry> m_attributes;
    std::string m_error;
};
