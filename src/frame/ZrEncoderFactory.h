// The encoder table behind CreateEncoder: one creator per factory index. Each encoder's folder
// defines its creator; the host owns what a creator returns.
#pragma once

#include <cstdint>

#include "tessary/IZrEncoder.h"
#include "tessary/IZrEncoderCallback.h"

IZrEncoder* CreateApeEncoder(IZrEncoderCallback* callback);      // 0 Monkey's Audio
IZrEncoder* CreateOggEncoder(IZrEncoderCallback* callback);      // 1 Ogg Vorbis
IZrEncoder* CreateWavEncoder(IZrEncoderCallback* callback);      // 2 Uncompressed Wave
IZrEncoder* CreateMp3Encoder(IZrEncoderCallback* callback);      // 3 MP3
IZrEncoder* CreateExternalEncoder(IZrEncoderCallback* callback); // 4 External Encoder
IZrEncoder* CreateWmaEncoder(IZrEncoderCallback* callback);      // 5 Windows Media
IZrEncoder* CreateFlacEncoder(IZrEncoderCallback* callback);     // 6 FLAC
IZrEncoder* CreateMpcEncoder(IZrEncoderCallback* callback);      // 7 Musepack
IZrEncoder* CreateWvEncoder(IZrEncoderCallback* callback);       // 8 WavPack
IZrEncoder* CreateAiffEncoder(IZrEncoderCallback* callback);     // 9 AIFF
IZrEncoder* CreateAlacEncoder(IZrEncoderCallback* callback);     // 10 Apple Lossless
IZrEncoder* CreateDsdEncoder(IZrEncoderCallback* callback);      // 11 DSD

inline constexpr int32_t ZrEncoderCount = 12;
