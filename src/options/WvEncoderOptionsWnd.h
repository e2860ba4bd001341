// The WavPack encoder's options: lossless or hybrid, quality, extra processing, and the hybrid
// mode's correction file and target bit rate.
#pragma once

#include "options/ZrEncoderOptionsWnd.h"

class CWvEncoderOptionsWnd : public ZrEncoderOptionsWnd {
public:
    using ZrEncoderOptionsWnd::ZrEncoderOptionsWnd;

    void CreateControls() override;
    void UpdateControls() override;
    void OnOK() override;

private:
    ZrRadioButton* m_lossless = nullptr;
    ZrRadioButton* m_hybrid = nullptr;
    ZrComboBox* m_quality = nullptr;
    ZrComboBox* m_extra = nullptr;
    ZrCheckBox* m_correctionFile = nullptr;
    ZrComboBox* m_bitrate = nullptr;
};
