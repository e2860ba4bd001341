// The Ogg Vorbis encoder's options window.
#pragma once

#include "options/PresetEncoderOptionsWnd.h"

class COggEncoderOptionsWnd : public CPresetEncoderOptionsWnd {
public:
    explicit COggEncoderOptionsWnd(ZrEncoderBase* encoder);

    int32_t GetWidth() override { return ScaleLength(ZrOptionsWidth::OggVorbis); }
};
