// The Windows wave-format records, byte for byte, as hosts describe their PCM with them and
// as WAV-family files store them.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)

struct ZrGuid {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];

    friend constexpr bool operator==(const ZrGuid& a, const ZrGuid& b) {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
            return false;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i])
                return false;
        return true;
    }
};

struct WAVEFORMATEX {
    uint16_t wFormatTag;      // WAVE_FORMAT_PCM, WAVE_FORMAT_IEEE_FLOAT, WAVE_FORMAT_EXTENSIBLE ...
    uint16_t nChannels;       // channel count
    uint32_t nSamplesPerSec;  // frames per second
    uint32_t nAvgBytesPerSec; // nBlockAlign x nSamplesPerSec
    uint16_t nBlockAlign;     // bytes per frame
    uint16_t wBitsPerSample;  // container width in bits
    uint16_t cbSize;          // bytes of format data after this record (22 for extensible)
};

struct WAVEFORMATEXTENSIBLE {
    WAVEFORMATEX Format;
    union {
        uint16_t wValidBitsPerSample; // significant bits in each container
        uint16_t wSamplesPerBlock;
        uint16_t wReserved;
    } Samples;
    uint32_t dwChannelMask; // speaker positions, SPEAKER_* bits; 0 when unknown
    ZrGuid SubFormat;       // sample type
};

#pragma pack(pop)

static_assert(sizeof(ZrGuid) == 16);
static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == 40);
static_assert(offsetof(WAVEFORMATEXTENSIBLE, dwChannelMask) == 20);
static_assert(offsetof(WAVEFORMATEXTENSIBLE, SubFormat) == 24);

inline constexpr uint16_t WAVE_FORMAT_PCM = 1;
inline constexpr uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;
inline constexpr uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

// {xxxxxxxx-0000-0010-8000-00AA00389B71}: the sub-format built from a plain format tag.
constexpr ZrGuid ZrSubFormatFromTag(uint32_t tag) {
    return ZrGuid{tag, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

inline constexpr ZrGuid KSDATAFORMAT_SUBTYPE_PCM = ZrSubFormatFromTag(WAVE_FORMAT_PCM);
inline constexpr ZrGuid KSDATAFORMAT_SUBTYPE_IEEE_FLOAT = ZrSubFormatFromTag(WAVE_FORMAT_IEEE_FLOAT);

inline constexpr uint32_t SPEAKER_FRONT_LEFT = 0x1;
inline constexpr uint32_t SPEAKER_FRONT_RIGHT = 0x2;
inline constexpr uint32_t SPEAKER_FRONT_CENTER = 0x4;
inline constexpr uint32_t SPEAKER_LOW_FREQUENCY = 0x8;
inline constexpr uint32_t SPEAKER_BACK_LEFT = 0x10;
inline constexpr uint32_t SPEAKER_BACK_RIGHT = 0x20;
inline constexpr uint32_t SPEAKER_FRONT_LEFT_OF_CENTER = 0x40;
inline constexpr uint32_t SPEAKER_FRONT_RIGHT_OF_CENTER = 0x80;
inline constexpr uint32_t SPEAKER_BACK_CENTER = 0x100;
inline constexpr uint32_t SPEAKER_SIDE_LEFT = 0x200;
inline constexpr uint32_t SPEAKER_SIDE_RIGHT = 0x400;
