// Until this encoder lands, the factory hands out a placeholder that refuses every job.
#include "frame/ZrEncoderFactory.h"
#include "frame/ZrPlaceholderEncoder.h"

IZrEncoder* CreateAlacEncoder(IZrEncoderCallback* callback) {
    return new ZrPlaceholderEncoder(callback, u"Apple Lossless Audio Codec (ALAC)", u"m4a");
}
