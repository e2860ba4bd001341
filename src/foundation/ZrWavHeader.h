// The header of a WAV file: "RIFF" (or "RF64" with its "ds64" chunk), the 16-byte "fmt " record
// and the "data" chunk header. Every WAV header the library writes is laid out here.
#pragma once

#include <cstddef>
#include <cstdint>

struct ZrWavHeaderFields {
    // The "fmt " record, as WAVEFORMATEX holds it.
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    // The 40-byte extensible record instead (tag 0xFFFE, `formatTag` as its sub-format): the
    // speaker mask and the significant bits travel with the samples.
    bool extensible = false;
    uint16_t validBits = 0;
    uint32_t channelMask = 0;
    // The 32-bit chunk sizes (0xFFFFFFFF in RF64 when the real ones are in "ds64").
    uint32_t riffSize = 0;
    uint32_t dataSize = 0;
    // RF64 only: the 64-bit sizes and the frame count of the "ds64" chunk.
    bool rf64 = false;
    uint64_t riffSize64 = 0;
    uint64_t dataSize64 = 0;
    uint64_t sampleCount = 0;
};

inline constexpr size_t ZrWavHeaderBytes = 44;
inline constexpr size_t ZrRf64HeaderBytes = 80;
// What the extensible record adds to either header.
inline constexpr size_t ZrWavExtensibleExtraBytes = 24;
// Where the two 32-bit sizes of the plain header are, for patching at the end.
inline constexpr size_t ZrWavRiffSizeOffset = 4;
inline constexpr size_t ZrWavDataSizeOffset = 40;

// Writes ZrWavHeaderBytes (ZrRf64HeaderBytes when `rf64`, ZrWavExtensibleExtraBytes more when
// `extensible`) at `out` and returns that count.
size_t ZrWriteWavHeader(const ZrWavHeaderFields& fields, uint8_t* out);
