// CApeEncoder as a host drives it: settings, the maximum it gives the compressor, the level it
// passes, and whole encodes through the interface.
#include "codecs/ape/ApeEncoder.h"

#include "codecs/ape/ApeTestSupport.h"
#include "frame/ZrEncoderFactory.h"
#include "frame/ZrHostLibraries.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

using namespace apetest;

std::unique_ptr<IZrEncoder> NewEncoder() {
    return std::unique_ptr<IZrEncoder>(CreateApeEncoder(nullptr));
}

std::string Property(IZrEncoder& encoder, const char16_t* name) {
    return ZrTakeSysString(encoder.GetProperty(name)).ToUtf8();
}

TEST(ApeEncoder, SettingsKeepOnlyTheOfferedLevels) {
    struct Case {
        const char* Text;
        const char* Stored;
    } cases[] = {
        {"", "Compression=2000"}, // the default
        {"Compression=1000", "Compression=1000"},
        {"Compression=4000", "Compression=4000"},
        {"Compression=5000", "Compression=2000"}, // readable by decoders, but not offered
        {"Compression=2500", "Compression=2000"},
        {"Compression=fast", "Compression=2000"},
        {"compression=3000", "Compression=3000"}, // keys ignore case
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        auto encoder = NewEncoder();
        ASSERT_TRUE(encoder->SetProperty(u"Settings", ZrString::FromUtf8(c.Text).c_str()));
        EXPECT_EQ(Property(*encoder, u"Settings"), c.Stored);
    }
}

TEST(ApeEncoder, MaximumIsTheExpectedSizeTimesOnePointTwo) {
    struct Case {
        int64_t Expected;
        int64_t Max;
    } cases[] = {
        {1000000, 1200000},
        {-1, -1}, // unknown stays unknown
        {0, 0},
        {2, 2}, // 2.4 rounds down
        {3, 4},
        {-3, -4}, // 3.6 rounds up, away from zero below it
        {int64_t{5} << 40, int64_t{6} << 40},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CApeEncoder::MaxAudioBytesFor(c.Expected), c.Max) << c.Expected;
}

struct Encoded {
    bool Started = false;
    bool Finished = false;
    std::vector<uint8_t> File;
};

Encoded EncodeThroughInterface(IZrEncoder& encoder, const fs::path& destination,
                               const WAVEFORMATEX& format, const std::vector<uint8_t>& pcm,
                               int64_t expected) {
    Encoded out;
    encoder.SetProperty(u"Add Output Extension", u"0");
    encoder.SetProperty(u"Destination Filename", zrtest::U(destination).c_str());
    out.Started = encoder.StartBufferBased(&format, expected);
    if (!out.Started)
        return out;
    std::vector<uint8_t> buffer;
    for (size_t at = 0; at < pcm.size(); at += 65536) {
        buffer.assign(pcm.begin() + static_cast<std::ptrdiff_t>(at),
                      pcm.begin() + static_cast<std::ptrdiff_t>(std::min(pcm.size(), at + 65536)));
        if (!encoder.EncodeBuffer(buffer.data(), buffer.size()))
            return out;
    }
    out.Finished = encoder.FinishBufferBased();
    out.File = zrtest::ReadFile(destination);
    return out;
}

TEST(ApeEncoder, EncodesAtTheChosenLevelWithTheSeekTableOfTheExpectedSize) {
    const WAVEFORMATEX format = zrtest::PcmFormat(2, 44100, 16);
    const std::vector<uint8_t> pcm =
        zrtest::MakePcm(zrtest::Signal::Music, 2, 44100, 16, 250000, 5);
    struct Case {
        const char* Settings;
        int Level;
        int64_t Expected;
        size_t Slots;
    } cases[] = {
        // 1,000,000 bytes x 1.2 = 300,000 blocks: five frames of 73728 (four without the 1.2).
        {"Compression=1000", 1000, 1000000, 5},
        {"Compression=2000", 2000, -1, 58255},
        {"Compression=3000", 3000, 0, 58255},
        {"Compression=4000", 4000, 1000000, 2}, // 294912 blocks per frame
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Settings);
        zrtest::TempDir dir;
        auto encoder = NewEncoder();
        encoder->SetProperty(u"Settings", ZrString::FromUtf8(c.Settings).c_str());
        const Encoded e =
            EncodeThroughInterface(*encoder, dir / "out.ape", format, pcm, c.Expected);
        ASSERT_TRUE(e.Started && e.Finished) << Property(*encoder, u"Last Error");
        const ApeHead head = ReadHead(e.File);
        EXPECT_EQ(head.Level, c.Level);
        EXPECT_EQ(head.SeekTable.size(), c.Slots);
        EXPECT_EQ(zrtest::FirstDifference(pcm, DecodeWithFfmpeg(dir / "out.ape", 16, nullptr), 2),
                  "");
    }
}

TEST(ApeEncoder, WithoutSettingsTheLevelIsZeroAndStartFails) {
    zrtest::TempDir dir;
    auto encoder = NewEncoder();
    const WAVEFORMATEX format = zrtest::PcmFormat(2, 44100, 16);
    const Encoded e = EncodeThroughInterface(*encoder, dir / "out.ape", format, {}, -1);
    EXPECT_FALSE(e.Started);
    EXPECT_FALSE(fs::exists(dir / "out.ape"));
    EXPECT_EQ(Property(*encoder, u"Last Error"), "") << "the encoder sets no text of its own";
}

TEST(ApeEncoder, FailuresOfTheCompressorFailTheSlots) {
    zrtest::TempDir dir;
    uint8_t pcm[16] = {};
    auto encoder = NewEncoder();
    encoder->SetProperty(u"Settings", u"");
    EXPECT_FALSE(encoder->EncodeBuffer(pcm, sizeof(pcm))) << "not started";
    EXPECT_FALSE(encoder->FinishBufferBased()) << "not started";
    EXPECT_FALSE(encoder->StartBufferBased(nullptr, -1));

    const WAVEFORMATEX floats = zrtest::PcmFormat(2, 48000, 32, WAVE_FORMAT_IEEE_FLOAT);
    EXPECT_FALSE(EncodeThroughInterface(*encoder, dir / "b.ape", floats, {}, -1).Started);
    EXPECT_FALSE(fs::exists(dir / "b.ape"));
    EXPECT_FALSE(encoder->EncodeBuffer(pcm, sizeof(pcm))) << "after a failed start";

    // A host that delivers more than 1.2 x what it announced.
    const WAVEFORMATEX stereo = zrtest::PcmFormat(2, 44100, 16);
    const std::vector<uint8_t> many(73728 * 4 * 2 + 4, 0x11);
    const Encoded e = EncodeThroughInterface(*encoder, dir / "c.ape", stereo, many, 1000);
    EXPECT_TRUE(e.Started);
    EXPECT_FALSE(e.Finished);
    EXPECT_FALSE(fs::exists(dir / "c.ape"));
}

} // namespace
