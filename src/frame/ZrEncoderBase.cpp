#include "frame/ZrEncoderBase.h"

#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "foundation/ZrNumber.h"
#include "foundation/ZrWavHeader.h"
#include "tessary/ZrTools.h"

namespace {

// Made while memory is plentiful: the one reason that must not need an allocation.
const ZrString OutOfMemory(u"out of memory");

ZrString DescribeCurrentException() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    } catch (const std::exception& e) {
        const char* what = e.what();
        return ZrString::Format("internal error: %s", what && *what ? what : "unknown");
    } catch (...) {
        return ZrString(u"internal error: unknown exception");
    }
}

ZrSysString ToSys(const ZrString& text) { return SysAllocStringLen(text.c_str(), text.Length()); }

ZrSysString ToSys(std::u16string_view text) {
    return SysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()));
}

ZrSysString ToSys(bool value) { return SysAllocString(value ? u"1" : u"0"); }

ZrSysString ToSys(int64_t value) { return ToSys(std::u16string_view(ZrFormatInt(value))); }

} // namespace

ZrEncoderBase::ZrEncoderBase(IZrEncoderCallback* hostCallback) : HostCallback(hostCallback) {}

ZrEncoderBase::~ZrEncoderBase() = default;

bool ZrEncoderBase::StartBufferBased(const WAVEFORMATEX* format, int64_t) {
    LastError.Empty();
    if (!format || !IsBufferInput())
        return false;
    Format.FromWaveFormat(format);
    return true;
}

bool ZrEncoderBase::Fail(ZrTraceScope& scope, const ZrString& reason) noexcept {
    LastError = reason;
    try {
        scope.Log("ERROR - %s", LastError.ToUtf8().c_str());
    } catch (...) {
        // No memory for the log line: the last error still holds the reason.
    }
    return false;
}

bool ZrEncoderBase::FailWithCurrentException(ZrTraceScope& scope) noexcept {
    ZrString reason;
    try {
        reason = DescribeCurrentException();
    } catch (...) {
        reason = OutOfMemory; // no memory left to describe it
    }
    return Fail(scope, reason);
}

// Texts are allocated on the way: without memory the host gets no text rather than an exception.
ZrSysString ZrEncoderBase::GetProperty(const char16_t* name) {
    try {
        return PropertyText(name);
    } catch (...) {
        return nullptr;
    }
}

bool ZrEncoderBase::SetProperty(const char16_t* name, const char16_t* value) {
    ZrTraceScope scope(u"ZrEncoderBase::SetProperty", ZrLogCategoryEncoder, false);
    return Guarded(scope, [&] { return StoreProperty(name, value); });
}

ZrSysString ZrEncoderBase::PropertyText(const char16_t* name) {
    const std::u16string_view n = name ? std::u16string_view(name) : std::u16string_view();
    auto is = [&](std::u16string_view candidate) { return ZrEqualsNoCase(n, candidate); };

    if (is(u"Version"))
        return ToSys(int64_t{ZrEncoderInterfaceVersion});
    if (is(u"Display Name")) {
        ZrString out;
        return ToSys(GetDisplayName(out));
    }
    if (is(u"Extension")) {
        ZrString out;
        return ToSys(GetExtension(out));
    }
    if (is(u"Source Filename"))
        return ToSys(SourceFilename);
    if (is(u"Destination Filename"))
        return ToSys(DestinationFilename);
    if (is(u"Settings"))
        return ToSys(Settings.ToSettingsText());
    if (is(u"Estimated Bitrate"))
        return ToSys(int64_t{GetEstimatedBitrate()});
    if (is(u"Streaming"))
        return ToSys(IsStreaming());
    if (is(u"Any Format File Input"))
        return ToSys(IsAnyFormatFileInput());
    if (is(u"WAV File Input"))
        return ToSys(IsWavFileInput());
    if (is(u"Buffer Input"))
        return ToSys(IsBufferInput());
    if (is(u"Last Error"))
        return ToSys(LastError);
    if (is(u"Configurable"))
        return ToSys(int64_t{GetConfigurable()});
    if (is(u"Uncompressed WAV Output"))
        return ToSys(IsUncompressedWavOutput());
    if (is(u"Auto Config"))
        return ToSys(AutoConfig);
    if (is(u"Auto Config For"))
        return ToSys(int64_t{AutoConfigFor});
    if (is(u"Supported Bitdepths")) {
        std::vector<int32_t> depths;
        GetSupportedBitdepths(depths);
        std::u16string text;
        for (size_t i = 0; i < depths.size(); ++i) {
            if (i)
                text += u';';
            text += ZrFormatInt(depths[i]);
        }
        return ToSys(std::u16string_view(text));
    }
    return ToSys(std::u16string_view());
}

bool ZrEncoderBase::StoreProperty(const char16_t* name, const char16_t* value) {
    const std::u16string_view n = name ? std::u16string_view(name) : std::u16string_view();
    const std::u16string_view v = value ? std::u16string_view(value) : std::u16string_view();
    auto is = [&](std::u16string_view candidate) { return ZrEqualsNoCase(n, candidate); };

    if (is(u"Source Filename")) {
        SourceFilename = v;
        return true;
    }
    if (is(u"Destination Filename")) {
        DestinationFilename = v;
        if (AddOutputExtension) {
            ZrString extension;
            DestinationFilename += u".";
            DestinationFilename += GetExtension(extension);
        }
        return true;
    }
    if (is(u"Add Output Extension")) {
        AddOutputExtension = ZrParseInt32(v) != 0;
        return true;
    }
    if (is(u"Auto Config")) {
        AutoConfig = ZrParseInt32(v) != 0;
        return true;
    }
    if (is(u"Auto Config For")) {
        AutoConfigFor = ZrParseInt32(v);
        return true;
    }
    if (is(u"Settings")) {
        Settings.Clear();
        SaveSettings();
        Settings.StoreSettingsText(v);
        LoadSettings();
        return true;
    }
    return false;
}

void ZrBuildStreamingWavHeader(const ZrAudioFormat& format, uint8_t header[44]) {
    const uint32_t blockAlign = format.BitsPerSample / 8u * format.Channels;
    ZrWavHeaderFields fields;
    fields.formatTag = WAVE_FORMAT_PCM;
    fields.channels = format.Channels;
    fields.samplesPerSec = format.SamplesPerSec;
    fields.avgBytesPerSec = blockAlign * format.SamplesPerSec;
    fields.blockAlign = static_cast<uint16_t>(blockAlign);
    fields.bitsPerSample = format.BitsPerSample;
    // The length is unknown while streaming: sizes that readers take as "to the end".
    fields.riffSize = 0x80000023u;
    fields.dataSize = 0x7FFFFFFFu;
    ZrWriteWavHeader(fields, header);
}

bool ZrEncoderBase::WriteStreamingWavHeader() {
    uint8_t header[44];
    ZrBuildStreamingWavHeader(Format, header);
    return EncodeBuffer(header, sizeof header);
}
