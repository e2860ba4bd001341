// CApeEncoder as a host drives it: settings, the maximum it gives the compressor, the level it
// passes, and whole encodes through the interface.
#include "codecs/ape/ApeEncoder.h"

#include "codecs/ape/ApeTestSupport.h"
#include "frame/ZrEncoderFactory.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

using namespace apetest;

std::unique_ptr<IZrEncoder> NewEncoder() {
    return std::unique_ptr<IZrEncoder>(CreateApeEncoder(nullptr));
}

struct Encoded {
    bool Started = false;
    bool Finished = false;
    std::vector<uint8_t> File;
};

Encoded EncodeThroughInterface(IZrEncoder& encoder, const fs::path& destination,
                               const WAVEFORMATEX& format, const std::vector<uint8_t>& pcm,
                               int64_t expected) {
    const zrtest::EncodeResult r =
        zrtest::Encode(encoder, destination, {&format, pcm, 65536, expected});
    return {r.Started, r.Finished,
            r.Finished ? zrtest::ReadFile(destination) : std::vector<uint8_t>{}};
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
        ASSERT_TRUE(e.Started && e.Finished) << zrtest::Property(*encoder, u"Last Error");
        const ApeHead head = ReadHead(e.File);
        EXPECT_EQ(head.Level, c.Level);
        EXPECT_EQ(head.SeekTable.size(), c.Slots);
    }
}

TEST(ApeEncoder, WithoutSettingsTheLevelIsZeroAndStartFails) {
    zrtest::TempDir dir;
    auto encoder = NewEncoder();
    const WAVEFORMATEX format = zrtest::PcmFormat(2, 44100, 16);
    const Encoded e = EncodeThroughInterface(*encoder, dir / "out.ape", format, {}, -1);
    EXPECT_FALSE(e.Started);
    EXPECT_FALSE(fs::exists(dir / "out.ape"));
    EXPECT_EQ(zrtest::Property(*encoder, u"Last Error"), "")
        << "the encoder sets no text of its own";
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
