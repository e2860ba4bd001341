// Interleaved little-endian PCM as WAV files hold it (8-bit unsigned, 16/24/32-bit signed,
// 32/64-bit float, any channel count) unpacked into numbers. The buffer functions choose their loop
// once per call; the per-sample loaders are for loops that do more than unpack.
#pragma once

#include "foundation/ZrByteOrder.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zrpcm {

enum class Sample : uint8_t { U8, S16, S24, S32, F32, F64 };

constexpr unsigned Bytes(Sample s) noexcept {
    switch (s) {
    case Sample::U8:
        return 1;
    case Sample::S16:
        return 2;
    case Sample::S24:
        return 3;
    case Sample::S32:
    case Sample::F32:
        return 4;
    case Sample::F64:
        return 8;
    }
    return 0;
}

constexpr bool IsFloat(Sample s) noexcept {
    return s == Sample::F32 || s == Sample::F64;
}

// The sample type of a container width (8, 16, 24, 32; 32 or 64 for float); false for others.
constexpr bool SampleFor(unsigned bits, bool isFloat, Sample& out) noexcept {
    if (isFloat && (bits == 32 || bits == 64)) {
        out = bits == 32 ? Sample::F32 : Sample::F64;
        return true;
    }
    if (isFloat)
        return false;
    switch (bits) {
    case 8:
        out = Sample::U8;
        return true;
    case 16:
        out = Sample::S16;
        return true;
    case 24:
        out = Sample::S24;
        return true;
    case 32:
        out = Sample::S32;
        return true;
    default:
        return false;
    }
}

// An integer sample's value as stored (8-bit samples centred on 0).
template <Sample S>
inline int32_t LoadInt(const uint8_t* p) noexcept {
    static_assert(!IsFloat(S));
    if constexpr (S == Sample::U8)
        return int32_t{p[0]} - 128;
    else if constexpr (S == Sample::S16)
        return static_cast<int16_t>(zrbytes::LoadLE16(p));
    else if constexpr (S == Sample::S24)
        return static_cast<int32_t>(zrbytes::LoadLE24(p) << 8) >> 8;
    else
        return static_cast<int32_t>(zrbytes::LoadLE32(p));
}

// Any sample at full scale 1.0 (integers divided by 2^(bits-1)); float samples as stored.
template <Sample S>
inline double LoadDouble(const uint8_t* p) noexcept {
    if constexpr (S == Sample::F32) {
        float v;
        std::memcpy(&v, p, 4);
        return v;
    } else if constexpr (S == Sample::F64) {
        double v;
        std::memcpy(&v, p, 8);
        return v;
    } else {
        constexpr double scale = 1.0 / static_cast<double>(uint32_t{1} << (8 * Bytes(S) - 1));
        return LoadInt<S>(p) * scale;
    }
}

// Where an integer sample lands in 32 bits: as stored (sign-extended; 8-bit samples centred on
// 0), or at the top with the low bits zero (a 24-bit sample times 256).
enum class Align : uint8_t { Stored, Top };

// `samples` integer samples to int32.
void ToInt32(const uint8_t* in, size_t samples, Sample sample, int32_t* out,
             Align align = Align::Stored);
// `frames` frames of `channels` integer samples to one int32 array per channel.
void ToInt32Planar(const uint8_t* in, size_t frames, unsigned channels, Sample sample,
                   int32_t* const* out, Align align = Align::Stored);
// 16-bit frames to one int16 array per channel.
void ToInt16Planar(const uint8_t* in, size_t frames, unsigned channels, int16_t* const* out);
// `samples` samples of any type to doubles, as LoadDouble reads them.
void ToDouble(const uint8_t* in, size_t samples, Sample sample, double* out);

} // namespace zrpcm
