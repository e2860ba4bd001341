// Until this encoder lands, the factory hands out a placeholder that refuses every job.
#include "frame/ZrEncoderFactory.h"
#include "frame/ZrPlaceholderEncoder.h"

IZrEncoder* CreateWvEncoder(IZrEncoderCallback* callback) {
    return new ZrPlaceholderEncoder(callback, u"WavPack", u"wv");
}
