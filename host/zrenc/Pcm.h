// PCM as zrenc hands it to an encoder, and the conversion from a decoder's sample planes.
// Nothing here knows the decoder library: the input decoder maps its formats onto these types.
#pragma once

#include "tessary/WaveFormat.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zrenc {

// Interleaved little-endian PCM: 8-bit unsigned, 16/24/32-bit signed, or 32-bit float.
struct PcmSpec {
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint16_t bits = 0; // container width: 8, 16, 24 or 32
    bool isFloat = false;
    // Speaker positions (SPEAKER_* bits, in channel order); 0 when the source does not say.
    uint32_t channelMask = 0;

    uint32_t BlockAlign() const { return uint32_t{channels} * (bits / 8u); }
    // The plain record (tag 1 or 3) whatever the channel count: several encoders take no other.
    WAVEFORMATEX ToWaveFormat() const;
    // The extensible record with the speaker mask; its first 18 bytes are ToWaveFormat's with
    // the tag 0xFFFE.
    WAVEFORMATEXTENSIBLE ToExtensible() const;
    // True when the plain record would lose the layout: a known mask on more than two channels,
    // or one other than the plain record's own for one or two.
    bool NeedsExtensible() const;
    friend bool operator==(const PcmSpec&, const PcmSpec&) = default;
};

// A decoder's sample types. Integer samples wider than their significant bits are aligned to
// the most significant bit, as decoders deliver them.
enum class SourceSample { U8, S16, S32, S64, F32, F64 };

struct SourceLayout {
    SourceSample sample = SourceSample::S16;
    bool planar = false;
    uint16_t channels = 0;
};

// The source's own delivery format: its depth in whole-byte containers (a 20-bit source in 24
// bits), float for float and double sources. `significantBits` 0 means the full width.
PcmSpec SourceSpec(SourceSample sample, int significantBits, uint16_t channels, uint32_t rate);

// What the encoder gets: the source's format, unless the encoder lists the depths it takes
// (then the source's depth when listed, else the smallest wider one, else the widest; float
// becomes integer). Depths other than 8, 16, 24 and 32 in the list are ignored.
PcmSpec NegotiateSpec(const PcmSpec& source, const std::vector<int32_t>& supported);

// What conversions so far lost: gathered as they run, for the note that says whether they
// were exact.
struct ConversionStats {
    int sourceBits = 0;     // width of the samples converted (64 for double)
    bool fromFloat = false; // float or double to integer
    double peak = 0.0;      // largest float magnitude, 1.0 = full scale
    uint64_t clipped = 0;   // float samples beyond the integer range
    uint64_t rounded = 0;   // integer samples whose dropped low bits were not all zero
    uint64_t converted = 0; // samples that went through a conversion
};
// "32-bit -> 24-bit, exact: low bytes were zero", "32-bit float -> 24-bit, peak -0.3 dBFS,
// 0 samples clipped"; "" when nothing was converted.
std::string DescribeConversion(const ConversionStats& stats, const PcmSpec& source,
                               const PcmSpec& dest);

// Writes `frames` frames from the decoder's planes (one per channel when planar, else one) into
// `out` (frames x BlockAlign bytes) in `dest`'s layout. Narrowing rounds to nearest and
// saturates; float to integer clips at full scale.
// `stats`, when given, gathers what the conversion lost.
void ConvertFrames(const uint8_t* const* planes, const SourceLayout& layout, size_t frames,
                   const PcmSpec& dest, uint8_t* out, ConversionStats* stats = nullptr);

} // namespace zrenc
