#include "frame/ZrPlaceholderEncoder.h"

#include "tessary/ZrTools.h"

namespace {

ZrString NotAvailable(const char16_t* displayName) {
    return ZrString::Format("The %s encoder is not available in this build.",
                            ZrString(displayName).ToUtf8().c_str());
}

} // namespace

bool ZrPlaceholderEncoder::StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) {
    ZrTraceScope scope(u"ZrPlaceholderEncoder::StartBufferBased");
    return Guarded(scope, [&] {
        if (!ZrEncoderBase::StartBufferBased(format, expectedBytes))
            return false;
        return Fail(scope, NotAvailable(m_displayName));
    });
}

bool ZrPlaceholderEncoder::EncodeFile() {
    ZrTraceScope scope(u"ZrPlaceholderEncoder::EncodeFile");
    return Guarded(scope, [&] { return Fail(scope, NotAvailable(m_displayName)); });
}
