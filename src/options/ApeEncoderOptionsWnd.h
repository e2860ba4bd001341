// The Monkey's Audio encoder's options: the compression level.
#pragma once

#include "options/ZrEncoderOptionsWnd.h"

class CApeEncoderOptionsWnd : public ZrEncoderOptionsWnd {
public:
    using ZrEncoderOptionsWnd::ZrEncoderOptionsWnd;

    void CreateControls() override;
    void OnOK() override;

private:
    ZrComboBox* m_level = nullptr;
};
