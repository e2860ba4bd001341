#include "containers/WavEncoder.h"

#include "foundation/ZrLog.h"
#include "frame/ZrEncoderFactory.h"
#include "tessary/ZrTools.h"

#include <algorithm>

IZrEncoder* CreateWavEncoder(IZrEncoderCallback* callback) {
    return new CWavEncoder(callback);
}

bool CWavEncoder::StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) {
    ZrTraceScope scope(u"CWavEncoder::StartBufferBased");
    return Guarded(scope, [&] { return Start(scope, format, expectedBytes); });
}

bool CWavEncoder::Start(ZrTraceScope& scope, const WAVEFORMATEX* format, int64_t expectedBytes) {
    if (!ZrEncoderBase::StartBufferBased(format, expectedBytes))
        return false;
    if (Format.BlockAlign == 0)
        return Fail(scope, ZrString::Format("Unsupported input: %u channels of %u bits",
                                            static_cast<unsigned>(Format.Channels),
                                            static_cast<unsigned>(format->wBitsPerSample)));
    // A header and big-endian data are independent: "L16" alone gives a WAV with swapped data.
    Creator.WriteHeader = !Headerless();
    Creator.BigEndian = BigEndianRaw();
    if (Creator.Start(DestinationFilename, Format, std::max<int64_t>(expectedBytes, 0)) != 0) {
        // A refused start keeps the last error empty; its reason goes to the log only.
        scope.Log("ERROR - %s", Creator.FailureText().ToUtf8().c_str());
        return false;
    }
    return true;
}

bool CWavEncoder::EncodeBuffer(uint8_t* data, uint64_t bytes) {
    ZrTraceScope scope(u"CWavEncoder::EncodeBuffer", ZrLogCategoryEncoder, false);
    return Guarded(scope, [&] {
        if (Creator.Write(data, bytes) != 0)
            return Fail(scope, Creator.FailureText());
        return true;
    });
}

bool CWavEncoder::FinishBufferBased() {
    ZrTraceScope scope(u"CWavEncoder::FinishBufferBased");
    return Guarded(scope, [&] {
        if (Creator.Finish() != 0)
            return Fail(scope, Creator.FailureText());
        return true;
    });
}

bool CWavEncoder::Options() {
    ZrTraceScope scope(u"CWavEncoder::Options", ZrLogCategoryEncoder, false);
    return Guarded(scope, [&] { return ZrShowOptionsWindow(ZrEncoderIndex::Wav, *this); });
}

ZrString& CWavEncoder::GetExtension(ZrString& out) {
    if (Headerless() && BigEndianRaw())
        return out = L24.Get(Settings) != 0 ? u"l24" : u"l16";
    return out = u"wav";
}

int32_t CWavEncoder::GetEstimatedBitrate() {
    return static_cast<int32_t>(8u * Creator.GetFormat().AvgBytesPerSec);
}

void CWavEncoder::SaveSettings() {
    NoHeader.Save(Settings);
    L16.Save(Settings);
    L24.Save(Settings);
}
