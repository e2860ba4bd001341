// A placeholder that names itself and refuses every job with a reason.
#include "frame/ZrEncoderFactory.h"
#include "frame/ZrPlaceholderEncoder.h"

IZrEncoder* CreateMp3Encoder(IZrEncoderCallback* callback) {
    return new ZrPlaceholderEncoder(callback, u"MP3 Encoder", u"mp3");
}
