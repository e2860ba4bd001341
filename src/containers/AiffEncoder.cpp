#include "containers/AiffEncoder.h"

#include "foundation/ZrLog.h"
#include "frame/ZrEncoderFactory.h"
#include "tessary/ZrTools.h"

#include <algorithm>

IZrEncoder* CreateAiffEncoder(IZrEncoderCallback* callback) {
    return new AIFFEncoder(callback);
}

bool AIFFEncoder::StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) {
    ZrTraceScope scope(u"AIFFEncoder::StartBufferBased");
    return Guarded(scope, [&] { return Start(scope, format, expectedBytes); });
}

bool AIFFEncoder::Start(ZrTraceScope& scope, const WAVEFORMATEX* format, int64_t expectedBytes) {
    if (!ZrEncoderBase::StartBufferBased(format, expectedBytes))
        return false;
    ZrAudioFormat plain = Format;
    plain.MakePlain();
    if (const ZrString refusal = AIFFCreator::Refusal(plain); !refusal.IsEmpty())
        return Fail(scope, refusal);
    Creator.WriteHeader = true;
    Creator.BigEndian = true;
    if (Creator.Start(DestinationFilename, Format, std::max<int64_t>(expectedBytes, 0)) != 0) {
        // A file too large for the format is the user's to act on: it is the reason.
        if (Creator.RefusedAsTooLarge())
            return Fail(scope, Creator.FailureText());
        // As for WAV: an unwritable destination or a sample type that is neither PCM nor float
        // fails the start with the reason in the log only.
        scope.Log("ERROR - %s", Creator.FailureText().ToUtf8().c_str());
        return false;
    }
    return true;
}

bool AIFFEncoder::EncodeBuffer(uint8_t* data, uint64_t bytes) {
    ZrTraceScope scope(u"AIFFEncoder::EncodeBuffer", ZrLogCategoryEncoder, false);
    return Guarded(scope, [&] {
        if (Creator.Write(data, bytes) != 0)
            return Fail(scope, Creator.FailureText());
        return true;
    });
}

bool AIFFEncoder::FinishBufferBased() {
    ZrTraceScope scope(u"AIFFEncoder::FinishBufferBased");
    return Guarded(scope, [&] {
        if (Creator.Finish() != 0)
            return Fail(scope, Creator.FailureText());
        return true;
    });
}

int32_t AIFFEncoder::GetEstimatedBitrate() {
    return static_cast<int32_t>(8u * Creator.GetFormat().AvgBytesPerSec);
}
