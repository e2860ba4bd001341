// Stands in for an encoder whose implementation has not landed yet: it answers the property
// protocol with its display name and extension and refuses every job with a readable reason.
#pragma once

#include "frame/ZrEncoderBase.h"

class ZrPlaceholderEncoder final : public ZrEncoderBase {
public:
    ZrPlaceholderEncoder(IZrEncoderCallback* callback, const char16_t* displayName,
                         const char16_t* extension)
        : ZrEncoderBase(callback), m_displayName(displayName), m_extension(extension) {}

    bool StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) override;
    bool EncodeFile() override;
    ZrString& GetDisplayName(ZrString& out) override { return out = m_displayName; }
    ZrString& GetExtension(ZrString& out) override { return out = m_extension; }
    int32_t GetEstimatedBitrate() override { return 0; }
    int32_t GetConfigurable() override { return 0; }

private:
    const char16_t* m_displayName;
    const char16_t* m_extension;
};
