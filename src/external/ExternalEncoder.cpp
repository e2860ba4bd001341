// A placeholder that names itself and refuses every job with a reason.
#include "frame/ZrEncoderFactory.h"
#include "frame/ZrPlaceholderEncoder.h"

IZrEncoder* CreateExternalEncoder(IZrEncoderCallback* callback) {
    return new ZrPlaceholderEncoder(callback, u"External Encoder", u"");
}
