// The three helper exports of the format's reference SDK, which the plug-in library exports
// with C linkage for hosts that build WAV headers with them. Records are byte-exact.
#pragma once

#include "tessary/WaveFormat.h"

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)

// A canonical 44-byte WAV header: RIFF, a 16-byte "fmt " chunk and the "data" chunk header.
struct WAVE_HEADER {
    char RiffId[4];       // "RIFF"
    uint32_t RiffBytes;   // file size - 8
    char WaveId[4];       // "WAVE"
    char FormatId[4];     // "fmt "
    uint32_t FormatBytes; // 16
    uint16_t FormatTag;   // the first 16 bytes of the WAVEFORMATEX from here
    uint16_t Channels;
    uint32_t SamplesPerSec;
    uint32_t AvgBytesPerSec;
    uint16_t BlockAlign;
    uint16_t BitsPerSample;
    char DataId[4];     // "data"
    uint32_t DataBytes; // 0xFFFFFFFF when the audio does not fit
};

// The same for RF64 (80 bytes), whose "ds64" chunk carries the 64-bit sizes.
struct RF64_HEADER {
    char RiffId[4];       // "RF64"
    uint32_t RiffBytes;   // 0xFFFFFFFF: see RiffSize
    char WaveId[4];       // "WAVE"
    char Ds64Id[4];       // "ds64"
    int32_t Ds64Bytes;    // 28: RiffSize to TableLength
    int64_t RiffSize;     // file size - 8
    int64_t DataSize;     // audio bytes
    int64_t SampleCount;  // audio blocks
    int32_t TableLength;  // 0
    char FormatId[4];     // "fmt "
    uint32_t FormatBytes; // 16
    uint16_t FormatTag;
    uint16_t Channels;
    uint32_t SamplesPerSec;
    uint32_t AvgBytesPerSec;
    uint16_t BlockAlign;
    uint16_t BitsPerSample;
    char DataId[4];     // "data"
    uint32_t DataBytes; // audio bytes, or 0xFFFFFFFF when they do not fit
};

#pragma pack(pop)

static_assert(sizeof(WAVE_HEADER) == 44);
static_assert(sizeof(RF64_HEADER) == 80);
static_assert(offsetof(RF64_HEADER, RiffSize) == 20 && offsetof(RF64_HEADER, FormatId) == 48);

// Each returns 0, or 5000 (bad parameter) for a null record.
extern "C" {
// Fills a plain PCM-style record: block align = bits / 8 x channels, bytes per second to match.
__attribute__((visibility("default"))) int FillWaveFormatEx(WAVEFORMATEX* waveFormat, int formatTag,
                                                            int sampleRate, int bitsPerSample,
                                                            int channels);
// `audioBytes` of PCM and `terminatingBytes` after it.
__attribute__((visibility("default"))) int FillWaveHeader(WAVE_HEADER* header, int64_t audioBytes,
                                                          WAVEFORMATEX* waveFormat,
                                                          intptr_t terminatingBytes);
__attribute__((visibility("default"))) int FillRF64Header(RF64_HEADER* header, int64_t audioBytes,
                                                          WAVEFORMATEX* waveFormat);
}
