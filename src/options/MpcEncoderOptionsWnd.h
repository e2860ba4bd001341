// The Musepack encoder's options window.
#pragma once

#include "options/PresetEncoderOptionsWnd.h"

class CMpcEncoderOptionsWnd : public CPresetEncoderOptionsWnd {
public:
    explicit CMpcEncoderOptionsWnd(ZrEncoderBase* encoder);

    int32_t GetWidth() override { return ScaleLength(ZrOptionsWidth::Musepack); }
};
