// A plug-in built from the frame alone, exporting the factory the way the real library does.
#include "frame/TestEncoders.h"

extern "C" __attribute__((visibility("default"))) IZrEncoder* CreateEncoder(
    int32_t index, IZrEncoderCallback*) {
    return index == 0 ? new FiveKeyTestEncoder() : nullptr;
}
