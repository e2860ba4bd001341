// Small encoders for exercising the frame: the property protocol and the settings sequence.
#pragma once

#include "frame/ZrEncoderBase.h"
#include "frame/ZrHostLibraries.h"
#include "frame/ZrSetting.h"

// Five integer settings with the defaults and order of a real compressing encoder.
class FiveKeyTestEncoder : public ZrEncoderBase {
public:
    static constexpr ZrIntSetting Quality{u"Quality", 6, 0};
    static constexpr ZrIntSetting Verify{u"Verify", 0, 0};
    static constexpr ZrIntSetting AddPB{u"AddPB", 1, 0};
    static constexpr ZrIntSetting AddST{u"AddST", 1, 0};
    static constexpr ZrIntSetting Ogg{u"Ogg", 0, 0};

    FiveKeyTestEncoder() : ZrEncoderBase(nullptr) {}

    void SaveSettings() override {
        for (const ZrIntSetting* s : {&Quality, &Verify, &AddPB, &AddST, &Ogg})
            s->Save(Settings);
    }
    void LoadSettings() override {
        const int32_t q = Quality.Get(Settings);
        if (q < 0 || q > 8)
            Quality.Set(Settings, q < 0 ? 0 : 8);
    }
    ZrString& GetDisplayName(ZrString& out) override { return out = u"Five Key Encoder"; }
    ZrString& GetExtension(ZrString& out) override {
        return out = Ogg.Get(Settings) ? u"ogg" : u"fk";
    }
    int32_t GetEstimatedBitrate() override { return 900; }
    bool EncodeBuffer(uint8_t* data, uint64_t bytes) override {
        Received.insert(Received.end(), data, data + bytes);
        return true;
    }
    bool Start(const WAVEFORMATEX* format, int64_t bytes) {
        return ZrEncoderBase::StartBufferBased(format, bytes);
    }
    bool SendStreamingHeader() { return WriteStreamingWavHeader(); }
    void SetError(const char16_t* text) { LastError = text; }

    // The property as a ZrString, the system string freed.
    ZrString Property(const char16_t* name) { return ZrTakeSysString(GetProperty(name)); }

    std::vector<uint8_t> Received;
};

// An encoder that takes files, not buffers, and lists supported depths.
class FileTestEncoder : public ZrEncoderBase {
public:
    FileTestEncoder() : ZrEncoderBase(nullptr) {}
    bool IsBufferInput() override { return false; }
    bool IsWavFileInput() override { return true; }
    void GetSupportedBitdepths(std::vector<int32_t>& out) override { out = {16, 24}; }
    ZrString& GetDisplayName(ZrString& out) override { return out = u""; }
    ZrString& GetExtension(ZrString& out) override { return out = u"x"; }
    int32_t GetEstimatedBitrate() override { return 0; }
    ZrString Property(const char16_t* name) { return ZrTakeSysString(GetProperty(name)); }
};
