#include "frame/ZrAudioFormat.h"

#include <bit>
#include <cstring>
#include <initializer_list>

namespace {

constexpr ZrGuid ZeroGuid{};
constexpr uint16_t BuiltTags[] = {146, 7, 80};

uint32_t PaddingOf(uint32_t packed, uint32_t width) {
    if ((packed & ZrWidthPad4) && width >= 8)
        return 4;
    if ((packed & ZrWidthPad8) && width >= 9)
        return 8;
    if ((packed & ZrWidthPad12) && width >= 16)
        return 12;
    if ((packed & ZrWidthPad14) && width >= 16)
        return 14;
    if (packed & ZrWidthPad16)
        return width >= 17 ? 16 : 0;
    return 0;
}

} // namespace

ZrAudioFormat::ZrAudioFormat() {
    std::memset(this, 0, sizeof *this);
    Fill(16, 44100, 2, 0, false, ZeroGuid, true);
}

void ZrAudioFormat::Fill(uint32_t packedWidth, uint32_t sampleRate, uint32_t channels,
                         uint32_t channelMask, bool extensible, const ZrGuid& subFormat,
                         bool fillSpeakers) {
    const uint32_t width = packedWidth & ZrWidthMask;

    // 1. Sample type and the host flags.
    const bool isFloat = !(packedWidth & ZrWidthInteger) &&
                         !(subFormat == KSDATAFORMAT_SUBTYPE_PCM) && (width == 32 || width == 64);
    Flags = isFloat ? (Flags & ~ZrFormatFlagInteger) : (Flags | ZrFormatFlagInteger);
    Flags = (packedWidth & ZrWidthHostFlag3) ? (Flags | ZrFormatFlagHost3)
                                             : (Flags & ~ZrFormatFlagHost3);
    Flags = (packedWidth & ZrWidthHostFlag4) ? (Flags | ZrFormatFlagHost4)
                                             : (Flags & ~ZrFormatFlagHost4);

    // 2. Container width.
    BitsPerSample = static_cast<uint16_t>(width == 1 || width % 8 == 0 ? width : (width + 7) / 8 * 8);
    ExtraSize = extensible ? 22 : 0;

    // 3. Rate, channels and the derived sizes (32-bit arithmetic, as the records hold them).
    SamplesPerSec = sampleRate;
    Channels = static_cast<uint16_t>(channels);
    BlockAlign = static_cast<uint16_t>((BitsPerSample / 8) * Channels);
    if (BlockAlign != 0)
        AvgBytesPerSec = static_cast<uint32_t>(BlockAlign * 8u * sampleRate / 8u);
    else
        AvgBytesPerSec = static_cast<uint32_t>(Channels * uint32_t{BitsPerSample} * sampleRate / 8u);

    // 4. Significant bits.
    ValidBitsPerSample = static_cast<uint16_t>(width - PaddingOf(packedWidth, width));

    // 5. Speakers.
    if (fillSpeakers) {
        ChannelMask = static_cast<uint32_t>(std::popcount(channelMask)) == channels ? channelMask : 0;
        FillSpeakers(channels, ChannelMask);
    }

    // 6. Sub-format.
    if (subFormat == ZeroGuid || subFormat == KSDATAFORMAT_SUBTYPE_PCM ||
        subFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT)
        SubFormat = isFloat ? KSDATAFORMAT_SUBTYPE_IEEE_FLOAT : KSDATAFORMAT_SUBTYPE_PCM;
    else
        SubFormat = subFormat;

    // 7. Tag.
    if (extensible) {
        FormatTag = WAVE_FORMAT_EXTENSIBLE;
    } else if (SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT) {
        FormatTag = WAVE_FORMAT_IEEE_FLOAT;
    } else {
        FormatTag = WAVE_FORMAT_PCM;
        for (uint16_t tag : BuiltTags)
            if (SubFormat == ZrSubFormatFromTag(tag))
                FormatTag = tag;
    }
}

void ZrAudioFormat::FillSpeakers(uint32_t channels, uint32_t mask) {
    std::memset(Speakers, 0, sizeof Speakers);
    auto set = [this](uint32_t index, uint32_t id, float level = 0.0f) {
        Speakers[index].Id = id;
        Speakers[index].Present = 1;
        Speakers[index].Level = level;
    };
    // The low-frequency channel carries the level 10.0 wherever the table lists it, except in
    // the three-channel layout.
    auto list = [&](std::initializer_list<uint32_t> ids, bool lfeLevel = true) {
        uint32_t i = 0;
        for (uint32_t id : ids) {
            set(i, id, id == 5 && lfeLevel ? 10.0f : 0.0f);
            ++i;
        }
    };
    switch (channels) {
    case 0:
        return;
    case 1: list({1}); return;
    case 2: list({2, 3}); return;
    case 3:
        if (mask == 7)
            list({2, 3, 4});
        else
            list({2, 3, 5}, false);
        return;
    case 4:
        if (mask == 15)
            list({2, 3, 4, 5});
        else
            list({2, 3, 6, 7});
        return;
    case 5: list({2, 3, 4, 6, 7}); return;
    case 6: list({2, 3, 4, 5, 6, 7}); return;
    case 7:
        if ((mask & 0x700) != 0x700)
            list({2, 3, 4, 5, 6, 7, 10});
        else
            list({2, 3, 4, 5, 10, 6, 7});
        return;
    default:
        break;
    }
    if (channels > 64)
        return;
    list({2, 3, 4, 5, 8, 9, 6, 7});
    for (uint32_t i = 8; i < channels; ++i)
        set(i, i < 32 ? i + 5 : 0);
}

void ZrAudioFormat::FromWaveFormat(const WAVEFORMATEX* record) {
    if (!record)
        return;
    uint32_t mask = 0;
    ZrGuid subFormat{};
    const bool extensible = record->wFormatTag == WAVE_FORMAT_EXTENSIBLE;
    if (extensible) {
        WAVEFORMATEXTENSIBLE ext;
        std::memcpy(&ext, record, sizeof ext);
        mask = ext.dwChannelMask;
        subFormat = ext.SubFormat;
    } else if (record->wFormatTag == WAVE_FORMAT_PCM) {
        subFormat = KSDATAFORMAT_SUBTYPE_PCM;
    } else if (record->wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
        subFormat = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
    } else {
        for (uint16_t tag : BuiltTags)
            if (record->wFormatTag == tag)
                subFormat = ZrSubFormatFromTag(tag);
    }
    Fill(record->wBitsPerSample, record->nSamplesPerSec, record->nChannels, mask, extensible,
         subFormat, true);
}

uint32_t ZrAudioFormat::PackWidth() const {
    uint32_t packed = BitsPerSample;
    const bool integerPcm = FormatTag == WAVE_FORMAT_PCM ||
                            (FormatTag == WAVE_FORMAT_EXTENSIBLE && SubFormat == KSDATAFORMAT_SUBTYPE_PCM);
    if (BitsPerSample == 32 && (integerPcm || (Flags & ZrFormatFlagInteger)))
        packed |= ZrWidthInteger;
    if (ValidBitsPerSample != 0) {
        const int pad = int{BitsPerSample} - int{ValidBitsPerSample};
        if (pad == 4)
            packed |= ZrWidthPad4;
        else if (pad == 8)
            packed |= ZrWidthPad8;
        else if (pad == 12)
            packed |= ZrWidthPad12;
        else if (pad == 14)
            packed |= ZrWidthPad14;
        else if (pad == 16)
            packed |= ZrWidthPad16;
    }
    if (Flags & ZrFormatFlagHost4)
        packed |= ZrWidthHostFlag4;
    if (Flags & ZrFormatFlagHost3)
        packed |= ZrWidthHostFlag3;
    return packed;
}

void ZrAudioFormat::MakePlain() {
    if (FormatTag != WAVE_FORMAT_EXTENSIBLE)
        return;
    const ZrGuid subFormat = SubFormat;
    Fill(PackWidth(), SamplesPerSec, Channels, ChannelMask, false, subFormat, false);
}

bool ZrAudioFormat::IsIntegerPcm() const {
    return FormatTag == WAVE_FORMAT_PCM ||
           (FormatTag == WAVE_FORMAT_EXTENSIBLE && SubFormat == KSDATAFORMAT_SUBTYPE_PCM);
}

bool ZrAudioFormat::IsIeeeFloat() const {
    return FormatTag == WAVE_FORMAT_IEEE_FLOAT ||
           (FormatTag == WAVE_FORMAT_EXTENSIBLE && SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT);
}

bool ZrAudioFormat::IsPcmOrFloat() const { return IsIntegerPcm() || IsIeeeFloat(); }

WAVEFORMATEXTENSIBLE ZrAudioFormat::ExtensibleRecord() const {
    WAVEFORMATEXTENSIBLE record;
    static_assert(sizeof record == 40);
    std::memcpy(&record, this, sizeof record);
    return record;
}

WAVEFORMATEX ZrAudioFormat::PlainRecord() const {
    WAVEFORMATEX record;
    std::memcpy(&record, this, sizeof record);
    return record;
}
