// ZrEncoderBase: what every encoder shares — file names, last error, input format, settings —
// and the property protocol through which the host reaches everything else.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "foundation/ZrLog.h"
#include "foundation/ZrString.h"
#include "frame/ZrAudioFormat.h"
#include "frame/ZrPropertyMap.h"
#include "tessary/IZrEncoder.h"
#include "tessary/IZrEncoderCallback.h"

class ZrEncoderBase : public IZrEncoder {
public:
    explicit ZrEncoderBase(IZrEncoderCallback* hostCallback);
    ZrEncoderBase(const ZrEncoderBase&) = delete;
    ZrEncoderBase& operator=(const ZrEncoderBase&) = delete;
    ~ZrEncoderBase() override;

    bool EncodeFile() override { return false; }
    bool Cancel() override { return false; }
    // Clears LastError; false for a null format or an encoder without buffer input; otherwise
    // takes the format into Format and succeeds. Encoders that override it call it first.
    bool StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) override;
    bool EncodeBuffer(uint8_t*, uint64_t) override { return false; }
    bool FinishBufferBased() override { return false; }
    bool Options() override { return false; }
    bool CheckDependencies() override { return true; }
    ZrSysString GetProperty(const char16_t* name) override;
    bool SetProperty(const char16_t* name, const char16_t* value) override;
    bool IsWavFileInput() override { return false; }
    bool IsAnyFormatFileInput() override { return false; }
    bool IsBufferInput() override { return true; }
    bool IsStreaming() override { return false; }
    bool IsUncompressedWavOutput() override { return false; }
    void SaveSettings() override {}
    void LoadSettings() override {}
    int32_t GetConfigurable() override { return 1; }
    void GetSupportedBitdepths(std::vector<int32_t>&) override {}

    // The settings map, for options windows and tests.
    ZrPropertyMap& SettingsMap() { return Settings; }
    const ZrString& GetLastError() const { return LastError; }
    const ZrAudioFormat& InputFormat() const { return Format; }

protected:
    // Hands the 44-byte streaming WAV header (sizes 0x80000023 and 0x7FFFFFFF, tag 1, channels,
    // rate and bits of Format) to this encoder's own EncodeBuffer; returns its result.
    bool WriteStreamingWavHeader();

    // The one way a slot fails with a reason: `reason` becomes the last error, "ERROR - <reason>"
    // goes to the log under the scope's name (a silent scope included), and the result is false.
    bool Fail(ZrTraceScope& scope, const ZrString& reason) noexcept;

    // Runs a slot's body so that no exception crosses the interface: one that escapes fails the
    // slot through Fail with a readable reason ("out of memory", ...). Every slot that can throw
    // reads `return Guarded(scope, [&] { ... });`. `undo`, when given, runs first after such an
    // exception, to let go of what the body had half done.
    template <typename Body, typename Undo>
    bool Guarded(ZrTraceScope& scope, Body&& body, Undo&& undo) noexcept {
        try {
            return body();
        } catch (...) {
            try {
                undo();
            } catch (...) {
                // The exception's own reason is the one to report.
            }
            return FailWithCurrentException(scope);
        }
    }
    template <typename Body>
    bool Guarded(ZrTraceScope& scope, Body&& body) noexcept {
        return Guarded(scope, std::forward<Body>(body), [] {});
    }

    IZrEncoderCallback* HostCallback;
    ZrString SourceFilename;
    ZrString DestinationFilename;
    bool AddOutputExtension = true;
    ZrAudioFormat Format;
    ZrString LastError;
    bool AutoConfig = false;
    int32_t AutoConfigFor = -1;
    ZrPropertyMap Settings;

private:
    ZrSysString PropertyText(const char16_t* name);
    bool StoreProperty(const char16_t* name, const char16_t* value);
    // Only inside a catch block.
    bool FailWithCurrentException(ZrTraceScope& scope) noexcept;
};

// The streaming header's bytes, for encoders and tests.
void ZrBuildStreamingWavHeader(const ZrAudioFormat& format, uint8_t header[44]);
