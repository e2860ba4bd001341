// Until this encoder lands, the factory hands out a placeholder that refuses every job.
#include "frame/ZrEncoderFactory.h"
#include "frame/ZrPlaceholderEncoder.h"

IZrEncoder* CreateWavEncoder(IZrEncoderCallback* callback) {
    return new ZrPlaceholderEncoder(callback, u"Uncompressed Wave", u"wav");
}
IZrEncoder* CreateAiffEncoder(IZrEncoderCallback* callback) {
    return new ZrPlaceholderEncoder(callback, u"AIFF Encoder", u"aif");
}
