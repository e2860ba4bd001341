#include "zrenc/Pcm.h"

#include "foundation/ZrPcm.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace zrenc {

namespace {

// Integer samples travel as 32-bit values aligned to the most significant bit.
template <SourceSample S>
inline int32_t ReadInt(const uint8_t* p) {
    using zrpcm::LoadInt;
    using zrpcm::Sample;
    if constexpr (S == SourceSample::U8) {
        return static_cast<int32_t>(static_cast<uint32_t>(LoadInt<Sample::U8>(p)) << 24);
    } else if constexpr (S == SourceSample::S16) {
        return static_cast<int32_t>(static_cast<uint32_t>(LoadInt<Sample::S16>(p)) << 16);
    } else if constexpr (S == SourceSample::S32) {
        return LoadInt<Sample::S32>(p);
    } else {
        return static_cast<int32_t>(zrbytes::LoadLE64(p) >> 32);
    }
}

template <SourceSample S>
inline float ReadFloat(const uint8_t* p) {
    return static_cast<float>(
        zrpcm::LoadDouble < S == SourceSample::F32 ? zrpcm::Sample::F32 : zrpcm::Sample::F64 > (p));
}

template <SourceSample S>
constexpr bool IsFloatSample = S == SourceSample::F32 || S == SourceSample::F64;

template <SourceSample S>
constexpr size_t SampleBytes = S == SourceSample::U8    ? 1
                               : S == SourceSample::S16 ? 2
                               : S == SourceSample::S32 ? 4
                               : S == SourceSample::F32 ? 4
                                                        : 8;

// Keeps the top `bits` of an MSB-aligned value, rounded to nearest, saturated.
inline int32_t Narrow(int32_t v, int bits) {
    if (bits >= 32)
        return v;
    const int shift = 32 - bits;
    const int64_t rounded = (int64_t{v} + (int64_t{1} << (shift - 1))) >> shift;
    const int64_t top = (int64_t{1} << (bits - 1)) - 1;
    return static_cast<int32_t>(std::min(rounded, top));
}

inline int32_t FloatToInt(float x, int bits) {
    const double scale = std::ldexp(1.0, bits - 1);
    const double v = std::nearbyint(static_cast<double>(x) * scale);
    if (!(v > -scale)) // also catches NaN
        return v < 0 ? static_cast<int32_t>(-scale) : 0;
    return static_cast<int32_t>(std::min(v, scale - 1));
}

inline void WriteInt(uint8_t* out, int32_t v, int bits) {
    switch (bits) {
    case 8:
        out[0] = static_cast<uint8_t>(v + 128);
        break;
    case 16:
        zrbytes::StoreLE16(out, static_cast<uint16_t>(v));
        break;
    case 24:
        zrbytes::StoreLE24(out, static_cast<uint32_t>(v));
        break;
    default:
        zrbytes::StoreLE32(out, static_cast<uint32_t>(v));
        break;
    }
}

// One loop per source type and destination kind; the destination width is a template argument
// so that the inner loop has no branches.
template <SourceSample S, int Bits, bool DestFloat>
void Convert(const uint8_t* const* planes, bool planar, uint16_t channels, size_t frames,
             uint8_t* out, ConversionStats& stats) {
    constexpr size_t in = SampleBytes<S>;
    constexpr size_t outBytes = Bits / 8;
    // Kept in locals so that the loop stays free of stores through a pointer.
    float peak = 0.0f;
    uint64_t clipped = 0, rounded = 0;
    const double scale = std::ldexp(1.0, Bits - 1);
    for (size_t f = 0; f < frames; ++f) {
        for (uint16_t c = 0; c < channels; ++c) {
            const uint8_t* p = planar ? planes[c] + f * in : planes[0] + (f * channels + c) * in;
            if constexpr (DestFloat) {
                float x;
                if constexpr (IsFloatSample<S>)
                    x = ReadFloat<S>(p);
                else
                    x = static_cast<float>(ReadInt<S>(p) * (1.0 / 2147483648.0));
                std::memcpy(out, &x, 4);
            } else if constexpr (IsFloatSample<S>) {
                const float x = ReadFloat<S>(p);
                peak = std::max(peak, std::fabs(x));
                const double v = std::nearbyint(static_cast<double>(x) * scale);
                clipped += v > scale - 1 || v < -scale;
                WriteInt(out, FloatToInt(x, Bits), Bits);
            } else {
                const int32_t v = ReadInt<S>(p);
                if constexpr (Bits < 32)
                    rounded += (static_cast<uint32_t>(v) << Bits) != 0;
                WriteInt(out, Narrow(v, Bits), Bits);
            }
            out += outBytes;
        }
    }
    stats.sourceBits = static_cast<int>(S == SourceSample::S64 ? 64 : in * 8);
    stats.fromFloat = IsFloatSample<S> && !DestFloat;
    stats.peak = std::max(stats.peak, static_cast<double>(peak));
    stats.clipped += clipped;
    stats.rounded += rounded;
    stats.converted += frames * channels;
}

template <SourceSample S>
void ConvertFrom(const uint8_t* const* planes, const SourceLayout& layout, size_t frames,
                 const PcmSpec& dest, uint8_t* out, ConversionStats& stats) {
    const bool planar = layout.planar;
    const uint16_t ch = layout.channels;
    if (dest.isFloat)
        return Convert<S, 32, true>(planes, planar, ch, frames, out, stats);
    switch (dest.bits) {
    case 8:
        return Convert<S, 8, false>(planes, planar, ch, frames, out, stats);
    case 16:
        return Convert<S, 16, false>(planes, planar, ch, frames, out, stats);
    case 24:
        return Convert<S, 24, false>(planes, planar, ch, frames, out, stats);
    default:
        return Convert<S, 32, false>(planes, planar, ch, frames, out, stats);
    }
}

bool SameLayout(const SourceLayout& layout, const PcmSpec& dest) {
    if (layout.planar && layout.channels > 1)
        return false;
    switch (layout.sample) {
    case SourceSample::U8:
        return dest.bits == 8 && !dest.isFloat;
    case SourceSample::S16:
        return dest.bits == 16 && !dest.isFloat;
    case SourceSample::S32:
        return dest.bits == 32 && !dest.isFloat;
    case SourceSample::F32:
        return dest.isFloat;
    default:
        return false;
    }
}

} // namespace

WAVEFORMATEX PcmSpec::ToWaveFormat() const {
    WAVEFORMATEX f{};
    f.wFormatTag = isFloat ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.nBlockAlign = static_cast<uint16_t>(BlockAlign());
    f.nAvgBytesPerSec = BlockAlign() * rate;
    f.wBitsPerSample = bits;
    f.cbSize = 0;
    return f;
}

WAVEFORMATEXTENSIBLE PcmSpec::ToExtensible() const {
    WAVEFORMATEXTENSIBLE f{};
    f.Format = ToWaveFormat();
    f.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    f.Format.cbSize = 22;
    f.Samples.wValidBitsPerSample = bits;
    f.dwChannelMask = channelMask;
    f.SubFormat = isFloat ? KSDATAFORMAT_SUBTYPE_IEEE_FLOAT : KSDATAFORMAT_SUBTYPE_PCM;
    return f;
}

bool PcmSpec::NeedsExtensible() const {
    if (channelMask == 0)
        return false;
    if (channels > 2)
        return true;
    return channelMask !=
           (channels == 1 ? SPEAKER_FRONT_CENTER : SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT);
}

PcmSpec SourceSpec(SourceSample sample, int significantBits, uint16_t channels, uint32_t rate) {
    PcmSpec spec{channels, rate, 16, false};
    switch (sample) {
    case SourceSample::U8:
        spec.bits = 8;
        break;
    case SourceSample::S16:
        spec.bits = 16;
        break;
    case SourceSample::S32:
    case SourceSample::S64:
        // Whole bytes that hold the significant bits: 20 bits travel in 24.
        spec.bits = significantBits > 0 && significantBits < 32
                        ? static_cast<uint16_t>(std::max(8, (significantBits + 7) / 8 * 8))
                        : 32;
        break;
    case SourceSample::F32:
    case SourceSample::F64:
        spec.bits = 32;
        spec.isFloat = true;
        break;
    }
    return spec;
}

PcmSpec NegotiateSpec(const PcmSpec& source, const std::vector<int32_t>& supported) {
    std::vector<int32_t> depths;
    for (int32_t d : supported)
        if (d == 8 || d == 16 || d == 24 || d == 32)
            depths.push_back(d);
    if (depths.empty())
        return source;
    std::sort(depths.begin(), depths.end());
    PcmSpec out = source;
    out.isFloat = false;
    if (source.isFloat) {
        out.bits = static_cast<uint16_t>(depths.back());
        return out;
    }
    const auto wider = std::lower_bound(depths.begin(), depths.end(), int32_t{source.bits});
    out.bits = static_cast<uint16_t>(wider != depths.end() ? *wider : depths.back());
    return out;
}

std::string DescribeConversion(const ConversionStats& stats, const PcmSpec& source,
                               const PcmSpec& dest) {
    if (stats.converted == 0 || dest.isFloat || (source == dest))
        return {};
    const std::string to = " -> " + std::to_string(dest.bits) + "-bit";
    if (stats.fromFloat) {
        char peak[32] = "-inf";
        if (stats.peak > 0)
            std::snprintf(peak, sizeof peak, "%.1f", 20.0 * std::log10(stats.peak));
        const std::string level = std::strcmp(peak, "-0.0") == 0 ? "0.0" : peak;
        return std::to_string(stats.sourceBits) + "-bit float" + to + ", peak " + level +
               " dBFS, " + std::to_string(stats.clipped) + " samples clipped";
    }
    const std::string from = std::to_string(source.bits) + "-bit";
    if (source.bits <= dest.bits)
        return from + to + ", exact";
    if (stats.rounded == 0)
        return from + to + ", exact: low bytes were zero";
    return from + to + ", rounded: " + std::to_string(stats.rounded) + " of " +
           std::to_string(stats.converted) + " samples had signal in the low bytes";
}

void ConvertFrames(const uint8_t* const* planes, const SourceLayout& layout, size_t frames,
                   const PcmSpec& dest, uint8_t* out, ConversionStats* stats) {
    ConversionStats unused;
    ConversionStats& st = stats ? *stats : unused;
    if (SameLayout(layout, dest)) {
        std::memcpy(out, planes[0], frames * dest.BlockAlign());
        return;
    }
    switch (layout.sample) {
    case SourceSample::U8:
        return ConvertFrom<SourceSample::U8>(planes, layout, frames, dest, out, st);
    case SourceSample::S16:
        return ConvertFrom<SourceSample::S16>(planes, layout, frames, dest, out, st);
    case SourceSample::S32:
        return ConvertFrom<SourceSample::S32>(planes, layout, frames, dest, out, st);
    case SourceSample::S64:
        return ConvertFrom<SourceSample::S64>(planes, layout, frames, dest, out, st);
    case SourceSample::F32:
        return ConvertFrom<SourceSample::F32>(planes, layout, frames, dest, out, st);
    case SourceSample::F64:
        return ConvertFrom<SourceSample::F64>(planes, layout, frames, dest, out, st);
    }
}

} // namespace zrenc
