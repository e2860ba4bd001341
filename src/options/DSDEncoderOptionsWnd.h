// The DSD encoder's options: the DSD sample rate.
#pragma once

#include "options/ZrEncoderOptionsWnd.h"

class CDSDEncoderOptionsWnd : public ZrEncoderOptionsWnd {
public:
    using ZrEncoderOptionsWnd::ZrEncoderOptionsWnd;

    void CreateControls() override;
    void OnOK() override;

private:
    ZrComboBox* m_rate = nullptr;
};
