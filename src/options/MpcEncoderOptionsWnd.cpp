#include "options/MpcEncoderOptionsWnd.h"

#include "external/MpcSettings.h"

CMpcEncoderOptionsWnd::CMpcEncoderOptionsWnd(ZrEncoderBase* encoder)
    : CPresetEncoderOptionsWnd(encoder, MpcSettings) {}
