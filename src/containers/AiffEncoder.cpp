#include "containers/AiffEncoder.h"

#include "foundation/ZrLog.h"
#include "frame/ZrEncoderFactory.h"

#include <algorithm>

IZrEncoder* CreateAiffEncoder(IZrEncoderCallback* callback) {
    return new AIFFEncoder(callback);
}

bool AIFFEncoder::StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) {
    ZrTraceScope scope(u"AIFFEncoder::StartBufferBased");
    if (!ZrEncoderBase::StartBufferBased(format, expectedBytes))
        return false;
    ZrAudioFormat plain = Format;
    plain.MakePlain();
    if (const ZrString refusal = AIFFCreator::Refusal(plain); !refusal.IsEmpty()) {
        LastError = refusal;
        scope.Log("ERROR - %s", LastError.ToUtf8().c_str());
        return false;
    }
    Creator.WriteHeader = true;
    Creator.BigEndian = true;
    if (Creator.Start(DestinationFilename, Format, std::max<int64_t>(expectedBytes, 0)) != 0) {
        // As for WAV: an unwritable destination or a sample type that is neither PCM nor float
        // fails the start with the reason in the log only.
        scope.Log("ERROR - %s", Creator.FailureText().ToUtf8().c_str());
        return false;
    }
    return true;
}

bool AIFFEncoder::EncodeBuffer(uint8_t* data, uint64_t bytes) {
    if (Creator.Write(data, bytes) == 0)
        return true;
    LastError = Creator.FailureText();
    ZrLogLine(u"AIFFEncoder::EncodeBuffer", ZrString(u"ERROR - ") + LastError);
    return false;
}

bool AIFFEncoder::FinishBufferBased() {
    ZrTraceScope scope(u"AIFFEncoder::FinishBufferBased");
    Creator.Finish();
    return true;
}

int32_t AIFFEncoder::GetEstimatedBitrate() {
    return static_cast<int32_t>(8u * Creator.GetFormat().AvgBytesPerSec);
}
