// The options of the Musepack and Ogg Vorbis encoders: a quality preset ("Normal") or a
// command line of the user's own ("Custom"). Only the control of the chosen mode is enabled.
#pragma once

#include "external/PresetEncoderSettings.h"
#include "options/ZrEncoderOptionsWnd.h"

class CPresetEncoderOptionsWnd : public ZrEncoderOptionsWnd {
public:
    CPresetEncoderOptionsWnd(ZrEncoderBase* encoder, const ZrPresetSettings& settings)
        : ZrEncoderOptionsWnd(encoder), m_settings(settings) {}

    void CreateControls() override;
    void UpdateControls() override;
    void OnOK() override;

private:
    const ZrPresetSettings& m_settings;
    ZrRadioButton* m_normal = nullptr;
    ZrRadioButton* m_custom = nullptr;
    ZrComboBox* m_quality = nullptr;
    ZrEditBox* m_commandLine = nullptr;
};
