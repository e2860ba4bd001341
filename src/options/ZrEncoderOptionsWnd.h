// The frame of every encoder's options window: the encoder's display name as the title, the
// encoder's settings map as what the controls load from and OK writes to.
#pragma once

#include "frame/ZrEncoderBase.h"
#include "options/ZrPopupWnd.h"

// Logical widths of the options windows, before the host's scaling.
namespace ZrOptionsWidth {
inline constexpr int32_t Popup = 400;   // fixed-size popup default, also the WAV/AIFF window
inline constexpr int32_t Encoder = 365; // default: Monkey's Audio, DSD, WavPack
inline constexpr int32_t Flac = 385;
inline constexpr int32_t Mp3 = 385;
inline constexpr int32_t External = 585;
inline constexpr int32_t Musepack = 295;
inline constexpr int32_t OggVorbis = 295;
inline constexpr int32_t WindowsMedia = 340;
} // namespace ZrOptionsWidth

class ZrEncoderOptionsWnd : public ZrFixedSizeOkCancelPopupWnd {
public:
    // The encoder outlives the window.
    explicit ZrEncoderOptionsWnd(ZrEncoderBase* encoder) : m_encoder(encoder) {}

    ZrString GetTitle() override;
    int32_t GetWidth() override { return ScaleLength(ZrOptionsWidth::Encoder); }

    // Runs an options window the way every encoder's Options slot does: modal, then true
    // whichever button closed it.
    template <typename Window>
    static bool Show(ZrEncoderBase* encoder) {
        Window window(encoder);
        window.DoModal();
        return true;
    }

protected:
    ZrEncoderBase* Encoder() const { return m_encoder; }
    ZrPropertyMap& Settings() const { return m_encoder->SettingsMap(); }

private:
    ZrEncoderBase* m_encoder;
};
