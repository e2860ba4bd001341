#include "options/OggEncoderOptionsWnd.h"

#include "external/OggSettings.h"

COggEncoderOptionsWnd::COggEncoderOptionsWnd(ZrEncoderBase* encoder)
    : CPresetEncoderOptionsWnd(encoder, OggSettings) {}
