#include "frame/ZrPlaceholderEncoder.h"

namespace {

ZrString NotAvailable(const char16_t* displayName) {
    return ZrString::Format("The %s encoder is not available in this build.",
                            ZrString(displayName).ToUtf8().c_str());
}

} // namespace

bool ZrPlaceholderEncoder::StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) {
    if (!ZrEncoderBase::StartBufferBased(format, expectedBytes))
        return false;
    LastError = NotAvailable(m_displayName);
    return false;
}

bool ZrPlaceholderEncoder::EncodeFile() {
    LastError = NotAvailable(m_displayName);
    return false;
}
