// A placeholder that names itself and refuses every job with a reason.
#include "frame/ZrEncoderFactory.h"
#include "frame/ZrPlaceholderEncoder.h"

IZrEncoder* CreateMpcEncoder(IZrEncoderCallback* callback) {
    return new ZrPlaceholderEncoder(callback, u"Musepack (MPC)", u"mpc");
}
