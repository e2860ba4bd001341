// The encoder table behind CreateEncoder: one creator per factory index. Each encoder's folder
// defines its creator; the host owns what a creator returns.
#pragma once

#include "tessary/IZrEncoder.h"
#include "tessary/IZrEncoderCallback.h"

#include <cstdint>

class ZrEncoderBase;

// Factory indices: part of the host contract (the host's settings keep them as "Index").
namespace ZrEncoderIndex {
inline constexpr int32_t Ape = 0;
inline constexpr int32_t Ogg = 1;
inline constexpr int32_t Wav = 2;
inline constexpr int32_t Mp3 = 3;
inline constexpr int32_t External = 4;
inline constexpr int32_t Wma = 5;
inline constexpr int32_t Flac = 6;
inline constexpr int32_t Mpc = 7;
inline constexpr int32_t Wv = 8;
inline constexpr int32_t Aiff = 9;
inline constexpr int32_t Alac = 10;
inline constexpr int32_t Dsd = 11;
} // namespace ZrEncoderIndex

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

// The window table behind every encoder's Options slot, defined by the options library
// (src/options): runs the options window of the encoder at `index` modally on `encoder` and
// returns what that encoder's Options answers; false for an index without a window. Encoders
// call only this, so they know no window, and the windows know only the encoders' settings.
bool ZrShowOptionsWindow(int32_t index, ZrEncoderBase& encoder);
