#include "frame/ZrAudioFormat.h"
#include "support/TestSupport.h"

#include <vector>

namespace {

using zrtest::ExtensibleFormat;
using zrtest::PcmFormat;

std::vector<uint32_t> SpeakerIds(const ZrAudioFormat& f) {
    std::vector<uint32_t> ids;
    for (const auto& s : f.Speakers)
        if (s.Present)
            ids.push_back(s.Id);
    return ids;
}

ZrAudioFormat From(const WAVEFORMATEX* record) {
    ZrAudioFormat f;
    f.FromWaveFormat(record);
    return f;
}
ZrAudioFormat From(const WAVEFORMATEXTENSIBLE& record) {
    return From(&record.Format);
}

TEST(AudioFormat, FromPlainRecords) {
    struct Case {
        uint16_t tag, channels, bits;
        uint32_t rate;
        uint16_t expectTag, expectBits, expectValid, expectAlign;
        uint32_t expectBytesPerSec;
        bool pcm;
    } cases[] = {
        {3, 2, 32, 44100, 3, 32, 32, 8, 352800, true}, // float
        {1, 2, 32, 44100, 1, 32, 32, 8, 352800, true}, // 32-bit integer stays integer
        {1, 2, 20, 96000, 1, 24, 20, 6, 576000, true}, // 20 bits in 3-byte containers
        {1, 2, 1, 2822400, 1, 1, 1, 0, 705600, true},  // one-bit: no block align
        {2, 1, 16, 8000, 1, 16, 16, 2, 16000, true},   // unknown tag: integer PCM
        {1, 1, 12, 8000, 1, 16, 12, 2, 16000, true},
        {146, 2, 16, 44100, 146, 16, 16, 4, 176400, false}, // a built tag keeps its tag
    };
    for (const auto& c : cases) {
        const WAVEFORMATEX r = PcmFormat(c.channels, c.rate, c.bits, c.tag);
        const ZrAudioFormat f = From(&r);
        SCOPED_TRACE(testing::Message() << "tag " << c.tag << " bits " << c.bits);
        EXPECT_EQ(f.FormatTag, c.expectTag);
        EXPECT_EQ(f.BitsPerSample, c.expectBits);
        EXPECT_EQ(f.ValidBitsPerSample, c.expectValid);
        EXPECT_EQ(f.BlockAlign, c.expectAlign);
        EXPECT_EQ(f.AvgBytesPerSec, c.expectBytesPerSec);
        EXPECT_EQ(f.IsFloat(), c.tag == 3);
        EXPECT_EQ(f.IsPcmOrFloat(), c.pcm);
    }
    // No record: CD stereo.
    EXPECT_EQ(From(nullptr).ExtensibleRecord().Format.nAvgBytesPerSec, 176400u);
}

TEST(AudioFormat, ExtensibleRecordsAndMakePlain) {
    ZrAudioFormat f = From(ExtensibleFormat(2, 96000, 24, 20, 3, KSDATAFORMAT_SUBTYPE_PCM));
    EXPECT_EQ(f.FormatTag, WAVE_FORMAT_EXTENSIBLE);
    EXPECT_EQ(f.ExtraSize, 22);
    EXPECT_EQ(f.ChannelMask, 3u);
    EXPECT_EQ(f.ValidBitsPerSample, 24); // the record's valid-bits field is not read
    f.MakePlain();
    EXPECT_EQ(f.FormatTag, 1);
    EXPECT_EQ(f.ExtraSize, 0);
    EXPECT_EQ(f.BlockAlign, 6);

    ZrAudioFormat fl = From(ExtensibleFormat(2, 48000, 32, 32, 3, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT));
    EXPECT_TRUE(fl.IsIeeeFloat());
    fl.MakePlain();
    EXPECT_EQ(fl.FormatTag, 3);

    // A mask with fewer set bits than channels is dropped; the table follows the count.
    const ZrAudioFormat odd =
        From(ExtensibleFormat(6, 48000, 16, 16, 0x3, KSDATAFORMAT_SUBTYPE_PCM));
    EXPECT_EQ(odd.ChannelMask, 0u);
    EXPECT_EQ(SpeakerIds(odd), (std::vector<uint32_t>{2, 3, 4, 5, 6, 7}));
}

TEST(AudioFormat, PackWidthInvertsFill) {
    for (uint32_t packed :
         {24u | ZrWidthPad4, 32u | ZrWidthInteger | ZrWidthPad12,
          32u | ZrWidthInteger | ZrWidthPad16 | ZrWidthHostFlag3, 16u | ZrWidthHostFlag4, 32u}) {
        ZrAudioFormat f;
        f.Fill(packed, 44100, 2, 0, false, ZrGuid{}, true);
        EXPECT_EQ(f.PackWidth(), packed) << std::hex << packed;
    }
    // Padding only applies from its minimum width.
    ZrAudioFormat f;
    f.Fill(16 | ZrWidthPad16, 44100, 2, 0, false, ZrGuid{}, true);
    EXPECT_EQ(f.ValidBitsPerSample, 16);
}

TEST(AudioFormat, SpeakerTable) {
    struct Case {
        uint16_t channels;
        uint32_t mask;
        std::vector<uint32_t> ids;
    } cases[] = {
        {1, 0, {1}},
        {3, 0, {2, 3, 5}},
        {4, 0x33, {2, 3, 6, 7}},
        {7, 0x70F, {2, 3, 4, 5, 10, 6, 7}},
        {10, 0, {2, 3, 4, 5, 8, 9, 6, 7, 13, 14}},
        {65, 0, {}},
    };
    for (const auto& c : cases) {
        ZrAudioFormat f;
        f.Fill(16, 48000, c.channels, c.mask, false, ZrGuid{}, true);
        EXPECT_EQ(SpeakerIds(f), c.ids) << c.channels << " channels, mask " << c.mask;
    }
    ZrAudioFormat six;
    six.Fill(16, 48000, 6, 0x3F, false, ZrGuid{}, true);
    EXPECT_EQ(six.Speakers[3].Level, 10.0f); // the low-frequency channel's level
    ZrAudioFormat many;
    many.Fill(16, 48000, 40, 0, false, ZrGuid{}, true);
    EXPECT_EQ(many.Speakers[31].Id, 36u); // the 32nd channel
    EXPECT_EQ(many.Speakers[32].Id, 0u);
    EXPECT_TRUE(many.Speakers[39].Present);
    EXPECT_FALSE(many.Speakers[40].Present);
}

} // namespace
