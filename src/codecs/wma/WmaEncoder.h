// CWmaEncoder: Windows Media Audio in ASF from the host's PCM buffers, through the Windows Media
// runtime's writer (codecs/wma/runtime), with the profile the settings choose from the files in
// the program directory's "Plugins/WMAProfiles", and two header attributes stamped on the
// finished file.
#pragma once

#include "codecs/wma/runtime/WMRuntime.h"
#include "frame/ZrEncoderBase.h"

#include <cstdint>
#include <memory>
#include <string>

class CWmaEncoder final : public ZrEncoderBase {
public:
    explicit CWmaEncoder(IZrEncoderCallback* hostCallback);
    ~CWmaEncoder() override;

    bool StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) override;
    bool EncodeBuffer(uint8_t* data, uint64_t bytes) override;
    bool FinishBufferBased() override;
    bool Options() override;
    bool CheckDependencies() override;
    ZrString& GetDisplayName(ZrString& out) override;
    ZrString& GetExtension(ZrString& out) override;
    int32_t GetEstimatedBitrate() override;
    void SaveSettings() override;

    // The presentation time of the next sample, in 100-nanosecond units.
    uint64_t SampleTime() const { return m_sampleTime; }
    // The profile file the settings choose ("" for none), given the runtime's major version
    // (which picks the lossless profile).
    std::string ProfileFile(int runtimeMajorVersion) const;
    // The program directory's profile folder, with a trailing '/'.
    static std::string ProfileFolder();

private:
    bool Start(ZrTraceScope& scope, const WAVEFORMATEX* format, int64_t expectedBytes);
    bool Encode(ZrTraceScope& scope, const uint8_t* data, uint64_t bytes);
    bool Finish(ZrTraceScope& scope);
    bool SetUpWriter(ZrTraceScope& scope, ZrWMFactory& factory);
    bool LoadProfile(ZrTraceScope& scope, ZrWMFactory& factory, WMProfile& out);
    void StampHeader(ZrTraceScope& scope);
    bool FailWriter(ZrTraceScope& scope, const char* what);

    std::unique_ptr<IWMWriter> m_writer;
    uint64_t m_sampleTime = 0;
};
