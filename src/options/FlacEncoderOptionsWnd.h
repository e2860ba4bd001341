// The FLAC encoder's options: the compression level and four encoding options.
#pragma once

#include "options/ZrEncoderOptionsWnd.h"

class CFlacEncoderOptionsWnd : public ZrEncoderOptionsWnd {
public:
    using ZrEncoderOptionsWnd::ZrEncoderOptionsWnd;

    int32_t GetWidth() override { return ScaleLength(ZrOptionsWidth::Flac); }
    void CreateControls() override;
    void OnOK() override;

private:
    ZrComboBox* m_level = nullptr;
    ZrCheckBox* m_verify = nullptr;
    ZrCheckBox* m_padding = nullptr;
    ZrCheckBox* m_seekTable = nullptr;
    ZrCheckBox* m_ogg = nullptr;
};
