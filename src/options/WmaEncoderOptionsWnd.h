// The Windows Media encoder's options: CBR, VBR or lossless mode with the bit rate of each, and
// the rights-management mark.
#pragma once

#include "options/ZrEncoderOptionsWnd.h"

class CWmaEncoderOptionsWnd : public ZrEncoderOptionsWnd {
public:
    using ZrEncoderOptionsWnd::ZrEncoderOptionsWnd;

    int32_t GetWidth() override { return ScaleLength(ZrOptionsWidth::WindowsMedia); }
    void CreateControls() override;
    void UpdateControls() override;
    void OnOK() override;

private:
    ZrRadioButton* m_modes[3] = {};
    ZrComboBox* m_cbr = nullptr;
    ZrComboBox* m_vbr = nullptr;
    ZrCheckBox* m_security = nullptr;
};
