// The MP3 encoder's options: four modes, each with its controls, and the command-line fragment
// they make, rebuilt on every change.
#pragma once

#include "options/ZrEncoderOptionsWnd.h"

#include <array>
#include <span>

class CMp3EncoderOptionsWnd : public ZrEncoderOptionsWnd {
public:
    // Building the window applies the mode check to the encoder's settings.
    explicit CMp3EncoderOptionsWnd(ZrEncoderBase* encoder);

    int32_t GetWidth() override { return ScaleLength(ZrOptionsWidth::Mp3); }
    void CreateControls() override;
    void UpdateControls() override;
    void OnOK() override;

private:
    int32_t SelectedMode() const;
    // A bit-rate list of "%d kbps" items selecting `current`.
    ZrComboBox* AddBitrates(std::span<const int32_t> values, int32_t current);

    // In the order of the modes' values: CBR/ABR, VBR, custom, Go-Go.
    std::array<ZrRadioButton*, 4> m_modes{};
    ZrComboBox* m_quality = nullptr;
    ZrComboBox* m_bitrate = nullptr;
    ZrCheckBox* m_forceCbr = nullptr;
    ZrComboBox* m_speedBitrate = nullptr;
    ZrEditBox* m_commandLine = nullptr;
    int32_t m_storedBitrate = 0;
    int32_t m_storedSpeedBitrate = 0;
    bool m_opened = false; // the controls show the settings; later updates are the user's
};
