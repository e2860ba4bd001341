#include "codecs/wma/WmaEncoder.h"

#include "codecs/wma/WmaSettings.h"
#include "foundation/ZrLog.h"
#include "frame/ZrEncoderFactory.h"
#include "frame/ZrHostLibraries.h"
#include "frame/ZrHostLibraryManager.h"
#include "options/ZrMessageBox.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <new>
#include <sstream>

using namespace WmaSettings;

namespace {

constexpr uint64_t TicksPerSecond = 10'000'000; // 100-nanosecond units

// Seconds from 1601-01-01 (where FILETIME counts from) to 1970-01-01.
constexpr uint64_t FileTimeEpochOffset = 11'644'473'600;

uint64_t FileTimeNow() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return (static_cast<uint64_t>(now.tv_sec) + FileTimeEpochOffset) * TicksPerSecond +
           static_cast<uint64_t>(now.tv_nsec) / 100;
}

// The product's name for "WM/EncodedBy": given once a host's product information is loaded;
// empty without a host.
ZrString EncodedByText() {
    ZrTools* tools = GetTools(false);
    return tools && tools->GetProductInfo(false) ? ZrString(u"Tessary") : ZrString();
}

} // namespace

IZrEncoder* CreateWmaEncoder(IZrEncoderCallback* callback) {
    return new (std::nothrow) CWmaEncoder(callback);
}

CWmaEncoder::CWmaEncoder(IZrEncoderCallback* hostCallback) : ZrEncoderBase(hostCallback) {
    ZrTraceScope scope(u"CWmaEncoder::CWmaEncoder");
}

CWmaEncoder::~CWmaEncoder() {
    ZrTraceScope scope(u"CWmaEncoder::~CWmaEncoder");
    // A writer that never ended removes its unfinished file.
    m_writer.reset();
}

ZrString& CWmaEncoder::GetDisplayName(ZrString& out) {
    out = u"Windows Media";
    return out;
}

ZrString& CWmaEncoder::GetExtension(ZrString& out) {
    out = u"wma";
    return out;
}

void CWmaEncoder::SaveSettings() {
    for (const ZrIntSetting* setting : All)
        setting->Save(Settings);
}

// An index outside its table has no profile; it estimates as an unknown mode does.
int32_t CWmaEncoder::GetEstimatedBitrate() {
    const int32_t mode = Mode.Get(Settings);
    if (mode == ModeLossless)
        return LosslessKbps;
    const std::span<const Profile> table = ProfilesOf(mode);
    const int32_t index = (mode == ModeCbr ? CbrBitrate : VbrBitrate).Get(Settings);
    if (index >= 0 && static_cast<size_t>(index) < table.size())
        return table[static_cast<size_t>(index)].Kbps;
    return OtherKbps;
}

std::string CWmaEncoder::ProfileFile(int runtimeMajorVersion) const {
    const int32_t mode = Mode.Get(Settings);
    if (mode == ModeLossless)
        return runtimeMajorVersion >= 11   ? "lossless_v11.xml"
               : runtimeMajorVersion == 10 ? "lossless_v10.xml"
                                           : "lossless_old.xml";
    const std::span<const Profile> table = ProfilesOf(mode);
    const int32_t index = (mode == ModeCbr ? CbrBitrate : VbrBitrate).Get(Settings);
    if (index >= 0 && static_cast<size_t>(index) < table.size())
        return table[static_cast<size_t>(index)].File;
    return {};
}

std::string CWmaEncoder::ProfileFolder() {
    // The host's program directory: $TESSARY_PROGRAM_DIR, else the plug-in's own folder.
    std::string folder;
    if (const char* fromEnvironment = std::getenv("TESSARY_PROGRAM_DIR");
        fromEnvironment && *fromEnvironment) {
        folder = fromEnvironment;
    } else {
        folder = ZrModuleFileName().ToUtf8();
        folder.erase(folder.rfind('/') == std::string::npos ? 0 : folder.rfind('/'));
    }
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder + "Plugins/WMAProfiles/";
}

// --- Runtime check ---------------------------------------------------------------------------

bool CWmaEncoder::CheckDependencies() {
    ZrTraceScope scope(u"CWmaEncoder::CheckDependencies");
    ZrWMFactory factory;
    std::unique_ptr<IWMMetadataEditor> editor;
    if (WMFailed(factory.CreateEditor(editor)) || editor->HasHeaderInfo3())
        return true;
    const ZrString text = ZrTranslate(u"Windows Media v9 is not installed on the system.\r\n") +
                          ZrTranslate(u"Do you want to download and install it now?");
    // This platform's runtime is built in and always answers; an older one cannot be fetched.
    return ZrMessageBox(u"Confirm Action", text, ZrMessageYesNo) != ZrModalOk;
}

// --- Start -----------------------------------------------------------------------------------

bool CWmaEncoder::StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) {
    ZrTraceScope scope(u"CWmaEncoder::StartBufferBased");
    return Guarded(
        scope, [&] { return Start(scope, format, expectedBytes); }, [&] { m_writer.reset(); });
}

bool CWmaEncoder::Start(ZrTraceScope& scope, const WAVEFORMATEX* format, int64_t expectedBytes) {
    m_writer.reset();
    if (!ZrEncoderBase::StartBufferBased(format, expectedBytes))
        return false;
    if (!CheckDependencies())
        return Fail(scope, u"the Windows Media runtime is not installed");
    m_sampleTime = 0;
    // Sample times are counted from the byte rate.
    if (Format.AvgBytesPerSec == 0)
        return Fail(scope, ZrString::Format("unsupported wave header: %u channels at %u Hz make "
                                            "no bytes per second",
                                            Format.Channels, Format.SamplesPerSec));
    ZrWMFactory factory;
    if (!SetUpWriter(scope, factory))
        return false;
    if (WMFailed(m_writer->BeginWriting()))
        return FailWriter(scope, "BeginWriting");
    return true;
}

bool CWmaEncoder::FailWriter(ZrTraceScope& scope, const char* what) {
    const std::string reason = m_writer ? m_writer->LastErrorText() : std::string();
    m_writer.reset();
    return Fail(scope, ZrString::FromUtf8(std::string("Windows Media ") + what + " failed" +
                                          (reason.empty() ? "" : ": " + reason)));
}

bool CWmaEncoder::SetUpWriter(ZrTraceScope& scope, ZrWMFactory& factory) {
    if (DestinationFilename.IsEmpty())
        return Fail(scope, u"no destination file name");
    if (WMFailed(factory.CreateWriter(m_writer)))
        return Fail(scope, u"cannot create the Windows Media writer");
    WMProfile profile;
    if (!LoadProfile(scope, factory, profile)) {
        m_writer.reset();
        return false;
    }
    scope.Log("Profile: %s (%s, %lld bits per second)", profile.Name.c_str(), profile.Mode.c_str(),
              static_cast<long long>(profile.BitRate));
    if (WMFailed(m_writer->SetProfile(profile)))
        return FailWriter(scope, "SetProfile");

    uint32_t inputs = 0;
    std::unique_ptr<IWMInputMediaProps> props;
    WMMediaType::Major major = WMMediaType::None;
    if (WMFailed(m_writer->GetInputCount(&inputs)) || inputs == 0 ||
        WMFailed(m_writer->GetInputProps(0, props)) || WMFailed(props->GetType(&major)) ||
        major != WMMediaType::Audio)
        return FailWriter(scope, "GetInputProps");
    if (WMFailed(m_writer->SetOutputFilename(DestinationFilename.ToUtf8())))
        return FailWriter(scope, "SetOutputFilename");

    WMMediaType type;
    type.MajorType = WMMediaType::Audio;
    type.SubtypePcm = true;
    type.FixedSizeSamples = true;
    type.TemporalCompression = false;
    type.SampleSize = Format.BlockAlign;
    type.FormatWaveFormatEx = true;
    const auto* record = reinterpret_cast<const uint8_t*>(&Format);
    type.Format.assign(record, record + 18 + Format.ExtraSize);
    if (WMFailed(props->SetMediaType(type)) || WMFailed(m_writer->SetInputProps(0, *props)))
        return FailWriter(scope, "SetInputProps");

    if (Security.Get(Settings) != 0) {
        IWMHeaderInfo* header = m_writer->HeaderInfo();
        if (!header || WMFailed(header->SetAttribute(0, u"Use_DRM", WMAttribute::Bool(true))) ||
            WMFailed(header->SetAttribute(0, u"DRM_Level", WMAttribute::DWord(150))) ||
            WMFailed(header->SetAttribute(0, u"DRM_Flags", WMAttribute::DWord(11))))
            return FailWriter(scope, "SetAttribute");
    }
    return true;
}

bool CWmaEncoder::LoadProfile(ZrTraceScope& scope, ZrWMFactory& factory, WMProfile& out) {
    std::unique_ptr<IWMProfileManager> manager;
    if (WMFailed(factory.CreateProfileManager(manager)))
        return Fail(scope, u"cannot create the Windows Media profile manager");
    const std::string file = ProfileFile(WMRuntimeMajorVersion);
    if (file.empty()) {
        const int32_t mode = Mode.Get(Settings);
        if (mode == ModeCbr || mode == ModeVbr)
            return Fail(scope, ZrString::Format(
                                   "%s Bitrate %d is not one of the %zu %s profiles (0 to %zu)",
                                   mode == ModeCbr ? "CBR" : "VBR",
                                   (mode == ModeCbr ? CbrBitrate : VbrBitrate).Get(Settings),
                                   ProfilesOf(mode).size(), mode == ModeCbr ? "CBR" : "VBR",
                                   ProfilesOf(mode).size() - 1));
        return Fail(scope,
                    ZrString::Format("Mode %d is none of CBR (0), VBR (1) and lossless (2)", mode));
    }
    const std::string path = ProfileFolder() + file;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return Fail(scope, ZrString::FromUtf8("cannot read the profile \"" + path +
                                              "\": " + std::strerror(errno)));
    std::ostringstream text;
    text << in.rdbuf();
    if (WMFailed(manager->LoadProfileByData(text.str(), out)))
        return Fail(scope, ZrString::FromUtf8("\"" + path + "\": " + manager->LastErrorText()));
    return true;
}

// --- Encode ----------------------------------------------------------------------------------

bool CWmaEncoder::EncodeBuffer(uint8_t* data, uint64_t bytes) {
    ZrTraceScope scope(u"CWmaEncoder::EncodeBuffer", ZrLogCategoryEncoder, false);
    return Guarded(scope, [&] { return Encode(scope, data, bytes); });
}

bool CWmaEncoder::Encode(ZrTraceScope& scope, const uint8_t* data, uint64_t bytes) {
    if (bytes < 1)
        return true;
    if (!m_writer)
        return Fail(scope, u"no file was started");
    if (!data)
        return Fail(scope, u"no samples given");
    // A sample holds at most 4 GiB; larger buffers go as several.
    constexpr uint64_t LargestSample = uint64_t{1} << 30;
    for (uint64_t offset = 0; offset < bytes;) {
        const auto length = static_cast<uint32_t>(std::min(bytes - offset, LargestSample));
        std::unique_ptr<INSSBuffer> sample;
        uint8_t* target = nullptr;
        uint32_t capacity = 0;
        if (WMFailed(m_writer->AllocateSample(length, sample)) ||
            WMFailed(sample->GetBufferAndLength(&target, &capacity)) || capacity < length)
            return Fail(scope, u"Windows Media AllocateSample failed");
        std::memcpy(target, data + offset, length);
        if (WMFailed(m_writer->WriteSample(0, m_sampleTime, 0, *sample)))
            return Fail(scope, ZrString::FromUtf8("Windows Media WriteSample failed: " +
                                                  m_writer->LastErrorText()));
        // length x 10,000,000 / bytes per second, without overflow.
        const uint64_t rate = Format.AvgBytesPerSec;
        m_sampleTime += length / rate * TicksPerSecond + length % rate * TicksPerSecond / rate;
        offset += length;
    }
    return true;
}

// --- Finish ----------------------------------------------------------------------------------

bool CWmaEncoder::FinishBufferBased() {
    ZrTraceScope scope(u"CWmaEncoder::FinishBufferBased");
    return Guarded(scope, [&] { return Finish(scope); });
}

bool CWmaEncoder::Finish(ZrTraceScope& scope) {
    if (!m_writer)
        return Fail(scope, u"no file was started");
    m_writer->Flush();
    if (WMFailed(m_writer->EndWriting()))
        return FailWriter(scope, "EndWriting");
    StampHeader(scope);
    return true;
}

// The file is whole without these: a failure here is logged and ignored.
void CWmaEncoder::StampHeader(ZrTraceScope& scope) {
    ZrWMFactory factory;
    std::unique_ptr<IWMMetadataEditor> editor;
    if (WMFailed(factory.CreateEditor(editor)) ||
        WMFailed(editor->Open(DestinationFilename.ToUtf8()))) {
        scope.Log("Cannot stamp the header: %s", editor ? editor->LastErrorText().c_str() : "");
        return;
    }
    IWMHeaderInfo* header = editor->HeaderInfo();
    const ZrString encodedBy = EncodedByText();
    if (!encodedBy.IsEmpty() && encodedBy != u"0") {
        header->SetAttribute(0, u"WM/EncodedBy", WMAttribute::String(encodedBy.View()));
    } else {
        WMAttribute old;
        if (!WMFailed(header->GetAttributeByName(0, u"WM/EncodedBy", old)))
            header->SetAttribute(0, u"WM/EncodedBy", WMAttribute{old.Type, {}});
    }
    header->SetAttribute(0, u"WM/EncodingTime", WMAttribute::QWord(FileTimeNow()));
    if (WMFailed(editor->Flush()))
        scope.Log("Cannot stamp the header: %s", editor->LastErrorText().c_str());
    editor->Close();
}

bool CWmaEncoder::Options() {
    ZrTraceScope scope(u"CWmaEncoder::Options");
    return Guarded(scope, [&] { return ZrShowOptionsWindow(ZrEncoderIndex::Wma, *this); });
}
