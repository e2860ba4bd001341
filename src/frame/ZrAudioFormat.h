// The audio format descriptor: an encoder's view of its input.
//
// The first 40 bytes are a WAVEFORMATEXTENSIBLE, normalised: container width rounded up to whole
// bytes (1 stays 1), derived sizes recomputed, sub-format always filled in. They are handed to
// files and codec libraries as they stand (AsWaveFormat). A per-channel speaker table and a flags
// word follow.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tessary/WaveFormat.h"

struct ZrSpeakerEntry {
    uint32_t Id;          // 1 mono, 2 FL, 3 FR, 4 FC, 5 LFE, 6 SL, 7 SR, 8 BL, 9 BR, 10 BC, 13+
    uint8_t Present;      // 1 when the channel exists
    float Level;          // host's level value; 10.0 on the LFE channel
    uint32_t Reserved[4]; // host fields this library leaves at zero
};

// Options of the packed width value that Fill takes.
enum : uint32_t {
    ZrWidthMask = 0xFFFF,
    ZrWidthInteger = 0x10000,    // integer samples even at 32 or 64 bits
    ZrWidthHostFlag3 = 0x20000,  // carried into Flags bit 3
    ZrWidthPad4 = 0x40000,       // 4 low bits carry no signal (width >= 8)
    ZrWidthPad8 = 0x80000,       // (width >= 9)
    ZrWidthPad12 = 0x100000,     // (width >= 16)
    ZrWidthPad14 = 0x200000,     // (width >= 16)
    ZrWidthPad16 = 0x400000,     // 16 bits when width >= 17
    ZrWidthHostFlag4 = 0x800000, // carried into Flags bit 4
};

enum : uint32_t {
    ZrFormatFlagInteger = 4,
    ZrFormatFlagHost3 = 8,
    ZrFormatFlagHost4 = 16,
};

struct ZrAudioFormat {
    uint16_t FormatTag;          // 1 PCM, 3 float, 0xFFFE extensible, or 146, 7, 80
    uint16_t Channels;
    uint32_t SamplesPerSec;
    uint32_t AvgBytesPerSec;
    uint16_t BlockAlign;         // 0 for 1-bit samples
    uint16_t BitsPerSample;      // container width
    uint16_t ExtraSize;          // 22 in extensible form
    uint16_t ValidBitsPerSample; // significant bits
    uint32_t ChannelMask;        // 0 when unknown
    ZrGuid SubFormat;
    ZrSpeakerEntry Speakers[64];
    uint32_t Flags;

    // 16 bits, 44100 Hz, 2 channels, integer PCM: what every encoder starts with.
    ZrAudioFormat();

    void Fill(uint32_t packedWidth, uint32_t sampleRate, uint32_t channels, uint32_t channelMask,
              bool extensible, const ZrGuid& subFormat, bool fillSpeakers);
    // Nothing happens for a null record. A record with tag 0xFFFE is read as extensible.
    void FromWaveFormat(const WAVEFORMATEX* record);
    uint32_t PackWidth() const;
    void MakePlain();
    bool IsPcmOrFloat() const;

    bool IsFloat() const { return !(Flags & ZrFormatFlagInteger); }
    bool IsExtensible() const { return FormatTag == WAVE_FORMAT_EXTENSIBLE; }
    // Integer PCM in plain or extensible form.
    bool IsIntegerPcm() const;
    bool IsIeeeFloat() const;

    // The first 40 bytes as the Windows records (the plain one is their first 18 bytes).
    WAVEFORMATEXTENSIBLE ExtensibleRecord() const;
    WAVEFORMATEX PlainRecord() const;

private:
    void FillSpeakers(uint32_t channels, uint32_t mask);
};

static_assert(offsetof(ZrAudioFormat, ChannelMask) == 20);
static_assert(offsetof(ZrAudioFormat, SubFormat) == 24);
static_assert(offsetof(ZrAudioFormat, Speakers) == 40);
