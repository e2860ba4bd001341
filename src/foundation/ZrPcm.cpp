#include "foundation/ZrPcm.h"

namespace zrpcm {

namespace {

// The sample's bits at the top of 32, the low bits zero.
template <Sample S>
inline int32_t TopAligned(const uint8_t* p) noexcept {
    if constexpr (S == Sample::U8)
        return static_cast<int32_t>(uint32_t{p[0] ^ 0x80u} << 24);
    else if constexpr (S == Sample::S16)
        return static_cast<int32_t>(uint32_t{zrbytes::LoadLE16(p)} << 16);
    else if constexpr (S == Sample::S24)
        return static_cast<int32_t>(zrbytes::LoadLE24(p) << 8);
    else
        return static_cast<int32_t>(zrbytes::LoadLE32(p));
}

template <Sample S, Align A>
inline int32_t Unpack(const uint8_t* p) noexcept {
    if constexpr (A == Align::Top)
        return TopAligned<S>(p);
    else
        return LoadInt<S>(p);
}

template <Sample S, Align A>
void Interleaved(const uint8_t* in, size_t samples, int32_t* out) {
    constexpr size_t step = Bytes(S);
    for (size_t i = 0; i < samples; ++i, in += step)
        out[i] = Unpack<S, A>(in);
}

template <Sample S, Align A>
void Planar(const uint8_t* in, size_t frames, unsigned channels, int32_t* const* out) {
    constexpr size_t step = Bytes(S);
    const size_t stride = step * channels;
    // Channel by channel: each output array is written in order, which the stores prefer.
    for (unsigned c = 0; c < channels; ++c) {
        int32_t* plane = out[c];
        const uint8_t* p = in + step * c;
        for (size_t f = 0; f < frames; ++f, p += stride)
            plane[f] = Unpack<S, A>(p);
    }
}

template <Sample S>
void Doubles(const uint8_t* in, size_t samples, double* out) {
    constexpr size_t step = Bytes(S);
    for (size_t i = 0; i < samples; ++i, in += step)
        out[i] = LoadDouble<S>(in);
}

// Calls `f` with the integer sample type as a template argument.
template <typename F>
void WithInt(Sample sample, F&& f) {
    switch (sample) {
    case Sample::U8:
        return f.template operator()<Sample::U8>();
    case Sample::S16:
        return f.template operator()<Sample::S16>();
    case Sample::S24:
        return f.template operator()<Sample::S24>();
    case Sample::S32:
        return f.template operator()<Sample::S32>();
    case Sample::F32:
    case Sample::F64:
        return;
    }
}

} // namespace

void ToInt32(const uint8_t* in, size_t samples, Sample sample, int32_t* out, Align align) {
    WithInt(sample, [&]<Sample S>() {
        if (align == Align::Top)
            Interleaved<S, Align::Top>(in, samples, out);
        else
            Interleaved<S, Align::Stored>(in, samples, out);
    });
}

void ToInt32Planar(const uint8_t* in, size_t frames, unsigned channels, Sample sample,
                   int32_t* const* out, Align align) {
    WithInt(sample, [&]<Sample S>() {
        if (align == Align::Top)
            Planar<S, Align::Top>(in, frames, channels, out);
        else
            Planar<S, Align::Stored>(in, frames, channels, out);
    });
}

void ToInt16Planar(const uint8_t* in, size_t frames, unsigned channels, int16_t* const* out) {
    const size_t stride = 2 * size_t{channels};
    for (unsigned c = 0; c < channels; ++c) {
        int16_t* plane = out[c];
        const uint8_t* p = in + 2 * c;
        for (size_t f = 0; f < frames; ++f, p += stride)
            plane[f] = static_cast<int16_t>(LoadInt<Sample::S16>(p));
    }
}

void ToDouble(const uint8_t* in, size_t samples, Sample sample, double* out) {
    switch (sample) {
    case Sample::U8:
        return Doubles<Sample::U8>(in, samples, out);
    case Sample::S16:
        return Doubles<Sample::S16>(in, samples, out);
    case Sample::S24:
        return Doubles<Sample::S24>(in, samples, out);
    case Sample::S32:
        return Doubles<Sample::S32>(in, samples, out);
    case Sample::F32:
        return Doubles<Sample::F32>(in, samples, out);
    case Sample::F64:
        return Doubles<Sample::F64>(in, samples, out);
    }
}

} // namespace zrpcm
