#include "codecs/dsd/DSDEncoderPlugin.h"

#include "codecs/dsd/DsdSettings.h"
#include "frame/ZrEncoderFactory.h"
#include "options/DSDEncoderOptionsWnd.h"
#include "tessary/ZrTools.h"

#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Only a regular file is ours to remove: a destination such as /dev/null stays.
void DeleteDestination(const ZrString& path) {
    const std::string name = path.ToUtf8();
    struct stat info;
    if (::stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode))
        ::unlink(name.c_str());
}

} // namespace

CDSDEncoderPlugin::CDSDEncoderPlugin(IZrEncoderCallback* callback) : ZrEncoderBase(callback) {}

CDSDEncoderPlugin::~CDSDEncoderPlugin() = default;

void CDSDEncoderPlugin::SaveSettings() {
    DsdSampleRateSetting.Save(Settings);
}

void CDSDEncoderPlugin::LoadSettings() {
    if (!IsDsdSampleRate(DsdSampleRateSetting.Get(Settings)))
        DsdSampleRateSetting.Save(Settings);
}

// Silent scopes: failures show in the results alone, except an exception, which also leaves a
// reason.
bool CDSDEncoderPlugin::StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) {
    ZrTraceScope scope(u"CDSDEncoderPlugin::StartBufferBased", ZrLogCategoryEncoder, false);
    return Guarded(
        scope, [&] { return Start(format, expectedBytes); }, [&] { Abandon(); });
}

bool CDSDEncoderPlugin::EncodeBuffer(uint8_t* data, uint64_t bytes) {
    ZrTraceScope scope(u"CDSDEncoderPlugin::EncodeBuffer", ZrLogCategoryEncoder, false);
    return Guarded(scope, [&] { return Encode(data, bytes); });
}

bool CDSDEncoderPlugin::FinishBufferBased() {
    ZrTraceScope scope(u"CDSDEncoderPlugin::FinishBufferBased", ZrLogCategoryEncoder, false);
    return Guarded(
        scope, [&] { return Finish(); },
        [&] {
            m_engine.reset();
            m_file.reset();
        });
}

bool CDSDEncoderPlugin::Start(const WAVEFORMATEX* format, int64_t expectedBytes) {
    m_engine.reset();
    m_file.reset();
    m_pending.clear();
    if (!ZrEncoderBase::StartBufferBased(format, expectedBytes))
        return false;
    m_inputFormat = Format;

    m_file = std::make_unique<CDSFWriter>(DestinationFilename);
    if (!m_file->Open()) {
        KeepFileFailure();
        m_file.reset();
        return false;
    }
    // A DSF file names one of seven layouts. Refused like every failed start: the destination
    // goes, but with a reason.
    if (m_inputFormat.Channels < 1 || m_inputFormat.Channels > 6) {
        LastError = ZrString::Format("DSF files hold 1 to 6 channels; this input has %u",
                                     unsigned{m_inputFormat.Channels});
        Abandon();
        return false;
    }
    if (CDSFHeader::ChannelTypeFor(m_inputFormat.Channels, m_inputFormat.ChannelMask) == 0) {
        LastError = ZrString::Format(
            "DSF has no layout for these %u speakers (mask 0x%X): it takes mono, stereo, 3.0, "
            "quad (back), 3.1, 5.0 (back) and 5.1 (back)",
            unsigned{m_inputFormat.Channels}, unsigned{m_inputFormat.ChannelMask});
        Abandon();
        return false;
    }

    const int32_t dsdRate = DsdSampleRateSetting.Get(Settings);
    FillHeader(static_cast<uint32_t>(dsdRate), expectedBytes);
    if (!m_file->WriteHeader()) {
        KeepFileFailure();
        Abandon();
        return false;
    }
    m_engine = std::make_unique<CDSDEncoder>();
    if (!m_engine->Init(m_inputFormat, static_cast<uint32_t>(dsdRate))) {
        Abandon();
        return false;
    }
    m_outputFormat = m_engine->OutputFormat();
    return true;
}

// The provisional header: sizes estimated from the expected input length, or zeros when the
// length is unknown. Finish puts in the real ones.
void CDSDEncoderPlugin::FillHeader(uint32_t dsdRate, int64_t expectedBytes) {
    uint64_t samples = 0;
    if (expectedBytes > 0) {
        const double perSecond = m_inputFormat.AvgBytesPerSec;
        const double seconds =
            perSecond != 0 ? (static_cast<double>(expectedBytes) * 1000.0 / perSecond) / 1000.0
                           : 0.0;
        const double count = std::round(seconds * dsdRate);
        if (count > 0 && count < 0x1p62)
            samples = static_cast<uint64_t>(count);
    }
    const uint64_t dataBytes = m_inputFormat.Channels * samples / 8;
    CDSFHeader& header = m_file->Header();
    header.SetFormat(m_inputFormat.Channels, dsdRate, m_inputFormat.ChannelMask);
    header.SetFileSize(expectedBytes > 0 ? dataBytes + CDSFHeader::Size : 0);
    header.SetSampleCount(samples);
    header.SetDataSize(expectedBytes > 0 ? dataBytes + CDSFHeader::DataHeaderSize : 0);
}

void CDSDEncoderPlugin::Abandon() {
    const bool opened = m_file != nullptr;
    m_engine.reset();
    m_file.reset();
    if (opened)
        DeleteDestination(DestinationFilename);
}

bool CDSDEncoderPlugin::Encode(const uint8_t* data, uint64_t bytes) {
    if (!m_engine || (!data && bytes))
        return false;
    const uint64_t bitsPerFrame =
        m_inputFormat.BlockAlign ? m_inputFormat.BlockAlign * 8u
                                 : uint64_t{m_inputFormat.BitsPerSample} * m_inputFormat.Channels;
    if (m_pending.empty() && bytes * 8 % bitsPerFrame == 0) {
        m_engine->Process(data, bytes * 8 / bitsPerFrame, false);
    } else {
        // A buffer that ends inside a frame: the rest of the frame comes with the next one.
        m_pending.insert(m_pending.end(), data, data + bytes);
        const uint64_t frames = m_pending.size() * 8 / bitsPerFrame;
        m_engine->Process(m_pending.data(), frames, false);
        m_pending.erase(m_pending.begin(),
                        m_pending.begin() + static_cast<ptrdiff_t>(frames * bitsPerFrame / 8));
    }
    return m_file->WriteBlocks(m_engine->Output(), m_inputFormat.Channels, false) ||
           KeepFileFailure();
}

// Results here are bare booleans; a file that cannot be created or written (a full disk) gets
// what the system said as the last error rather than no reason at all. Always false.
bool CDSDEncoderPlugin::KeepFileFailure() {
    if (m_file && m_file->File().Error() != 0)
        LastError =
            ZrString::Format("Cannot write to \"%s\": %s", m_file->File().Path().ToUtf8().c_str(),
                             m_file->File().ErrorText().ToUtf8().c_str());
    return false;
}

bool CDSDEncoderPlugin::Finish() {
    if (!m_engine)
        return false;
    m_engine->Process(nullptr, 0, true);
    bool ok = m_file->WriteBlocks(m_engine->Output(), m_inputFormat.Channels, true) &&
              m_file->FinishHeader();
    // A late write error reported by close means the data may not be on the disk.
    ok = m_file->Close() && ok;
    if (!ok)
        KeepFileFailure();
    m_file.reset();
    m_engine.reset();
    return ok;
}

IZrEncoder* CreateDsdEncoder(IZrEncoderCallback* callback) {
    return new CDSDEncoderPlugin(callback);
}

bool CDSDEncoderPlugin::Options() {
    ZrTraceScope scope(u"CDSDEncoderPlugin::Options", ZrLogCategoryEncoder, false);
    return Guarded(scope, [&] { return ZrShowOptionsWindow(ZrEncoderIndex::Dsd, *this); });
}
