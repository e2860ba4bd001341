// The plug-in library's exports.
#include "frame/ZrEncoderFactory.h"

#define ZR_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using Creator = IZrEncoder* (*)(IZrEncoderCallback*);

// Indices are part of the host contract: they are stored in the host's settings as "Index".
constexpr Creator EncoderTable[ZrEncoderCount] = {
    CreateApeEncoder,  CreateOggEncoder, CreateWavEncoder,  CreateMp3Encoder,
    CreateExternalEncoder, CreateWmaEncoder, CreateFlacEncoder, CreateMpcEncoder,
    CreateWvEncoder,   CreateAiffEncoder, CreateAlacEncoder, CreateDsdEncoder,
};

} // namespace

ZR_EXPORT IZrEncoder* CreateEncoder(int32_t index, IZrEncoderCallback* callback) {
    if (index < 0 || index >= ZrEncoderCount)
        return nullptr;
    try {
        return EncoderTable[index](callback);
    } catch (...) {
        return nullptr;
    }
}
