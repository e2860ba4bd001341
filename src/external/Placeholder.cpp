// A placeholder that names itself and refuses every job with a reason.
#include "frame/ZrEncoderFactory.h"
#include "frame/ZrPlaceholderEncoder.h"

IZrEncoder* CreateOggEncoder(IZrEncoderCallback* callback) {
    return new ZrPlaceholderEncoder(callback, u"Ogg Vorbis", u"ogg");
}
IZrEncoder* CreateMp3Encoder(IZrEncoderCallback* callback) {
    return new ZrPlaceholderEncoder(callback, u"MP3 Encoder", u"mp3");
}
IZrEncoder* CreateExternalEncoder(IZrEncoderCallback* callback) {
    return new ZrPlaceholderEncoder(callback, u"External Encoder", u"");
}
IZrEncoder* CreateMpcEncoder(IZrEncoderCallback* callback) {
    return new ZrPlaceholderEncoder(callback, u"Musepack (MPC)", u"mpc");
}
