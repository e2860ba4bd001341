#include "codecs/ape/ApeEncoder.h"

#include "codecs/ape/ApeSettings.h"
#include "frame/ZrEncoderFactory.h"
#include "options/ApeEncoderOptionsWnd.h"
#include "tessary/ZrTools.h"

#include <algorithm>
#include <cmath>

IZrEncoder* CreateApeEncoder(IZrEncoderCallback* callback) {
    return new CApeEncoder(callback);
}

CApeEncoder::~CApeEncoder() = default;

int64_t CApeEncoder::MaxAudioBytesFor(int64_t expectedBytes) {
    if (expectedBytes == ape::MaxAudioBytesUnknown)
        return expectedBytes;
    // Room for a fifth more than announced; rounded half away from zero.
    return std::llround(static_cast<double>(expectedBytes) * 1.2);
}

// Silent scopes: the compressor's results are bare codes, so only an exception gives a reason
// and a log line.
bool CApeEncoder::StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) {
    ZrTraceScope scope(u"CApeEncoder::StartBufferBased", ZrLogCategoryEncoder, false);
    return Guarded(scope, [&] {
        if (!ZrEncoderBase::StartBufferBased(format, expectedBytes))
            return false;
        // Decoders give the file a plain WAV header: mono is front centre, stereo front left
        // and right, and no other speakers can be said.
        const uint32_t plainMask =
            Format.Channels == 1 ? SPEAKER_FRONT_CENTER : SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
        if (Format.ChannelMask != 0 && Format.Channels <= 2 && Format.ChannelMask != plainMask)
            return Fail(scope, ZrString::Format("Monkey's Audio keeps mono as front centre and "
                                                "stereo as front left and right; this input's "
                                                "speakers (mask 0x%X) are others",
                                                unsigned{Format.ChannelMask}));
        m_compressor.reset();
        m_compressor = std::make_unique<CApeCompressor>();
        const int level = ApeSettings::Compression.Get(Settings);
        return KeepFileFailure(m_compressor->Start(DestinationFilename.c_str(), format,
                                                   MaxAudioBytesFor(expectedBytes), level, nullptr,
                                                   ape::CreateWavHeaderOnDecompression, 0) == 0);
    });
}

// The compressor's codes do not say what the system said; a file that cannot be created or
// written (a full disk) gets that as the last error rather than no reason at all.
bool CApeEncoder::KeepFileFailure(bool ok) {
    if (!ok && m_compressor && m_compressor->Output().Error() != 0) {
        const ZrFile& file = m_compressor->Output();
        LastError = ZrString::Format("Cannot write to \"%s\": %s", file.Path().ToUtf8().c_str(),
                                     file.ErrorText().ToUtf8().c_str());
    }
    return ok;
}

bool CApeEncoder::EncodeBuffer(uint8_t* data, uint64_t bytes) {
    ZrTraceScope scope(u"CApeEncoder::EncodeBuffer", ZrLogCategoryEncoder, false);
    return Guarded(scope, [&] {
        return m_compressor &&
               KeepFileFailure(m_compressor->AddData(data, static_cast<int64_t>(bytes)) == 0);
    });
}

bool CApeEncoder::FinishBufferBased() {
    ZrTraceScope scope(u"CApeEncoder::FinishBufferBased", ZrLogCategoryEncoder, false);
    return Guarded(scope, [&] {
        return m_compressor && KeepFileFailure(m_compressor->Finish(nullptr, 0, 0) == 0);
    });
}

ZrString& CApeEncoder::GetDisplayName(ZrString& out) {
    return out = u"Monkey's Audio (APE)";
}

ZrString& CApeEncoder::GetExtension(ZrString& out) {
    return out = u"ape";
}

void CApeEncoder::SaveSettings() {
    ApeSettings::Compression.Save(Settings);
}

void CApeEncoder::LoadSettings() {
    const int32_t level = ApeSettings::Compression.Get(Settings);
    if (std::find(ApeSettings::Levels.begin(), ApeSettings::Levels.end(), level) ==
        ApeSettings::Levels.end())
        ApeSettings::Compression.Set(Settings, ApeSettings::Compression.Default);
}

bool CApeEncoder::Options() {
    ZrTraceScope scope(u"CApeEncoder::Options", ZrLogCategoryEncoder, false);
    return Guarded(scope, [&] { return ZrShowOptionsWindow(ZrEncoderIndex::Ape, *this); });
}
