#include "foundation/ZrPcm.h"

namespace zrpcm {

namespace {

template <Sample S, bool Shifted>
void Interleaved(const uint8_t* in, size_t samples, int32_t* out, unsigned shift) {
    constexpr size_t step = Bytes(S);
    for (size_t i = 0; i < samples; ++i, in += step) {
        const int32_t v = LoadInt<S>(in);
        out[i] = Shifted ? static_cast<int32_t>(static_cast<uint32_t>(v) << shift) : v;
    }
}

template <Sample S, bool Shifted>
void Planar(const uint8_t* in, size_t frames, unsigned channels, int32_t* const* out,
            unsigned shift) {
    constexpr size_t step = Bytes(S);
    const size_t stride = step * channels;
    // Channel by channel: each output array is written in order, which the stores prefer.
    for (unsigned c = 0; c < channels; ++c) {
        int32_t* plane = out[c];
        const uint8_t* p = in + step * c;
        for (size_t f = 0; f < frames; ++f, p += stride) {
            const int32_t v = LoadInt<S>(p);
            plane[f] = Shifted ? static_cast<int32_t>(static_cast<uint32_t>(v) << shift) : v;
        }
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

void ToInt32(const uint8_t* in, size_t samples, Sample sample, int32_t* out, unsigned shift) {
    WithInt(sample, [&]<Sample S>() {
        if (shift)
            Interleaved<S, true>(in, samples, out, shift);
        else
            Interleaved<S, false>(in, samples, out, 0);
    });
}

void ToInt32Planar(const uint8_t* in, size_t frames, unsigned channels, Sample sample,
                   int32_t* const* out, unsigned shift) {
    WithInt(sample, [&]<Sample S>() {
        if (shift)
            Planar<S, true>(in, frames, channels, out, shift);
        else
            Planar<S, false>(in, frames, channels, out, 0);
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
